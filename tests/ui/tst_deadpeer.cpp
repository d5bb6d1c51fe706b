#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

#include "bgrcolor.h"
#include "controllerpeer.h"
#include "form1.h"
#include "shapecontrol.h"

// A controller that vanishes without closing (cable pulled, power lost) must not lock the
// panel out: the connection turns into a socket error within the aimed times (10 s on an
// idle link, 5 s after a frame nobody acknowledges), the link bar turns red and the
// watchdog listens again. Loopback cannot lose packets, so the test runs itself again in a
// private network namespace, where the controller talks from 127.0.0.2 and a routing rule
// drops everything sent from that address while the panel's own packets still flow. Needs
// `unshare` and `ip`, and root or unprivileged user namespaces; runs only under
// `make stress`, alone, so it may hold the aims with a margin of 5 s.
namespace {

constexpr int MarginMs = 5000;

// Runs its arguments in a network namespace of its own: directly as root, else inside a
// user namespace. Exits 99 without `ip`.
const char *const InNamespace
    = "command -v ip >/dev/null || exit 99; unshare --net true 2>/dev/null"
      " && exec unshare --net \"$@\"; exec unshare --net --map-root-user \"$@\"";

// The local table moves behind a rule that black-holes the controller's address.
const char *const ControllerVanishes
    = "ip rule add pref 10 from 127.0.0.2 blackhole && ip rule add pref 100 lookup local"
      " && ip rule del pref 0";
const char *const ControllerReturns = "ip rule del pref 10";

// The controller's connection from its own address, as soon as the panel listens.
bool connectFromController(ControllerPeer &peer)
{
    QTcpSocket &socket = peer.socket();
    for (const QDeadlineTimer deadline(10000); !deadline.hasExpired(); QTest::qWait(50)) {
        socket.abort();
        socket.bind(QHostAddress(QStringLiteral("127.0.0.2")));
        socket.connectToHost(QHostAddress::LocalHost, SocketControl::DesignLocalPort);
        if (socket.waitForConnected(1000))
            return true;
    }
    return false;
}

int sh(const char *script, const QStringList &arguments = {})
{
    const QStringList shell {QStringLiteral("-c"), QLatin1String(script), QStringLiteral("sh")};
    return QProcess::execute(QStringLiteral("sh"), shell + arguments);
}

} // namespace

class DeadPeerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void vanishedControllerIsDetected_data();
    void vanishedControllerIsDetected();
};

void DeadPeerTest::vanishedControllerIsDetected_data()
{
    QTest::addColumn<bool>("sendWhileDead");
    QTest::addColumn<int>("aimMs");
    QTest::newRow("idle link") << false << 10000; // keepalive probes go unanswered
    QTest::newRow("frame sent to the dead peer") << true << 5000; // never acknowledged
}

void DeadPeerTest::vanishedControllerIsDetected()
{
    QFETCH(bool, sendWhileDead);
    QFETCH(int, aimMs);
    if (!qEnvironmentVariableIsSet("KORVAN_DEADPEER_INSIDE")) {
        if (!qEnvironmentVariableIsSet("KORVAN_STRESS")
            || sh(InNamespace, {QStringLiteral("true")}))
            QSKIP("Takes a minute and a network namespace (ip, unshare; root or user namespaces): "
                  "run with `make stress`.");
        QCOMPARE(sh(InNamespace,
                    {QStringLiteral("env"), QStringLiteral("KORVAN_DEADPEER_INSIDE=1"),
                     QCoreApplication::applicationFilePath(),
                     QLatin1String("vanishedControllerIsDetected:")
                         + QLatin1String(QTest::currentDataTag())}),
                 0);
        return;
    }

    // Alone in its namespace, the panel can use its own port.
    QCOMPARE(sh("ip link set lo up"), 0);
    Form1 form;
    const Form1::Controls &c = form.controls();
    QSignalSpy ended(c.Winsock1, &SocketControl::connectionEnded);
    QVERIFY(ended.isValid());
    c.Command1->click();
    ControllerPeer controller;
    QVERIFY(connectFromController(controller));
    controller.send("STEROWNIK");
    QTRY_COMPARE(c.Shape2->backColor(), Bgr::Green);

    // The controller is gone: nothing it sends arrives, so nothing is acknowledged.
    QCOMPARE(sh(ControllerVanishes), 0);
    QElapsedTimer dead;
    dead.start();
    if (sendWhileDead)
        c.S[0][0]->click();
    QVERIFY(waitUntil([&] { return !ended.isEmpty(); }, aimMs + MarginMs));
    const qint64 noticedMs = dead.elapsed();
    qInfo("Vanished controller noticed after %lld ms (aim %d ms)", noticedMs, aimMs);
    QCOMPARE(ended[0][0].value<SocketControl::Ending>(), SocketControl::Ending::TimedOut);
    QCOMPARE(c.Shape2->backColor(), Bgr::Red);

    // The controller comes back: the watchdog has cleared the error and listens.
    QCOMPARE(sh(ControllerReturns), 0);
    ControllerPeer back;
    QVERIFY(connectFromController(back));
    back.send("STEROWNIK");
    QTRY_COMPARE(c.Shape2->backColor(), Bgr::Green);
}

QTEST_MAIN(DeadPeerTest)
#include "tst_deadpeer.moc"
