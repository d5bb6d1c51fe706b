#include "socketcontrol.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QTcpSocket>

#include <limits>

#include "listener.h"
#include "socketerror.h"

namespace {

// A vanished peer becomes a socket fault after 10 + 5 * 4 = 30 s.
constexpr int KeepAliveIdleSeconds = 10;
constexpr int KeepAliveIntervalSeconds = 5;
constexpr int KeepAliveProbes = 4;

QString dottedAddress(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

[[noreturn]] void throwWrongState(const char *operation, qint16 state)
{
    throw SocketError(SocketError::InvalidOperation,
                      QStringLiteral("Operacja %1 jest niedozwolona w stanie gniazda %2.")
                          .arg(QLatin1String(operation))
                          .arg(state));
}

} // namespace

SocketControl::SocketControl(QObject *parent)
    : QObject(parent)
{
}

SocketControl::~SocketControl()
{
    dropListener();
    dropConnection();
    for (const qintptr descriptor : std::as_const(m_pending))
        NativeSocket::close(descriptor);
}

void SocketControl::Listen()
{
    if (m_state != sckClosed)
        throwWrongState("Listen", m_state);

    auto *listener = new Listener(this);
    if (!listener->listen(QHostAddress::Any, m_localPort)) {
        const auto error = listener->serverError();
        const QString reason = listener->errorString();
        delete listener;
        switch (error) {
        case QAbstractSocket::AddressInUseError:
            throw SocketError(SocketError::AddressInUse,
                              QStringLiteral("Port %1 jest już zajęty przez inny program. "
                                             "Zwolnij go i rozpocznij nasłuch ponownie.")
                                  .arg(m_localPort));
        case QAbstractSocket::SocketAccessError:
            throw SocketError(
                SocketError::PermissionDenied,
                QStringLiteral("Brak uprawnień do nasłuchu na porcie %1.").arg(m_localPort));
        default:
            throw SocketError(SocketError::UnexpectedError,
                              QStringLiteral("Nie można rozpocząć nasłuchu na porcie %1: %2")
                                  .arg(m_localPort)
                                  .arg(reason));
        }
    }
    connect(listener, &Listener::descriptorReady, this, &SocketControl::onDescriptorReady);
    connect(listener, &QTcpServer::acceptError, this, &SocketControl::onListenerError);
    m_listener = listener;
    m_boundPort = listener->serverPort();
    m_state = sckListening;
}

void SocketControl::Close()
{
    dropListener();
    dropConnection();
    m_received.clear();
    m_state = sckClosed;
}

void SocketControl::Accept(qint32 requestID)
{
    if (m_state != sckClosed)
        throwWrongState("Accept", m_state);
    const auto found = m_pending.constFind(requestID);
    if (found == m_pending.cend()) {
        throw SocketError(
            SocketError::InvalidArgument,
            QStringLiteral("Nie ma oczekującego połączenia o numerze %1.").arg(requestID));
    }
    const qintptr descriptor = found.value();
    m_pending.erase(found);

    auto *connection = new QTcpSocket(this);
    connection->setProxy(QNetworkProxy::NoProxy);
    if (!connection->setSocketDescriptor(descriptor)) {
        const QString reason = connection->errorString();
        delete connection;
        NativeSocket::close(descriptor);
        throw SocketError(SocketError::UnexpectedError,
                          QStringLiteral("Nie można przyjąć połączenia: %1").arg(reason));
    }
    // Every press must reach the controller at once, not wait for Nagle's timer.
    connection->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    NativeSocket::enableKeepAlive(descriptor, KeepAliveIdleSeconds, KeepAliveIntervalSeconds,
                                  KeepAliveProbes);
    m_watch = NativeSocket::duplicate(descriptor);

    connect(connection, &QTcpSocket::readyRead, this, &SocketControl::onReadyRead);
    connect(connection, &QTcpSocket::errorOccurred, this, &SocketControl::onConnectionEnded);
    connect(connection, &QTcpSocket::disconnected, this, &SocketControl::onConnectionEnded);
    m_connection = connection;
    m_remoteHostIP = dottedAddress(connection->peerAddress());
    m_received.clear();
    m_state = sckConnected;
}

void SocketControl::SendData(const QString &data)
{
    if (m_state != sckConnected || !m_connection) {
        throw SocketError(SocketError::WrongState,
                          QStringLiteral("Brak połączenia: nie można wysłać danych (stan "
                                         "gniazda %1).")
                              .arg(m_state));
    }
    const QByteArray bytes = data.toLatin1();
    if (m_connection->write(bytes) != bytes.size()) {
        throw SocketError(
            SocketError::UnexpectedError,
            QStringLiteral("Nie można wysłać danych: %1").arg(m_connection->errorString()));
    }
    // Hand the bytes to the kernel now rather than on the next event-loop turn. A peer
    // that stops reading only makes Qt buffer more: this never blocks.
    m_connection->flush();
    // A connection the kernel already knows to be reset fails right here; the frame did
    // not go out, so this must not count as sent.
    if (m_state != sckConnected) {
        throw SocketError(SocketError::ConnectionReset,
                          QStringLiteral("Połączenie ze sterownikiem zostało zerwane podczas "
                                         "wysyłania."));
    }
}

void SocketControl::GetData(QString &data)
{
    data = QString::fromLatin1(m_received);
    m_received.clear();
}

QString SocketControl::LocalIP() const
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
                return address.toString();
        }
    }
    return QStringLiteral("127.0.0.1");
}

