#include <QNetworkProxy>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

#include "controllerpeer.h"
#include "nativesocket.h"
#include "socketerror.h"
#include "waituntil.h"
#include "winsock.h"

namespace {

// The socket on a system-picked port, with the events it raised and replaceable
// handlers. The default request handler is the panel's: close, then accept.
struct Panel
{
    Winsock socket;
    QList<qint32> requests;
    int dataEvents = 0;
    QList<Winsock::ErrorEvent> errors;
    std::function<void(qint32)> onRequest = [this](qint32 id) {
        if (socket.State() != Winsock::sckClosed)
            socket.Close();
        socket.Accept(id);
    };
    std::function<void()> onData;
    std::function<void()> onError;

    Panel()
    {
        socket.setLocalPort(0);
        QObject::connect(&socket, &Winsock::connectionRequest, &socket, [this](qint32 id) {
            requests.append(id);
            if (onRequest)
                onRequest(id);
        });
        QObject::connect(&socket, &Winsock::dataArrival, &socket, [this](qint32) {
            ++dataEvents;
            if (onData)
                onData();
        });
        QObject::connect(&socket, &Winsock::errorOccurred, &socket,
                         [this](Winsock::ErrorEvent &event) {
                             errors.append(event);
                             if (onError)
                                 onError();
                         });
    }

    quint16 port() const { return quint16(socket.LocalPort()); }

    // Listens and takes one peer's connection.
    bool acceptPeer(ControllerPeer &peer)
    {
        if (socket.State() == Winsock::sckClosed)
            socket.Listen();
        return peer.connectTo(port())
            && waitUntil([this] { return socket.State() == Winsock::sckConnected; });
    }

    QString takeData()
    {
        QString data;
        socket.GetData(data);
        return data;
    }
};

bool waitForDisconnect(ControllerPeer &peer)
{
    return waitUntil([&peer] {
        if (peer.socket().isOpen())
            peer.received();
        return peer.socket().state() == QAbstractSocket::UnconnectedState;
    });
}

// Makes the peer reset the connection: the panel's bytes still sit unread in the peer's
// kernel buffer when it closes, so its kernel answers with RST instead of FIN.
void resetFromPeer(Panel &panel, ControllerPeer &peer)
{
    panel.socket.SendData(QStringLiteral("000000000000000000000000F\r\n"));
    peer.abort();
}

std::optional<int> errorNumberOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const SocketError &e) {
        return e.number();
    }
    return std::nullopt;
}

} // namespace

class WinsockTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void fullCycle();
    void noDescriptorGrowth_data();
    void noDescriptorGrowth();
    void simultaneousRequestsEachRaised();
    void peerActsBeforeAcceptance_data();
    void peerActsBeforeAcceptance();
    void wrongStateFails_data();
    void wrongStateFails();
    void closeOnClosedIsNoOp();
    void portHeldElsewhere();
    void handlerMayReopenSocket_data();
    void handlerMayReopenSocket();
    void remoteHostIP_data();
    void remoteHostIP();
    void applicationProxyIgnored();
    void resetRaisesErrorUntilClose();
    void getDataMapsBytesToCharacters_data();
    void getDataMapsBytesToCharacters();
    void acceptedConnectionOptions();
};

void WinsockTest::init()
{
    // Qt warns where the socket layer misuses it (notifiers, deleted objects, proxies).
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".+")));
}

