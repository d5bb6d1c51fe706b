#include <QNetworkProxy>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <functional>

#include "controllerpeer.h"
#include "nativesocket.h"
#include "runtimeerror.h"
#include "socketcontrol.h"

namespace {

using Ending = SocketControl::Ending;
const QString Frame = QStringLiteral("000001000000000000000000F\r\n");
constexpr int InvalidOperation = SocketControl::InvalidOperation;

// The socket with what it raised, in order, handling events as the panel does: a request
// is taken (close, then accept) unless acceptRequests is off, data is collected.
struct Panel : SocketControl
{
    QList<qint32> requests;
    QList<qint32> errors;
    QList<Ending> endings;
    QStringList strangers;
    QStringList arrivals;
    QString data;
    QStringList events; // "data:<text>", "error", "ended", in the order raised
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
        connect(this, &SocketControl::dataArrival, this, [this] {
            arrivals.append(read());
            data += arrivals.constLast();
            events.append(QLatin1String("data:") + arrivals.constLast());
        });
        connect(this, &SocketControl::errorOccurred, this, [this](qint32 number) {
            errors.append(number);
            events.append(QStringLiteral("error"));
        });
        connect(this, &SocketControl::connectionEnded, this, [this](Ending how) {
            endings.append(how);
            events.append(QStringLiteral("ended"));
        });
        connect(this, &SocketControl::strangerRefused, this,
                [this](const QString &address) { strangers.append(address); });
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
RuntimeError fails(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const RuntimeError &e) {
        return e;
    }
    return {0, {}};
}

// A peer from another loopback address, as a second host on the plant network.
bool connectFrom(QTcpSocket &socket, const char *address, quint16 port)
{
    socket.setProxy(QNetworkProxy::NoProxy);
    if (!socket.bind(QHostAddress(QLatin1String(address))))
        return false;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(5000);
}

} // namespace

class SocketControlTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Qt warns where the socket layer misuses it (notifiers, deleted objects, proxies).
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".+"))); }
    void fullCycle();
    void handlerMayReopenSocket_data();
    void handlerMayReopenSocket();
    void lastTextBeforeEnd_data();
    void lastTextBeforeEnd();
    void classify_data();
    void classify();
    void parsePeer_data();
    void parsePeer();
    void allows_data();
    void allows();
    void strangerNeverTakesTheSlot();
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
    const RuntimeError held = fails([&] { panel.Listen(); });
    QCOMPARE(held.number(), int(SocketControl::AddressInUse));
    QVERIFY2(held.description().contains(QString::number(panel.port())), held.what());
    holder.close();

    // Wrong states fail, and the state is checked before the request number.
    QCOMPARE(fails([&] { panel.SendData(Frame); }).number(), int(SocketControl::WrongState));
    QCOMPARE(fails([&] { panel.Accept(12345); }).number(), int(SocketControl::InvalidArgument));
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
    // probed after 4 s idle every 2 s, and unacknowledged data is given up after 5 s.
    auto *connection = panel.findChild<QTcpSocket *>();
    QVERIFY(connection);
    QCOMPARE(connection->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
    const auto keepAlive = NativeSocket::keepAlive(connection->socketDescriptor());
    QVERIFY(keepAlive && keepAlive->enabled);
    QCOMPARE((QList<int> {keepAlive->idleSeconds, keepAlive->intervalSeconds, keepAlive->count,
                          keepAlive->userTimeoutMs}),
             (QList<int> {4, 2, 3, 5000}));

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
    const qsizetype endedBefore = panel.endings.size();
    panel.resetBy(third);
    // The kernel already holds the reset: a frame sent now is lost and must say so.
    QCOMPARE(fails([&] { panel.SendData(Frame); }).number(), int(SocketControl::ConnectionReset));
    // The end of the connection is raised after its Error: once it is in, no second Error.
    QVERIFY(waitUntil([&] { return panel.endings.size() == endedBefore + 1; }));
    QCOMPARE(panel.errors, QList<qint32> {SocketControl::ConnectionReset});
    QCOMPARE(panel.endings.constLast(), Ending::Reset);
    QCOMPARE(panel.State(), SocketControl::sckError);
    QCOMPARE(fails([&] { panel.Listen(); }).number(), InvalidOperation);
    QCOMPARE(fails([&] { panel.SendData(Frame); }).number(), int(SocketControl::WrongState));
    panel.Close();
    QCOMPARE(panel.State(), SocketControl::sckClosed);
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

// The controller's last text before its connection ends reaches the data event, in order,
// and before the end is raised, even when Close() (a watchdog tick, a newer request) runs
// after the bytes were read but before their queued event. Each row ends the connection
// inside Qt's socket handling, where no posted event can run, then closes at once.
void SocketControlTest::lastTextBeforeEnd_data()
{
    QTest::addColumn<int>("how"); // how the connection ends
    QTest::addColumn<QList<qint32>>("errors");
    QTest::newRow("controller closes") << int(Ending::ClosedByPeer) << QList<qint32> {};
    QTest::newRow("connection reset")
        << int(Ending::Reset) << QList<qint32> {SocketControl::ConnectionReset};
    QTest::newRow("replaced by a newer connection") << int(Ending::Replaced) << QList<qint32> {};
}

void SocketControlTest::lastTextBeforeEnd()
{
    QFETCH(int, how);
    QFETCH(QList<qint32>, errors);
    Panel panel;
    panel.Listen();
    ControllerPeer peer, newer;
    QVERIFY(peer.connectTo(panel.port()) && panel.reaches(SocketControl::sckConnected));
    auto *connection = panel.findChild<QTcpSocket *>();
    QVERIFY(connection);

    peer.send("00000001");
    if (Ending(how) == Ending::Replaced) {
        // Read into the control, then a newer controller takes the socket.
        QVERIFY(connection->waitForReadyRead(5000));
        panel.Close();
        panel.Listen();
        QVERIFY(newer.connectTo(panel.port()));
        newer.send("STEROWNIK");
    } else {
        if (Ending(how) == Ending::Reset)
            panel.SendData(Frame); // unread by the controller, so its close resets
        Ending(how) == Ending::Reset ? peer.abort() : peer.close();
        // Blocks inside Qt's socket handling: the bytes are read, the end is seen, and
        // nothing posted has run yet.
        connection->waitForDisconnected(5000);
        QVERIFY(panel.State() != SocketControl::sckConnected);
        panel.Close(); // the watchdog's tick, before the data event
        panel.Close(); // closing a closed socket changes nothing
    }
    QVERIFY(panel.arrivals.isEmpty());
    if (Ending(how) == Ending::Replaced) {
        QVERIFY(waitUntil([&] { return panel.arrivals.size() == 2; }));
        // The old connection's bytes first and on their own, then its end, then the newcomer.
        QCOMPARE(panel.events,
                 (QStringList {QStringLiteral("data:00000001"), QStringLiteral("ended"),
                               QStringLiteral("data:STEROWNIK")}));
    } else {
        QVERIFY(waitUntil([&] { return !panel.endings.isEmpty(); }));
        QCOMPARE(panel.events.constFirst(), QStringLiteral("data:00000001"));
        QCOMPARE(panel.events.constLast(), QStringLiteral("ended"));
    }
    QCOMPARE(panel.arrivals.constFirst(), QStringLiteral("00000001"));
    QCOMPARE(panel.endings, QList<Ending> {Ending(how)});
    QCOMPARE(panel.errors, errors);
}

// How an ending becomes an event. A reset never passes as a clean close, also where the
// platform cannot say how the connection ended (older Windows, Wine).
void SocketControlTest::classify_data()
{
    QTest::addColumn<QAbstractSocket::SocketError>("error");
    QTest::addColumn<NativeSocket::Ending>("ending");
    QTest::addColumn<int>("how");
    QTest::addColumn<qint32>("number");
    using E = NativeSocket::Ending;
    constexpr auto closed = QAbstractSocket::RemoteHostClosedError;
    const auto row = [](const char *name, QAbstractSocket::SocketError error, E ending, Ending how,
                        qint32 number) {
        QTest::newRow(name) << error << ending << int(how) << number;
    };
    row("FIN", closed, E::Orderly, Ending::ClosedByPeer, 0);
    row("RST", closed, E::Fault, Ending::Reset, SocketControl::ConnectionReset);
    row("remote closed, probe failed", closed, E::Unknown, Ending::Reset,
        SocketControl::ConnectionReset);
    row("remote closed, kernel timed out", closed, E::TimedOut, Ending::TimedOut,
        SocketControl::TimedOut);
    row("unknown error, orderly", QAbstractSocket::UnknownSocketError, E::Orderly, Ending::Reset,
        SocketControl::ConnectionReset);
    row("unknown error, probe failed", QAbstractSocket::UnknownSocketError, E::Unknown,
        Ending::Reset, SocketControl::ConnectionReset);
    row("Qt timeout, probe failed", QAbstractSocket::SocketTimeoutError, E::Unknown,
        Ending::TimedOut, SocketControl::TimedOut);
    row("network error, kernel timed out", QAbstractSocket::NetworkError, E::TimedOut,
        Ending::TimedOut, SocketControl::TimedOut);
    row("network error, probe failed", QAbstractSocket::NetworkError, E::Unknown, Ending::Reset,
        SocketControl::ConnectionAborted);
}

void SocketControlTest::classify()
{
    QFETCH(QAbstractSocket::SocketError, error);
    QFETCH(NativeSocket::Ending, ending);
    QFETCH(int, how);
    QFETCH(qint32, number);
    const SocketControl::Verdict verdict = SocketControl::classify(error, ending);
    QCOMPARE(verdict.how, Ending(how));
    QCOMPARE(verdict.number, number);
}

void SocketControlTest::parsePeer_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address"); // empty: rejected
    QTest::addColumn<int>("prefix");
    const auto row = [](const char *text, const char *address, int prefix) {
        QTest::newRow(text) << QString::fromLatin1(text) << QString::fromLatin1(address) << prefix;
    };
    row("192.168.1.20", "192.168.1.20", 32);
    row("192.168.1.0/24", "192.168.1.0", 24);
    row(" 10.0.0.0/8 ", "10.0.0.0", 8);
    row("0.0.0.0/0", "0.0.0.0", 0);
    row("fd00::17", "fd00::17", 128);
    row("fd00::/8", "fd00::", 8);
    row("::ffff:192.168.1.20", "::ffff:192.168.1.20", 128);
    row("", "", 0);
    row("/24", "", 0);
    row("192.168.1.20/", "", 0);
    row("192.168.1.20/33", "", 0);
    row("fd00::/129", "", 0);
    row("192.168.1.20/-1", "", 0);
    row("192.168.1.20/+8", "", 0);
    row("192.168.1.20/8/8", "", 0);
    row("192.168.1.20/x", "", 0);
    row("192.168.1", "", 0);
    row("10.1", "", 0);
    row("256.1.1.1", "", 0);
    row("fe80::1%eth0", "", 0);
    row("controller.local", "", 0);
    row("192.168.1.20 junk", "", 0);
}

