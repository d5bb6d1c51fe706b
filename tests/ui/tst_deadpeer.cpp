#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include "connectedpanel.h"
#include "linklog.h"

// A controller that vanishes without closing is noticed within the aimed times (10 s idle,
// 5 s after an unacknowledged frame): the link bar turns red, the watchdog listens again.
// Loopback loses nothing, so the test reruns itself in a private network namespace that
// drops what the controller's 127.0.0.2 sends. Runs alone under `make stress` (margin 5 s).
namespace {

// Runs its arguments in a network namespace of its own (inside a user namespace unless
// root); exits 99 without `ip`.
const char *const InNamespace
    = "command -v ip >/dev/null || exit 99; unshare --net true 2>/dev/null"
      " && exec unshare --net \"$@\"; exec unshare --net --map-root-user \"$@\"";
// The local table moves behind a rule that black-holes the controller's address.
const char *const ControllerVanishes
    = "ip rule add pref 10 from 127.0.0.2 blackhole && ip rule add pref 100 lookup local"
      " && ip rule del pref 0";

int sh(const char *script, const QStringList &arguments = {})
{
    return QProcess::execute(u"sh"_qs,
                             QStringList {u"-c"_qs, QLatin1String(script), u"sh"_qs} + arguments);
}

} // namespace

class DeadPeerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void vanishedControllerIsDetected_data()
    {
        QTest::addColumn<bool>("sendWhileDead");
        QTest::newRow("idle link") << false; // keepalive probes go unanswered
        QTest::newRow("frame sent to the dead peer") << true; // never acknowledged
    }

    void vanishedControllerIsDetected()
    {
        QFETCH(bool, sendWhileDead);
        const int aimMs = sendWhileDead ? 5000 : 10000;
#ifdef Q_OS_WIN
        QSKIP("Linux only: plays the vanished controller with a network namespace (unshare, ip).");
#endif
        if (!qEnvironmentVariableIsSet("KORVAN_DEADPEER_INSIDE")) {
            if (!qEnvironmentVariableIsSet("KORVAN_STRESS") || sh(InNamespace, {u"true"_qs}))
                QSKIP("Takes a minute and a network namespace (ip, unshare; root or user "
                      "namespaces): run with `make stress`.");
            QCOMPARE(
                sh(InNamespace,
                   {u"env"_qs, u"KORVAN_DEADPEER_INSIDE=1"_qs,
                    QCoreApplication::applicationFilePath(),
                    u"vanishedControllerIsDetected:"_qs + QLatin1String(QTest::currentDataTag())}),
                0);
            return;
        }

        // Alone in its namespace, the panel can use its own port.
        QCOMPARE(sh("ip link set lo up"), 0);
        ConnectedPanel panel(SocketControl::DesignLocalPort);
        QSignalSpy ended(panel.ui().Winsock1, &SocketControl::connectionEnded);
        QVERIFY(ended.isValid());
        panel.ui().Command1->click();
        const QHostAddress from(QStringLiteral("127.0.0.2"));
        QVERIFY(panel.peer.connectTo(SocketControl::DesignLocalPort, 10000, from));
        QVERIFY(panel.identify(panel.peer));

        QCOMPARE(sh(ControllerVanishes), 0); // nothing it sends arrives or acknowledges
        QElapsedTimer dead;
        dead.start();
        if (sendWhileDead) {
            // The history names the frame the controller may never have had.
            const_cast<QLoggingCategory &>(lcLink()).setEnabled(QtInfoMsg, true);
            QTest::ignoreMessage(
                QtInfoMsg,
                QRegularExpression(u"connection ended: keepalive timeout; the "
                                   "controller did not acknowledge the last 27 "
                                   "bytes sent, .*: \"000000010000000000000000F\"$"_qs));
            panel.ui().S[0][0]->click();
        }
        QVERIFY(waitUntil([&] { return !ended.isEmpty(); }, aimMs + 5000));
        qInfo("Vanished controller noticed after %lld ms (aim %d ms)", dead.elapsed(), aimMs);
        QCOMPARE(ended[0][0].value<SocketControl::Ending>(), SocketControl::Ending::TimedOut);
        QCOMPARE(panel.ui().Shape2->backColor(), Bgr::Red);

        // It comes back: the watchdog has cleared the error and listens.
        QCOMPARE(sh("ip rule del pref 10"), 0);
        ControllerPeer back;
        QVERIFY(back.connectTo(SocketControl::DesignLocalPort, 10000, from));
        QVERIFY(panel.identify(back));
    }
};

QTEST_MAIN(DeadPeerTest)
#include "tst_deadpeer.moc"