void WinsockTest::fullCycle()
{
    Panel panel;
    QCOMPARE(panel.socket.State(), Winsock::sckClosed);
    panel.socket.Listen();
    QCOMPARE(panel.socket.State(), Winsock::sckListening);
    QVERIFY(panel.port() != 0);

    ControllerPeer peer;
    QVERIFY(peer.connectTo(panel.port()));
    QVERIFY(waitUntil([&] { return panel.requests.size() == 1; }));
    QCOMPARE(panel.socket.State(), Winsock::sckConnected);
    QCOMPARE(panel.socket.pendingRequestCount(), 0);

    panel.socket.SendData(QStringLiteral("000001000000000000000000F\r\n"));
    QCOMPARE(peer.waitForLine(), QByteArray("000001000000000000000000F"));

    peer.send("STEROWNIK");
    QVERIFY(waitUntil([&] { return panel.dataEvents == 1; }));
    QCOMPARE(panel.takeData(), QStringLiteral("STEROWNIK"));
    QCOMPARE(panel.takeData(), QString());

    peer.close();
    QVERIFY(waitUntil([&] { return panel.socket.State() == Winsock::sckClosed; }));
    QVERIFY(panel.errors.isEmpty());

    panel.socket.Listen();
    ControllerPeer second;
    QVERIFY(panel.acceptPeer(second));
    QCOMPARE(panel.requests.size(), 2);
    second.send("00000001");
    QVERIFY(waitUntil([&] { return panel.dataEvents == 2; }));
    QCOMPARE(panel.takeData(), QStringLiteral("00000001"));
}

// Hundreds of connections, each ending its own way, leave no descriptor behind.
void WinsockTest::noDescriptorGrowth_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("request not accepted") << "unaccepted";
    QTest::newRow("accepted, peer closes") << "close";
    QTest::newRow("accepted, peer resets") << "reset";
}

void WinsockTest::noDescriptorGrowth()
{
    QFETCH(QString, ending);
    constexpr int Cycles = 300;
    const int before = openDescriptorCount();
    if (before < 0)
        QSKIP("This platform does not list open descriptors.");
    {
        Panel panel;
        const bool accept = ending != QLatin1String("unaccepted");
        if (!accept)
            panel.onRequest = nullptr;
        for (int i = 0; i < Cycles; ++i) {
            const QByteArray cycle = QByteArray::number(i);
            if (panel.socket.State() != Winsock::sckListening) {
                panel.socket.Close();
                panel.socket.Listen();
            }
            ControllerPeer peer;
            QVERIFY2(peer.connectTo(panel.port()), cycle);
            QVERIFY2(waitUntil([&] { return panel.requests.size() == i + 1; }), cycle);
            if (!accept) {
                // Refused when its event returned: the peer is told at once.
                QVERIFY2(waitForDisconnect(peer), cycle);
                continue;
            }
            QCOMPARE(panel.socket.State(), Winsock::sckConnected);
            const qint16 expected
                = ending == QLatin1String("close") ? Winsock::sckClosed : Winsock::sckError;
            if (expected == Winsock::sckClosed)
                peer.close();
            else
                resetFromPeer(panel, peer);
            QVERIFY2(waitUntil([&] { return panel.socket.State() == expected; }), cycle);
        }
        QCOMPARE(panel.socket.pendingRequestCount(), 0);
        const int errors = ending == QLatin1String("reset") ? Cycles : 0;
        QVERIFY(waitUntil([&] { return panel.errors.size() == errors; }));
    }
    QTest::qWait(10); // let deferred deletes run
    QCOMPARE(openDescriptorCount(), before);
}

void WinsockTest::simultaneousRequestsEachRaised()
{
    Panel panel;
    panel.onRequest = nullptr;
    panel.socket.Listen();
    ControllerPeer first, second;
    // Both wait in the backlog before the event loop runs again.
    QVERIFY(first.connectTo(panel.port()));
    QVERIFY(second.connectTo(panel.port()));
    QVERIFY(waitUntil([&] { return panel.requests.size() == 2; }));
    QVERIFY(panel.requests[0] != panel.requests[1]);
    QVERIFY(waitForDisconnect(first));
    QVERIFY(waitForDisconnect(second));
    QCOMPARE(panel.socket.pendingRequestCount(), 0);
}

// A controller may announce itself, or even leave, before its request is handled.
void WinsockTest::peerActsBeforeAcceptance_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<bool>("closes");
    QTest::newRow("identifies at once") << QByteArray("STEROWNIK") << false;
    QTest::newRow("identifies and closes at once") << QByteArray("STEROWNIK") << true;
    QTest::newRow("closes at once") << QByteArray() << true;
}

