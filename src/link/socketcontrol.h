#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <variant>

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

    // What the Error event carries; a handler may set CancelDisplay.
    struct ErrorEvent
    {
        qint32 Number = 0;
        QString Description;
        qint32 Scode = 0;
        QString Source;
        QString HelpFile;
        qint32 HelpContext = 0;
        bool CancelDisplay = false;
    };

    static constexpr quint16 DesignLocalPort = 6165;

    explicit SocketControl(QObject *parent = nullptr);
    ~SocketControl() override;

    // Design-time setting; 0 lets the system pick a free port when listening.
    void setLocalPort(quint16 port) { m_localPort = port; }

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

    // Connection requests raised but not accepted yet.
    int pendingRequestCount() const { return int(m_pending.size()); }

Q_SIGNALS:
    void connectionRequest(qint32 requestID);
    void dataArrival(qint32 bytesTotal);
    void errorOccurred(SocketControl::ErrorEvent &event);

private:
    struct RequestEvent
    {
        qint32 requestID;
    };
    struct DataEvent
    {
    };
    using Event = std::variant<RequestEvent, DataEvent, ErrorEvent>;

    void onDescriptorReady(qintptr descriptor);
    void onListenerError();
    void onReadyRead();
    void onConnectionEnded();
    void enterError(int number, const QString &description);
    void dropListener();
    void dropConnection();
    void post(Event event);
    void dispatch();

    quint16 m_localPort = DesignLocalPort;
    quint16 m_boundPort = 0;
    qint16 m_state = sckClosed;
    Listener *m_listener = nullptr;
    QTcpSocket *m_connection = nullptr;
    // Kept open beside Qt's own so the kernel still tells how the connection ended.
    NativeSocket::Descriptor m_watch = NativeSocket::Invalid;
    QHash<qint32, qintptr> m_pending;
    QByteArray m_received;
    QString m_remoteHostIP;
    std::deque<Event> m_events;
    bool m_dataEventQueued = false;
    bool m_dispatchPosted = false;
};
