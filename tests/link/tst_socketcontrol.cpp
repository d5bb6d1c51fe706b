#include <QNetworkProxy>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>

#include <functional>

#include "controllerpeer.h"
#include "nativesocket.h"
#include "socketerror.h"
#include "socketcontrol.h"

namespace {

const QString Frame = QStringLiteral("000001000000000000000000F\r\n");
constexpr int InvalidOperation = SocketError::InvalidOperation;

// The socket with what it raised, handling events as the panel does: a request is taken
// (close, then accept) unless acceptRequests is off, data is collected.
struct Panel : SocketControl
{
    QList<qint32> requests;
    QList<ErrorEvent> errors;
    QString data;
    bool acceptRequests = true;

    explicit Panel(quint16 port = 0)
    {
        setLocalPort(port);
        connect(this, &SocketControl::connectionRequest, this, [this](qint32 id) {
            requests.append(id);
            if (acceptRequests) {
                Close();
                Accept(id);
            }
        });
        connect(this, &SocketControl::dataArrival, this, [this] { data += read(); });
        connect(this, &SocketControl::errorOccurred, this, [this](ErrorEvent &e) { errors.append(e); });
    }
    quint16 port() const { return quint16(LocalPort()); }
    bool reaches(qint16 state)
    {
        return waitUntil([&] { return State() == state; });
    }
    QString read()
    {
        QString taken;
        GetData(taken);
        return taken;
    }
    // The frame still sits unread in the peer's buffer when it closes, so its kernel
    // answers with RST instead of FIN.
    void resetBy(ControllerPeer &peer)
    {
        SendData(Frame);
        peer.abort();
    }
};

// How an operation failed; number 0 when it did not.
SocketError fails(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const SocketError &e) {
        return e;
    }
    return {0, {}};
}

} // namespace

class SocketControlTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Qt warns where the socket layer misuses it (notifiers, deleted objects, proxies).
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".+"))); }
    void fullCycle();
    void noDescriptorGrowth_data();
    void noDescriptorGrowth();
    void handlerMayReopenSocket_data();
    void handlerMayReopenSocket();
};