void WinsockTest::peerActsBeforeAcceptance()
{
    QFETCH(QByteArray, sent);
    QFETCH(bool, closes);

    Panel panel;
    QString received;
    panel.onData = [&] {
        received += panel.takeData();
    };
    panel.socket.Listen();
    ControllerPeer peer;
    QVERIFY(peer.connectTo(panel.port()));
    if (!sent.isEmpty())
        peer.send(sent);
    if (closes)
        peer.close();
    QVERIFY(waitUntil([&] { return panel.requests.size() == 1; }));
    const qint16 expected = closes ? Winsock::sckClosed : Winsock::sckConnected;
    QVERIFY(waitUntil(
        [&] { return received == QString::fromLatin1(sent) && panel.socket.State() == expected; }));
    QTest::qWait(20);
    QCOMPARE(panel.socket.State(), expected);
    QCOMPARE(received, QString::fromLatin1(sent));
    QVERIFY(panel.errors.isEmpty());
}

// Each operation runs inside a connection request, so a pending identifier is at hand;
// the socket is first brought into the row's state.
void WinsockTest::wrongStateFails_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("number");

    QTest::newRow("Listen while listening")
        << int(Winsock::sckListening) << "Listen" << int(SocketError::InvalidOperation);
    QTest::newRow("Listen while connected")
        << int(Winsock::sckConnected) << "Listen" << int(SocketError::InvalidOperation);
    QTest::newRow("Accept while listening")
        << int(Winsock::sckListening) << "Accept" << int(SocketError::InvalidOperation);
    QTest::newRow("Accept while connected")
        << int(Winsock::sckConnected) << "Accept" << int(SocketError::InvalidOperation);
    QTest::newRow("Accept unknown id")
        << int(Winsock::sckClosed) << "AcceptUnknown" << int(SocketError::InvalidArgument);
    QTest::newRow("SendData while closed")
        << int(Winsock::sckClosed) << "SendData" << int(SocketError::WrongState);
    QTest::newRow("SendData while listening")
        << int(Winsock::sckListening) << "SendData" << int(SocketError::WrongState);
}

void WinsockTest::wrongStateFails()
{
    QFETCH(int, state);
    QFETCH(QString, operation);
    QFETCH(int, number);

    Panel panel;
    std::optional<int> failure;
    QString description;
    bool ran = false;
    int requestsSeen = 0;
    panel.onRequest = [&](qint32 id) {
        Winsock &s = panel.socket;
        if (state == Winsock::sckConnected && requestsSeen++ == 0) {
            s.Close();
            s.Accept(id);
            return;
        }
        if (state == Winsock::sckClosed)
            s.Close();
        QCOMPARE(int(s.State()), state);
        try {
            if (operation == QLatin1String("Listen"))
                s.Listen();
            else if (operation == QLatin1String("Accept"))
                s.Accept(id);
            else if (operation == QLatin1String("AcceptUnknown"))
                s.Accept(id + 100000);
            else
                s.SendData(QStringLiteral("x"));
        } catch (const SocketError &e) {
            failure = e.number();
            description = e.description();
        }
        QCOMPARE(int(s.State()), state);
        ran = true;
    };
    panel.socket.Listen();
    ControllerPeer first, second;
    QVERIFY(first.connectTo(panel.port()));
    if (state == Winsock::sckConnected)
        QVERIFY(second.connectTo(panel.port()));
    QVERIFY(waitUntil([&] { return ran; }));
    QCOMPARE(failure, std::optional<int>(number));
    QVERIFY(!description.isEmpty());
}

void WinsockTest::closeOnClosedIsNoOp()
{
    Panel panel;
    panel.socket.Close();
    panel.socket.Close();
    QCOMPARE(panel.socket.State(), Winsock::sckClosed);
    QVERIFY(panel.errors.isEmpty());
    panel.socket.Listen();
    QCOMPARE(panel.socket.State(), Winsock::sckListening);
}

void WinsockTest::portHeldElsewhere()
{
    QTcpServer holder;
    holder.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(holder.listen(QHostAddress::Any, 0));

    Panel panel;
    panel.socket.setLocalPort(holder.serverPort());
    QString description;
    const auto number = errorNumberOf([&] {
        try {
            panel.socket.Listen();
        } catch (const SocketError &e) {
            description = e.description();
            throw;
        }
    });
    QCOMPARE(number, std::optional<int>(SocketError::AddressInUse));
    QVERIFY2(description.contains(QString::number(holder.serverPort())), qPrintable(description));
    QCOMPARE(panel.socket.State(), Winsock::sckClosed);

    holder.close();
    panel.socket.Listen();
    QCOMPARE(panel.socket.State(), Winsock::sckListening);
}