void SocketControlTest::parsePeer()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    QFETCH(int, prefix);
    const auto parsed = SocketControl::parsePeer(text);
    if (address.isEmpty()) {
        QVERIFY2(!parsed, qPrintable(parsed ? parsed->first.toString() : QString()));
        return;
    }
    QVERIFY(parsed);
    QCOMPARE(parsed->first, QHostAddress(address));
    QCOMPARE(parsed->second, prefix);
}

void SocketControlTest::allows_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<bool>("allowed");
    const auto row = [](const char *name, std::initializer_list<const char *> entries,
                        const char *peer, bool allowed) {
        QStringList list;
        for (const char *entry : entries)
            list.append(QLatin1String(entry));
        QTest::newRow(name) << list << QString::fromLatin1(peer) << allowed;
    };
    row("empty list: anyone", {}, "203.0.113.9", true);
    row("single address", {"192.168.1.20"}, "192.168.1.20", true);
    row("single address, neighbour", {"192.168.1.20"}, "192.168.1.21", false);
    row("prefix", {"192.168.1.0/24"}, "192.168.1.77", true);
    row("outside the prefix", {"192.168.1.0/24"}, "192.168.2.1", false);
    row("IPv4-mapped peer", {"192.168.1.20"}, "::ffff:192.168.1.20", true);
    row("IPv4-mapped peer, prefix", {"192.168.1.0/24"}, "::ffff:192.168.1.9", true);
    row("IPv4-mapped peer, outside", {"192.168.1.20"}, "::ffff:192.168.1.21", false);
    row("IPv4-mapped entry", {"::ffff:192.168.1.20"}, "192.168.1.20", true);
    row("IPv6", {"fd00::/64"}, "fd00::17", true);
    row("IPv6 outside", {"fd00::/64"}, "fd00:0:0:1::17", false);
    row("IPv6 entry, IPv4 peer", {"::/0"}, "192.168.1.20", false);
    row("second entry", {"10.0.0.1", "192.168.1.20"}, "192.168.1.20", true);
}

