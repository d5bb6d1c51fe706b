#pragma once

#include <QString>

#include <stdexcept>

// A failing operation inside an event handler. Handlers that trap nothing let it travel
// to the event-dispatch boundary, which reports it to the operator.
class RuntimeError : public std::runtime_error
{
public:
    RuntimeError(int number, const QString &description);

    int number() const { return m_number; }
    QString description() const { return m_description; }

private:
    int m_number;
    QString m_description;
};

// Raised where a text that must be a number holds something else.
class TypeMismatchError : public RuntimeError
{
public:
    static constexpr int Number = 13;
    explicit TypeMismatchError(const QString &detail);
};
