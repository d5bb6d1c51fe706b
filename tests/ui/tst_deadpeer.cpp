#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QToolButton>

#include "bgrcolor.h"
#include "controllerpeer.h"
#include "form1.h"
#include "shapecontrol.h"

// A controller that vanishes without closing (cable pulled, power lost) must not lock the
// panel out: the connection turns into a socket error within about 30 s and the watchdog
// listens again. Loopback cannot lose packets, so the test runs itself again in a private
// network namespace and takes its loopback interface down while the controller is
// connected. Needs `unshare` and `ip`, and root or unprivileged user namespaces; runs only
// under `make stress`.
namespace {

// Runs its arguments in a network namespace of its own: directly as root, else inside a
// user namespace. Exits 99 without `ip`.
const char *const InNamespace
    = "command -v ip >/dev/null || exit 99; unshare --net true 2>/dev/null"
      " && exec unshare --net \"$@\"; exec unshare --net --map-root-user \"$@\"";

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
    void initTestCase();
    void vanishedControllerIsDetected_data();
    void vanishedControllerIsDetected();
};

void DeadPeerTest::initTestCase()
{
#ifdef Q_OS_WIN
    QSKIP("Linux only: plays the vanished controller with a network namespace (unshare, ip).");
#endif
}

void DeadPeerTest::vanishedControllerIsDetected_data()
{
    QTest::addColumn<bool>("sendWhileDead");
    QTest::newRow("idle link") << false; // keepalive probes go unanswered
    QTest::newRow("frame sent to the dead peer") << true; // the frame is never acknowledged
}

void DeadPeerTest::vanishedControllerIsDetected()
{
    QFETCH(bool, sendWhileDead);
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
    c.Command1->click();
    ControllerPeer controller;
    QVERIFY(controller.connectTo(SocketControl::DesignLocalPort));
    controller.send("STEROWNIK");
    QTRY_COMPARE(c.Shape2->backColor(), Bgr::Green);

    // The controller is gone: nothing it sends arrives, nothing reaches it.
    QCOMPARE(sh("ip link set lo down"), 0);
    QElapsedTimer dead;
    dead.start();
    if (sendWhileDead)
        c.S[0][0]->click();
    QTRY_VERIFY_WITH_TIMEOUT(c.Winsock1->State() != SocketControl::sckConnected, 40000);
    qInfo("Vanished controller detected after %lld ms", dead.elapsed());
    QCOMPARE(c.Shape2->backColor(), Bgr::Green); // an error leaves the link colour alone

    // The controller comes back: the watchdog has cleared the error and listens.
    QCOMPARE(sh("ip link set lo up"), 0);
    controller.abort();
    QVERIFY(controller.connectTo(SocketControl::DesignLocalPort));
    QTRY_COMPARE(c.Winsock1->State(), SocketControl::sckConnected);
}

QTEST_MAIN(DeadPeerTest)
#include "tst_deadpeer.moc"