void SocketControlTest::allows()
{
    QFETCH(QStringList, list);
    QFETCH(QString, peer);
    QFETCH(bool, allowed);
    QList<SocketControl::Subnet> subnets;
    for (const QString &entry : std::as_const(list))
        subnets.append(SocketControl::parsePeer(entry).value());
    QCOMPARE(SocketControl::allows(subnets, QHostAddress(peer)), allowed);
}

// A host not on the list is shut out inside the control: no request, the listener stays,
// and the controller that comes next is served. The dual-stack listener sees IPv4 peers as
// IPv4-mapped addresses, so this also proves them matched.
void SocketControlTest::strangerNeverTakesTheSlot()
{
    Panel panel;
    panel.acceptRequests = false;
    panel.setAllowedPeers({*SocketControl::parsePeer(QStringLiteral("127.0.0.1"))});
    QSignalSpy refused(&panel, &SocketControl::strangerRefused);
    QVERIFY(refused.isValid());
    panel.Listen();
    QTcpSocket stranger;
    QVERIFY(connectFrom(stranger, "127.0.0.2", panel.port()));
    QVERIFY(waitUntil([&] { return refused.size() == 1; }));
    QCOMPARE(refused[0][0].toString(), QStringLiteral("127.0.0.2"));
    QVERIFY(waitUntil([&] { return stranger.state() == QAbstractSocket::UnconnectedState; }));
    QCOMPARE(panel.State(), SocketControl::sckListening);

    QTcpSocket controller;
    QVERIFY(connectFrom(controller, "127.0.0.1", panel.port()));
    QVERIFY(waitUntil([&] { return panel.requests.size() == 1; }));
    QCOMPARE(refused.size(), 1);

    // Listening on one interface: the other is not served at all.
    Panel local;
    local.setListenAddress(QHostAddress(QStringLiteral("127.0.0.2")));
    local.Listen();
    QTcpSocket elsewhere;
    elsewhere.connectToHost(QHostAddress::LocalHost, local.port());
    QVERIFY(!elsewhere.waitForConnected(5000));
    QCOMPARE(elsewhere.error(), QAbstractSocket::ConnectionRefusedError);
}

QTEST_GUILESS_MAIN(SocketControlTest)
#include "tst_socketcontrol.moc"