void SocketControlTest::fullCycle()
{
    // A port another program holds: a clear refusal, then it works once freed.
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    // An application-wide proxy that nothing serves: a socket that used it would fail.
    const QNetworkProxy previous = QNetworkProxy::applicationProxy();
    const auto restore = qScopeGuard([&] { QNetworkProxy::setApplicationProxy(previous); });
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"), 1));

    Panel panel(holder.serverPort());
    const SocketError held = fails([&] { panel.Listen(); });
    QCOMPARE(held.number(), int(SocketError::AddressInUse));
    QVERIFY2(held.description().contains(QString::number(panel.port())), held.what());
    holder.close();

    // Wrong states fail, and the state is checked before the request number.
    QCOMPARE(fails([&] { panel.SendData(Frame); }).number(), int(SocketError::WrongState));
    QCOMPARE(fails([&] { panel.Accept(12345); }).number(), int(SocketError::InvalidArgument));
    panel.Listen();
    QCOMPARE(fails([&] { panel.Listen(); }).number(), InvalidOperation);
    QCOMPARE(fails([&] { panel.Accept(12345); }).number(), InvalidOperation);
    ControllerPeer peer, second, third;
    QVERIFY(peer.connectTo(panel.port()) && panel.reaches(SocketControl::sckConnected));
    // The listener is dual-stack, yet an IPv4 peer reads as a dotted address.
    QCOMPARE(panel.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QCOMPARE(fails([&] { panel.Listen(); }).number(), InvalidOperation);
    QCOMPARE(fails([&] { panel.Accept(12345); }).number(), InvalidOperation);

    // Frames leave at once (no Nagle delay); a peer that vanishes without closing is
    // probed and given up after 10 + 5 * 4 = 30 s, also with data unacknowledged.
    auto *connection = panel.findChild<QTcpSocket *>();
    QVERIFY(connection);
    QCOMPARE(connection->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
    const auto keepAlive = NativeSocket::keepAlive(connection->socketDescriptor());
#ifdef Q_OS_WIN
    // Every Windows that Qt 6 runs on reads the settings back; Wine cannot.
    if (!keepAlive)
        QEXPECT_FAIL("", "Wine: the keepalive settings cannot be read back", Continue);
#endif
    QVERIFY(keepAlive && keepAlive->enabled);
    if (keepAlive) {
        QCOMPARE((QList<int> {keepAlive->idleSeconds, keepAlive->intervalSeconds,
                              keepAlive->count, keepAlive->userTimeoutMs}),
                 (QList<int> {10, 5, 4, 30000}));
    }

    // Both ways: a frame out; every byte value in (NUL, CR LF, 0x80-0xFF), one character
    // of the same code each, not decoded; then the buffer is empty.
    panel.SendData(Frame);
    QCOMPARE(peer.waitForLine(), Frame.trimmed().toLatin1());
    QByteArray bytes;
    for (int i = 0; i < 65536; ++i)
        bytes.append(char(i % 256));
    peer.send(bytes);
    QVERIFY(waitUntil([&] { return panel.data.size() >= bytes.size(); }));
    QVERIFY(panel.data == QString::fromLatin1(bytes));
    QCOMPARE(panel.read(), QString());

    peer.close();
    QVERIFY(panel.reaches(SocketControl::sckClosed));

    // Listening again; this controller speaks and leaves before its request is handled.
    panel.Listen();
    QVERIFY(second.connectTo(panel.port()));
    second.send("STEROWNIK");
    second.close();
    QVERIFY(waitUntil([&] { return panel.data.endsWith(QLatin1String("STEROWNIK")); }));
    QVERIFY(panel.reaches(SocketControl::sckClosed));
    QVERIFY(panel.errors.isEmpty());

    // A reset is an error that holds until closed; nothing else may be done meanwhile.
    panel.Listen();
    QVERIFY(third.connectTo(panel.port()) && panel.reaches(SocketControl::sckConnected));
    panel.resetBy(third);
    // The kernel already holds the reset: a frame sent now is lost and must say so.
    QCOMPARE(fails([&] { panel.SendData(Frame); }).number(), int(SocketError::ConnectionReset));
    QVERIFY(waitUntil([&] { return panel.errors.size() == 1; }));
    QCOMPARE(panel.errors[0].Number, qint32(SocketError::ConnectionReset));
    QTest::qWait(50);
    QCOMPARE(panel.State(), SocketControl::sckError);
    QCOMPARE(panel.errors.size(), 1);
    QCOMPARE(fails([&] { panel.Listen(); }).number(), InvalidOperation);
    QCOMPARE(fails([&] { panel.SendData(Frame); }).number(), int(SocketError::WrongState));
    panel.Close();
    QCOMPARE(panel.State(), SocketControl::sckClosed);
}

// Hundreds of connections, each ending its own way, leave no descriptor behind.
void SocketControlTest::noDescriptorGrowth_data()
{
    QTest::addColumn<int>("endState");
    QTest::newRow("request not accepted") << -1;
    QTest::newRow("accepted, peer closes") << int(SocketControl::sckClosed);
    QTest::newRow("accepted, peer resets") << int(SocketControl::sckError);
}

void SocketControlTest::noDescriptorGrowth()
{
    QFETCH(int, endState);
    constexpr int Cycles = 300;
    const int before = openDescriptorCount();
    {
        Panel panel;
        panel.acceptRequests = endState >= 0; // else refused when its event returns
        for (int i = 0; i < Cycles; ++i) {
            panel.Close();
            panel.Listen();
            ControllerPeer peer;
            QVERIFY(peer.connectTo(panel.port()));
            QVERIFY(waitUntil([&] { return panel.requests.size() == i + 1; }));
            if (endState >= 0) // accepted: the peer ends it
                endState == SocketControl::sckClosed ? peer.close() : panel.resetBy(peer);
            QVERIFY(endState < 0 ? peer.waitForDisconnect() : panel.reaches(qint16(endState)));
        }
        QCOMPARE(panel.pendingRequestCount(), 0);
        const int errors = endState == SocketControl::sckError ? Cycles : 0;
        QVERIFY(waitUntil([&] { return panel.errors.size() == errors; }));
    }
    QTest::qWait(10); // let deferred deletes run
    QCOMPARE(openDescriptorCount(), before);
}

// Each handler closes and listens again inside its own event.
void SocketControlTest::handlerMayReopenSocket_data()
{
    QTest::addColumn<int>("event");
    QTest::newRow("ConnectionRequest") << 0;
    QTest::newRow("DataArrival") << 1;
    QTest::newRow("Error") << 2;
}

void SocketControlTest::handlerMayReopenSocket()
{
    QFETCH(int, event);
    Panel panel;
    panel.acceptRequests = event != 0;
    int handled = 0;
    const auto reopenIn = [&](int raised) {
        if (raised != event)
            return;
        panel.Close();
        panel.Listen();
        ++handled;
    };
    connect(&panel, &SocketControl::connectionRequest, &panel, [&] { reopenIn(0); });
    connect(&panel, &SocketControl::dataArrival, &panel, [&] { reopenIn(1); });
    connect(&panel, &SocketControl::errorOccurred, &panel, [&] { reopenIn(2); });
    ControllerPeer peer, next;
    panel.Listen();
    QVERIFY(peer.connectTo(panel.port()));
    if (event > 0) {
        QVERIFY(panel.reaches(SocketControl::sckConnected));
        event == 2 ? panel.resetBy(peer) : peer.send("STEROWNIK");
    }
    QVERIFY(waitUntil([&] { return handled == 1; }) && peer.waitForDisconnect());
    QVERIFY(next.connectTo(panel.port()));
    QVERIFY(waitUntil([&] { return panel.requests.size() == 2; }));
}

QTEST_GUILESS_MAIN(SocketControlTest)
#include "tst_socketcontrol.moc"