void WinsockTest::handlerMayReopenSocket_data()
{
    QTest::addColumn<QString>("event");
    QTest::addColumn<bool>("relisten");
    QTest::newRow("Close in ConnectionRequest") << "request" << false;
    QTest::newRow("Close and Listen in ConnectionRequest") << "request" << true;
    QTest::newRow("Close in DataArrival") << "data" << false;
    QTest::newRow("Close and Listen in DataArrival") << "data" << true;
    QTest::newRow("Close in Error") << "error" << false;
    QTest::newRow("Close and Listen in Error") << "error" << true;
}

void WinsockTest::handlerMayReopenSocket()
{
    QFETCH(QString, event);
    QFETCH(bool, relisten);

    Panel panel;
    bool handled = false;
    auto reopen = [&] {
        panel.socket.Close();
        if (relisten)
            panel.socket.Listen();
        handled = true;
    };
    if (event == QLatin1String("request"))
        panel.onRequest = [&](qint32) {
            reopen();
        };
    else if (event == QLatin1String("data"))
        panel.onData = reopen;
    else
        panel.onError = reopen;

    ControllerPeer peer;
    panel.socket.Listen();
    QVERIFY(peer.connectTo(panel.port()));
    if (event != QLatin1String("request")) {
        QVERIFY(waitUntil([&] { return panel.socket.State() == Winsock::sckConnected; }));
        if (event == QLatin1String("data"))
            peer.send("STEROWNIK");
        else
            resetFromPeer(panel, peer);
    }
    QVERIFY(waitUntil([&] { return handled; }));
    QVERIFY(waitForDisconnect(peer));
    QCOMPARE(panel.socket.State(), relisten ? Winsock::sckListening : Winsock::sckClosed);

    if (relisten) {
        ControllerPeer next;
        QVERIFY(next.connectTo(panel.port()));
        QVERIFY(waitUntil([&] { return panel.requests.size() == 2; }));
    }
}

void WinsockTest::remoteHostIP_data()
{
    QTest::addColumn<QHostAddress>("peerAddress");
    QTest::addColumn<QString>("expected");
    // The listener is dual-stack: the stack reports IPv4 peers as ::ffff:a.b.c.d.
    QTest::newRow("IPv4 peer") << QHostAddress(QHostAddress::LocalHost) << "127.0.0.1";
    QTest::newRow("IPv6 peer") << QHostAddress(QHostAddress::LocalHostIPv6) << "::1";
}

void WinsockTest::remoteHostIP()
{
    QFETCH(QHostAddress, peerAddress);
    QFETCH(QString, expected);

    Panel panel;
    panel.socket.Listen();
    QTcpSocket peer;
    peer.setProxy(QNetworkProxy::NoProxy);
    peer.connectToHost(peerAddress, panel.port());
    if (!peer.waitForConnected(2000)) {
        if (peerAddress.protocol() == QAbstractSocket::IPv6Protocol)
            QSKIP("No IPv6 loopback on this machine.");
        QFAIL("Cannot connect over IPv4 loopback.");
    }
    QVERIFY(waitUntil([&] { return panel.socket.State() == Winsock::sckConnected; }));
    QCOMPARE(panel.socket.RemoteHostIP(), expected);
}

void WinsockTest::applicationProxyIgnored()
{
    const QNetworkProxy previous = QNetworkProxy::applicationProxy();
    const auto restore = qScopeGuard([&] { QNetworkProxy::setApplicationProxy(previous); });
    // Nothing listens there: any use of it would fail.
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"), 1));

    Panel panel;
    ControllerPeer peer;
    QVERIFY(panel.acceptPeer(peer));
    panel.socket.SendData(QStringLiteral("000000000000000000000001E\r\n"));
    QCOMPARE(peer.waitForLine(), QByteArray("000000000000000000000001E"));
    peer.send("STEROWNIK");
    QVERIFY(waitUntil([&] { return panel.dataEvents == 1; }));
    QCOMPARE(panel.takeData(), QStringLiteral("STEROWNIK"));
}

