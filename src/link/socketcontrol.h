#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <utility>

#include "historyburst.h"
#include "nativesocket.h"

class Listener;
class QTcpSocket;

// The panel's one TCP endpoint: it listens, then carries the accepted connection.
// Its events are raised from a queued call, never from inside Qt's socket callbacks, so
// a handler may close or reopen this very socket.
class SocketControl : public QObject
{
    Q_OBJECT

public:
    // State codes. The panel acts on these four; no other is reported.
    enum StateCode : qint16 {
        sckClosed = 0,
        sckListening = 2,
        sckConnected = 7,
        sckError = 9,
    };
    Q_ENUM(StateCode)

    // The control's error numbers; the socket layer's own faults keep their conventional
    // numbers so integrators can look them up.
    enum ErrorNumber : qint32 {
        PermissionDenied = 10013,
        AddressInUse = 10048,
        ConnectionAborted = 10053,
        ConnectionReset = 10054,
        TimedOut = 10060,
        WrongState = 40006,
        InvalidArgument = 40018,
        InvalidOperation = 40020,
        UnexpectedError = 40028,
    };
    Q_ENUM(ErrorNumber)

    // How a connection ended. Replaced: Close() on a connected socket, so this side ended it.
    enum class Ending { ClosedByPeer, Reset, TimedOut, Replaced };
    Q_ENUM(Ending)

    // What the control makes of a connection's end; number 0 is a clean close, anything
    // else enters the error state and raises Error with that number.
    struct Verdict
    {
        Ending how;
        qint32 number;
        friend bool operator==(const Verdict &, const Verdict &) = default;
    };
    static Verdict classify(QAbstractSocket::SocketError error, NativeSocket::Ending ending);

    // An address and its prefix length.
    using Subnet = std::pair<QHostAddress, int>;
    // An empty list lets anyone in; an IPv4-mapped IPv6 peer matches its IPv4 entry.
    static bool allows(const QList<Subnet> &subnets, const QHostAddress &peer);

    static constexpr quint16 DesignLocalPort = 6165;

    // The integrator's settings, taking effect at the next Listen or Accept.
    struct Settings
    {
        QHostAddress listenAddress = QHostAddress::Any;
        // Empty: anyone may connect.
        QList<Subnet> allowedPeers;
        int idleSeconds = 10;
        int unacknowledgedSeconds = 5;
    };

    explicit SocketControl(QObject *parent = nullptr);
    ~SocketControl() override;

    // Design-time setting; 0 lets the system pick a free port when listening.
    void setLocalPort(quint16 port) { m_localPort = port; }
    // Integrator's settings, taking effect at the next Listen or Accept.
    void setListenAddress(const QHostAddress &address) { m_listenAddress = address; }
    void setAllowedPeers(const QList<Subnet> &subnets);
    void setDeadPeerTimeouts(int idleSeconds, int unacknowledgedSeconds);

    qint16 State() const { return m_state; }
    void Listen();
    void Close();
    void Accept(qint32 requestID);
    void SendData(const QString &data);
    void GetData(QString &data);

    QString LocalIP() const;
    QString LocalHostName() const;
    qint32 LocalPort() const;
    QString RemoteHostIP() const { return m_remoteHostIP; }

Q_SIGNALS:
    void connectionRequest(qint32 requestID);
    void dataArrival(qint32 bytesTotal);
    void errorOccurred(qint32 number, const QString &description);
    // After every data event of that connection.
    void connectionEnded(SocketControl::Ending how);
    void strangerRefused(const QString &address);

private:
    // Bytes received and not yet taken, one entry per connection, oldest first: a later
    // connection's bytes never join an earlier one's arrival.
    struct Unread
    {
        quint64 connection;
        QByteArray bytes;
    };

    void onDescriptorReady(qintptr descriptor);
    void onListenerError();
    void onReadyRead();
    void onConnectionEnded();
    void keep(QByteArray bytes);
    void endConnection(Ending how, const QString &unacknowledged);
    QString unacknowledgedSends() const;
    void enterError(qint32 number, const QString &description);
    void dropListener();
    void dropConnection();
    void queueDataEvent();
    void raiseDataArrival();
    void raiseRequest(qint32 requestID);
    template<typename Emit>
    void queue(Emit emitEvent);

    quint16 m_localPort = DesignLocalPort;
    quint16 m_boundPort = 0;
    QHostAddress m_listenAddress {QHostAddress::Any};
    QList<Subnet> m_allowed;
    int m_idleSeconds = 10;
    int m_unacknowledgedSeconds = 5;
    qint16 m_state = sckClosed;
    Listener *m_listener = nullptr;
    QTcpSocket *m_connection = nullptr;
    quint64 m_connectionNumber = 0;
    // Kept open beside Qt's own so the kernel still tells how the connection ended.
    NativeSocket::Descriptor m_watch = NativeSocket::Invalid;
    QHash<qint32, qintptr> m_pending;
    std::deque<Unread> m_unread;
    QString m_remoteHostIP;
    bool m_dataEventQueued = false;
    // The last texts sent on this connection, each with the byte count sent up to its end,
    // so that an ending can name what the controller may never have had.
    struct Sent
    {
        qint64 endOffset;
        QString text;
    };
    std::deque<Sent> m_sent;
    qint64 m_sentBytes = 0;
    // A storm of strangers must not wash the history away.
    HistoryBurst m_refusedLines;
};
