#include "socketcontrol.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QScopeGuard>
#include <QTcpSocket>

#include <algorithm>
#include <limits>

#include "linklog.h"
#include "listener.h"
#include "logtext.h"
#include "runtimeerror.h"

namespace {

// Enough to name every frame a vanished controller can have missed within its timeout.
constexpr size_t RememberedSends = 16;

QString dottedAddress(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

// An IPv4-mapped IPv6 address (::ffff:a.b.c.d), and a subnet of them, as plain IPv4.
SocketControl::Subnet unmapped(const SocketControl::Subnet &subnet)
{
    const auto &[address, prefix] = subnet;
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (!isIPv4 || address.protocol() == QAbstractSocket::IPv4Protocol || prefix < 96)
        return subnet;
    return {QHostAddress(ipv4), prefix - 96};
}

[[noreturn]] void throwWrongState(const char *operation, qint16 state)
{
    throw RuntimeError(SocketControl::InvalidOperation,
                       QStringLiteral("Operacja %1 jest niedozwolona w stanie gniazda %2.")
                           .arg(QLatin1String(operation))
                           .arg(state));
}

const char *endingText(SocketControl::Ending how)
{
    switch (how) {
    case SocketControl::Ending::ClosedByPeer:
        return "closed by the controller";
    case SocketControl::Ending::Reset:
        return "reset";
    case SocketControl::Ending::TimedOut:
        return "keepalive timeout";
    case SocketControl::Ending::Replaced:
        break;
    }
    return "replaced";
}

} // namespace

SocketControl::Verdict SocketControl::classify(QAbstractSocket::SocketError error,
                                               NativeSocket::Ending ending)
{
    // The kernel's own verdict wins: a probe or a retransmission went unanswered.
    if (ending == NativeSocket::Ending::TimedOut || error == QAbstractSocket::SocketTimeoutError)
        return {Ending::TimedOut, TimedOut};
    // The kernel saw a reset: Qt on Windows may report it as a failed write instead.
    if (ending == NativeSocket::Ending::Fault)
        return {Ending::Reset, ConnectionReset};
    // Qt reports a reset as a remote close, so only the kernel's word makes it clean. When
    // the kernel cannot be asked, an error is the safe reading: a reset taken for a close
    // would hide a lost frame, while a close taken for an error costs one watchdog tick.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return ending == NativeSocket::Ending::Orderly ? Verdict {Ending::ClosedByPeer, 0}
                                                       : Verdict {Ending::Reset, ConnectionReset};
    if (error == QAbstractSocket::UnknownSocketError)
        return {Ending::Reset, ConnectionReset};
    return {Ending::Reset, ConnectionAborted};
}

bool SocketControl::allows(const QList<Subnet> &subnets, const QHostAddress &peer)
{
    if (subnets.isEmpty())
        return true;
    const QHostAddress plain = unmapped({peer, 128}).first;
    return std::any_of(subnets.cbegin(), subnets.cend(), [&](const Subnet &entry) {
        const Subnet subnet = unmapped(entry);
        return plain.isInSubnet(subnet.first, subnet.second);
    });
}

SocketControl::SocketControl(QObject *parent)
    : QObject(parent)
    , m_refusedLines(lcLink, QStringLiteral("refused connections"), HistoryBurst::Detail::Sources)
{
}

SocketControl::~SocketControl()
{
    dropListener();
    dropConnection();
    for (const qintptr descriptor : std::as_const(m_pending))
        NativeSocket::close(descriptor);
}

void SocketControl::setAllowedPeers(const QList<Subnet> &subnets)
{
    m_allowed = subnets;
}

void SocketControl::setDeadPeerTimeouts(int idleSeconds, int unacknowledgedSeconds)
{
    m_idleSeconds = idleSeconds;
    m_unacknowledgedSeconds = unacknowledgedSeconds;
}

void SocketControl::Listen()
{
    if (m_state != sckClosed)
        throwWrongState("Listen", m_state);

    auto *listener = new Listener(this);
    if (!listener->listen(m_listenAddress, m_localPort)) {
        const auto error = listener->serverError();
        const QString reason = listener->errorString();
        delete listener;
        switch (error) {
        case QAbstractSocket::AddressInUseError:
            throw RuntimeError(AddressInUse,
                               QStringLiteral("Port %1 jest już zajęty przez inny program. "
                                              "Zwolnij go i rozpocznij nasłuch ponownie.")
                                   .arg(m_localPort));
        case QAbstractSocket::SocketAccessError:
            throw RuntimeError(
                PermissionDenied,
                QStringLiteral("Brak uprawnień do nasłuchu na porcie %1.").arg(m_localPort));
        default:
            throw RuntimeError(UnexpectedError,
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
    const QString where = m_listenAddress == QHostAddress(QHostAddress::Any)
        ? QStringLiteral("all interfaces")
        : m_listenAddress.toString();
    qCInfo(lcLink).noquote().nospace() << "listening on " << where << ", port " << m_boundPort;
}

void SocketControl::Close()
{
    // Closing a closed socket changes nothing; bytes not yet taken stay queued whatever
    // the state, so the controller's last text still reaches the panel.
    if (m_state == sckConnected)
        endConnection(Ending::Replaced, unacknowledgedSends());
    dropListener();
    dropConnection();
    m_state = sckClosed;
}

void SocketControl::Accept(qint32 requestID)
{
    if (m_state != sckClosed)
        throwWrongState("Accept", m_state);
    const auto found = m_pending.constFind(requestID);
    if (found == m_pending.cend()) {
        throw RuntimeError(
            InvalidArgument,
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
        throw RuntimeError(UnexpectedError,
                           QStringLiteral("Nie można przyjąć połączenia: %1").arg(reason));
    }
    // Every press must reach the controller at once, not wait for Nagle's timer.
    connection->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    NativeSocket::setDeadPeerTimeouts(descriptor, m_idleSeconds, m_unacknowledgedSeconds);
    m_watch = NativeSocket::duplicate(descriptor);

    connect(connection, &QTcpSocket::readyRead, this, &SocketControl::onReadyRead);
    connect(connection, &QTcpSocket::errorOccurred, this, &SocketControl::onConnectionEnded);
    connect(connection, &QTcpSocket::disconnected, this, &SocketControl::onConnectionEnded);
    m_connection = connection;
    ++m_connectionNumber;
    m_sent.clear();
    m_sentBytes = 0;
    m_remoteHostIP = dottedAddress(connection->peerAddress());
    m_state = sckConnected;
    // Strangers refused before this connection are told before it.
    m_refusedLines.summarise();
    qCInfo(lcLink).noquote() << "connection accepted from" << m_remoteHostIP;
}

void SocketControl::SendData(const QString &data)
{
    if (m_state != sckConnected || !m_connection) {
        throw RuntimeError(WrongState,
                           QStringLiteral("Brak połączenia: nie można wysłać danych (stan "
                                          "gniazda %1).")
                               .arg(m_state));
    }
    const QByteArray bytes = data.toLatin1();
    if (m_connection->write(bytes) != bytes.size()) {
        throw RuntimeError(
            UnexpectedError,
            QStringLiteral("Nie można wysłać danych: %1").arg(m_connection->errorString()));
    }
    m_sentBytes += bytes.size();
    m_sent.push_back({m_sentBytes, data});
    if (m_sent.size() > RememberedSends)
        m_sent.pop_front();
    // Hand the bytes to the kernel now rather than on the next event-loop turn. A peer
    // that stops reading only makes Qt buffer more: this never blocks.
    m_connection->flush();
    // A connection the kernel already knows to be reset fails right here; the frame did
    // not go out, so this must not count as sent.
    if (m_state != sckConnected) {
        throw RuntimeError(ConnectionReset,
                           QStringLiteral("Połączenie ze sterownikiem zostało zerwane podczas "
                                          "wysyłania."));
    }
}

void SocketControl::GetData(QString &data)
{
    if (m_unread.empty()) {
        data.clear();
        return;
    }
    data = QString::fromLatin1(m_unread.front().bytes);
    m_unread.pop_front();
    // The next connection's bytes make an arrival of their own.
    if (!m_unread.empty())
        queueDataEvent();
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
    const QHostAddress peer = NativeSocket::peerAddress(descriptor);
    if (!allows(m_allowed, peer)) {
        // Shut out before anything of the panel sees it: the controller's slot stays free.
        NativeSocket::close(descriptor);
        const QString address = dottedAddress(peer);
        m_refusedLines.add(QStringLiteral("refused connection from ") + address, address);
        queue([this, address] { Q_EMIT strangerRefused(address); });
        return;
    }
    const auto requestID = qint32(descriptor);
    m_pending.insert(requestID, descriptor);
    queue([this, requestID] { raiseRequest(requestID); });
}

void SocketControl::onListenerError()
{
    const QString reason = m_listener ? m_listener->errorString() : QString();
    dropListener();
    enterError(UnexpectedError, QStringLiteral("Błąd nasłuchu: %1").arg(reason));
}

void SocketControl::onReadyRead()
{
    if (m_connection)
        keep(m_connection->readAll());
}

void SocketControl::onConnectionEnded()
{
    if (!m_connection)
        return;
    // Qt may already have closed its descriptor; the watch descriptor still knows why.
    keep(m_connection->readAll());
    const auto error = m_connection->error();
    const QString reason = m_connection->errorString();
    const QString unacknowledged = unacknowledgedSends();
    const NativeSocket::Ending ending = m_watch != NativeSocket::Invalid
        ? NativeSocket::ending(m_watch)
        : NativeSocket::Ending::Unknown;
    dropConnection();
    const Verdict verdict = classify(error, ending);
    switch (verdict.number) {
    case 0:
        // The controller closed its side: report closed, so the watchdog listens again.
        m_state = sckClosed;
        break;
    case ConnectionReset:
        enterError(verdict.number, QStringLiteral("Połączenie ze sterownikiem zostało zerwane."));
        break;
    case TimedOut:
        enterError(verdict.number,
                   QStringLiteral("Sterownik przestał odpowiadać (przekroczony czas)."));
        break;
    default:
        enterError(verdict.number,
                   QStringLiteral("Połączenie ze sterownikiem przerwane: %1").arg(reason));
        break;
    }
    endConnection(verdict.how, unacknowledged);
}

void SocketControl::keep(QByteArray bytes)
{
    if (bytes.isEmpty())
        return;
    if (!m_unread.empty() && m_unread.back().connection == m_connectionNumber)
        m_unread.back().bytes += bytes;
    else
        m_unread.push_back({m_connectionNumber, std::move(bytes)});
    queueDataEvent();
}

void SocketControl::endConnection(Ending how, const QString &unacknowledged)
{
    // What Qt has buffered arrived before the end: it is delivered first.
    if (m_connection)
        keep(m_connection->readAll());
    qCInfo(lcLink).noquote() << "connection ended:"
                             << QLatin1String(endingText(how)) + unacknowledged;
    queue([this, how] { Q_EMIT connectionEnded(how); });
}

// "" when the controller acknowledged everything (or the platform cannot tell).
QString SocketControl::unacknowledgedSends() const
{
    const qint64 inQt = m_connection ? m_connection->bytesToWrite() : 0;
    const auto inKernel = m_watch != NativeSocket::Invalid
        ? NativeSocket::unacknowledgedBytes(m_watch)
        : std::nullopt;
    const qint64 missing = inQt + inKernel.value_or(0);
    if (missing <= 0)
        return {};
    const qint64 arrivedUpTo = m_sentBytes - missing;
    QStringList texts;
    if (!m_sent.empty() && m_sent.front().endOffset - m_sent.front().text.size() > arrivedUpTo)
        texts << QStringLiteral("earlier ones");
    for (const Sent &sent : m_sent) {
        if (sent.endOffset > arrivedUpTo)
            texts << u'"' + LogText::escaped(QStringView(sent.text).trimmed()) + u'"';
    }
    return QStringLiteral("; the controller did not acknowledge the last %1 bytes sent, so "
                          "these may not have arrived: %2")
        .arg(missing)
        .arg(texts.join(QStringLiteral(", ")));
}

void SocketControl::enterError(qint32 number, const QString &description)
{
    m_state = sckError;
    queue([this, number, description] { Q_EMIT errorOccurred(number, description); });
}

void SocketControl::dropListener()
{
    if (!m_listener)
        return;
    Listener *listener = std::exchange(m_listener, nullptr);
    listener->disconnect(this);
    // Close now so the port is free for the next Listen; delete once Qt is done with it.
    listener->close();
    listener->deleteLater();
}

void SocketControl::dropConnection()
{
    // Taken out first: aborting emits signals, and nothing may find it half-dropped.
    if (QTcpSocket *connection = std::exchange(m_connection, nullptr)) {
        connection->disconnect(this);
        connection->abort();
        connection->deleteLater();
    }
    NativeSocket::close(std::exchange(m_watch, NativeSocket::Invalid));
}

template<typename Emit>
void SocketControl::queue(Emit emitEvent)
{
    // Qt's posted events keep their order, and die with this object.
    QMetaObject::invokeMethod(this, std::move(emitEvent), Qt::QueuedConnection);
}

void SocketControl::queueDataEvent()
{
    // At most one data event waits; it hands over whatever has arrived by then.
    if (m_dataEventQueued)
        return;
    m_dataEventQueued = true;
    queue([this] { raiseDataArrival(); });
}

void SocketControl::raiseDataArrival()
{
    m_dataEventQueued = false;
    if (m_unread.empty())
        return;
    const qsizetype waiting = m_unread.front().bytes.size();
    Q_EMIT dataArrival(qint32(qMin<qsizetype>(waiting, std::numeric_limits<qint32>::max())));
}

void SocketControl::raiseRequest(qint32 requestID)
{
    // A request nobody accepted during its own event is refused when it returns.
    const auto refuseUnaccepted = qScopeGuard([this, requestID] {
        if (const auto it = m_pending.constFind(requestID); it != m_pending.cend()) {
            NativeSocket::close(it.value());
            m_pending.erase(it);
        }
    });
    Q_EMIT connectionRequest(requestID);
}
