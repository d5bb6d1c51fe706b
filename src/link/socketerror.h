#pragma once

#include <QString>

#include <stdexcept>

// A socket operation that failed, with the control's error number and a description
// the operator can act on.
class SocketError : public std::runtime_error
{
public:
    // The control's error numbers; the socket layer's own faults keep their
    // conventional numbers so integrators can look them up.
    enum Number : int {
        PermissionDenied = 10013,
        AddressInUse = 10048,
        NetworkDown = 10050,
        ConnectionAborted = 10053,
        ConnectionReset = 10054,
        TimedOut = 10060,
        WrongState = 40006,
        InvalidOperation = 40020,
        InvalidArgument = 40018,
        UnexpectedError = 40028,
    };

    SocketError(int number, const QString &description);

    int number() const { return m_number; }
    QString description() const { return m_description; }

private:
    int m_number;
    QString m_description;
};