void WinsockTest::resetRaisesErrorUntilClose()
{
    Panel panel;
    ControllerPeer peer;
    QVERIFY(panel.acceptPeer(peer));
    resetFromPeer(panel, peer);

    QVERIFY(waitUntil([&] { return panel.errors.size() == 1; }));
    QCOMPARE(panel.errors[0].Number, qint32(SocketError::ConnectionReset));
    QVERIFY(!panel.errors[0].Description.isEmpty());
    QVERIFY(!panel.errors[0].CancelDisplay);
    QCOMPARE(panel.socket.State(), Winsock::sckError);
    QCOMPARE(panel.socket.RemoteHostIP(), QStringLiteral("127.0.0.1"));

    // The error holds until someone closes it; nothing else may be done meanwhile.
    QTest::qWait(50);
    QCOMPARE(panel.socket.State(), Winsock::sckError);
    QCOMPARE(panel.errors.size(), 1);
    QCOMPARE(errorNumberOf([&] { panel.socket.Listen(); }),
             std::optional<int>(SocketError::InvalidOperation));
    QCOMPARE(errorNumberOf([&] { panel.socket.SendData(QStringLiteral("x")); }),
             std::optional<int>(SocketError::WrongState));

    panel.socket.Close();
    QCOMPARE(panel.socket.State(), Winsock::sckClosed);
    ControllerPeer next;
    QVERIFY(panel.acceptPeer(next));
}

void WinsockTest::getDataMapsBytesToCharacters_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray high;
    for (int b = 0x80; b <= 0xFF; ++b)
        high.append(char(b));
    QTest::newRow("identification") << QByteArray("STEROWNIK");
    QTest::newRow("inputs with CR LF") << QByteArray("10100101\r\n");
    QTest::newRow("NUL inside") << QByteArray("0101\0"
                                              "0101",
                                              9);
    QTest::newRow("bytes 0x80-0xFF") << high;
    QTest::newRow("UTF-8 is not decoded") << QByteArray("\xC5\x82\xC4\x99");
    QTest::newRow("64 KiB") << QByteArray(65536, '1');
}

void WinsockTest::getDataMapsBytesToCharacters()
{
    QFETCH(QByteArray, bytes);
    Panel panel;
    ControllerPeer peer;
    QVERIFY(panel.acceptPeer(peer));

    QString received;
    panel.onData = [&] {
        received += panel.takeData();
    };
    peer.send(bytes);
    QVERIFY(waitUntil([&] { return received.size() >= bytes.size(); }));
    QCOMPARE(received.size(), bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i)
        QCOMPARE(received.at(i).unicode(), char16_t(quint8(bytes.at(i))));
    QCOMPARE(panel.takeData(), QString());
}

// Frames go out at once (no Nagle delay), and a peer that vanishes without closing turns
// into a socket error: the connection probes an idle peer and gives up after
// 10 + 5 * 4 = 30 s, also on unacknowledged data.
void WinsockTest::acceptedConnectionOptions()
{
    Panel panel;
    ControllerPeer peer;
    QVERIFY(panel.acceptPeer(peer));
    QTcpSocket *connection = nullptr;
    for (QTcpSocket *child : panel.socket.findChildren<QTcpSocket *>()) {
        if (child->state() == QAbstractSocket::ConnectedState)
            connection = child;
    }
    QVERIFY(connection);
    QCOMPARE(connection->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);

    const auto keepAlive = NativeSocket::keepAlive(connection->socketDescriptor());
    QVERIFY(keepAlive);
    QVERIFY(keepAlive->enabled);
    QCOMPARE(keepAlive->idleSeconds, 10);
    QCOMPARE(keepAlive->intervalSeconds, 5);
    QCOMPARE(keepAlive->count, 4);
    QCOMPARE(keepAlive->userTimeoutMs, 30000);
}

QTEST_GUILESS_MAIN(WinsockTest)
#include "tst_winsock.moc"