QString SocketControl::LocalHostName() const
{
    return QHostInfo::localHostName();
}

qint32 SocketControl::LocalPort() const
{
    return m_localPort != 0 ? m_localPort : m_boundPort;
}

void SocketControl::onDescriptorReady(qintptr descriptor)
{
    const auto requestID = qint32(descriptor);
    m_pending.insert(requestID, descriptor);
    post(RequestEvent {requestID});
}

void SocketControl::onListenerError()
{
    const QString reason = m_listener ? m_listener->errorString() : QString();
    dropListener();
    enterError(SocketError::UnexpectedError, QStringLiteral("Błąd nasłuchu: %1").arg(reason));
}

void SocketControl::onReadyRead()
{
    if (!m_connection)
        return;
    m_received += m_connection->readAll();
    if (!m_received.isEmpty())
        post(DataEvent {});
}

void SocketControl::onConnectionEnded()
{
    if (!m_connection)
        return;
    // Qt may already have closed its descriptor; the watch descriptor still knows why.
    m_received += m_connection->readAll();
    const auto error = m_connection->error();
    const QString reason = m_connection->errorString();
    const NativeSocket::Ending ending = m_watch != NativeSocket::Invalid
        ? NativeSocket::ending(m_watch)
        : NativeSocket::Ending::Unknown;
    dropConnection();
    if (!m_received.isEmpty())
        post(DataEvent {});

    if (error == QAbstractSocket::RemoteHostClosedError && ending != NativeSocket::Ending::Fault) {
        // The controller closed its side: report closed, so the watchdog listens again.
        m_state = sckClosed;
        return;
    }
    if (error == QAbstractSocket::RemoteHostClosedError
        || error == QAbstractSocket::UnknownSocketError) {
        enterError(SocketError::ConnectionReset,
                   QStringLiteral("Połączenie ze sterownikiem zostało zerwane."));
        return;
    }
    if (error == QAbstractSocket::SocketTimeoutError) {
        enterError(SocketError::TimedOut,
                   QStringLiteral("Sterownik przestał odpowiadać (przekroczony czas)."));
        return;
    }
    enterError(SocketError::ConnectionAborted,
               QStringLiteral("Połączenie ze sterownikiem przerwane: %1").arg(reason));
}

void SocketControl::enterError(int number, const QString &description)
{
    m_state = sckError;
    ErrorEvent event;
    event.Number = number;
    event.Description = description;
    event.Scode = number;
    event.Source = objectName();
    post(std::move(event));
}

void SocketControl::dropListener()
{
    if (!m_listener)
        return;
    m_listener->disconnect(this);
    // Close now so the port is free for the next Listen; delete once Qt is done with it.
    m_listener->close();
    m_listener->deleteLater();
    m_listener = nullptr;
}

void SocketControl::dropConnection()
{
    if (m_connection) {
        m_connection->disconnect(this);
        m_connection->abort();
        m_connection->deleteLater();
        m_connection = nullptr;
    }
    NativeSocket::close(m_watch);
    m_watch = NativeSocket::Invalid;
}

void SocketControl::post(Event event)
{
    if (std::holds_alternative<DataEvent>(event)) {
        if (m_dataEventQueued)
            return;
        m_dataEventQueued = true;
    }
    m_events.push_back(std::move(event));
    if (!m_dispatchPosted) {
        m_dispatchPosted = true;
        QMetaObject::invokeMethod(this, &SocketControl::dispatch, Qt::QueuedConnection);
    }
}

void SocketControl::dispatch()
{
    m_dispatchPosted = false;
    // One event per turn of the event loop, like any other window event; the rest wait
    // for the next turn so timers and input interleave with a busy peer.
    if (m_events.empty())
        return;
    Event event = std::move(m_events.front());
    m_events.pop_front();
    if (!m_events.empty()) {
        m_dispatchPosted = true;
        QMetaObject::invokeMethod(this, &SocketControl::dispatch, Qt::QueuedConnection);
    }

    if (auto *request = std::get_if<RequestEvent>(&event)) {
        const qint32 id = request->requestID;
        // A request nobody accepted during its own event is refused when it returns.
        const auto refuseUnaccepted = qScopeGuard([this, id] {
            if (const auto it = m_pending.constFind(id); it != m_pending.cend()) {
                NativeSocket::close(it.value());
                m_pending.erase(it);
            }
        });
        Q_EMIT connectionRequest(id);
    } else if (std::holds_alternative<DataEvent>(event)) {
        m_dataEventQueued = false;
        if (!m_received.isEmpty())
            Q_EMIT dataArrival(
                qint32(qMin<qsizetype>(m_received.size(), std::numeric_limits<qint32>::max())));
    } else if (auto *error = std::get_if<ErrorEvent>(&event)) {
        Q_EMIT errorOccurred(*error);
    }
}
