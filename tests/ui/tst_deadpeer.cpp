#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QNetworkProxy>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include "bgrcolor.h"
#include "controllerpeer.h"
#include "form1.h"
#include "shapecontrol.h"
#include "waituntil.h"
#include "winsock.h"

// A controller that vanishes without closing (cable pulled, power lost) must not lock the
// panel out: the connection turns into a socket error within about 30 s and the watchdog
// listens again. Loopback cannot lose packets, so the test runs itself again in a private
// network namespace and takes its loopback interface down while the controller is
// connected. Needs `unshare` and `ip`, and root or unprivileged user namespaces; runs only
// under `make stress`.
namespace {

const char *const InsideVariable = "KORVAN_DEADPEER_INSIDE";

bool ip(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("ip"), arguments) == 0;
}

bool setLoopback(bool up)
{
    return ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
               up ? QStringLiteral("up") : QStringLiteral("down")});
}

// unshare arguments that give this process a network namespace of its own, if any do.
QStringList namespaceArguments()
{
    const QList<QStringList> candidates {
        {QStringLiteral("--net")},
        {QStringLiteral("--net"), QStringLiteral("--map-root-user")},
    };
    for (const QStringList &candidate : candidates) {
        if (QProcess::execute(QStringLiteral("unshare"),
                              candidate + QStringList {QStringLiteral("true")})
            == 0)
            return candidate;
    }
    return {};
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
    QTest::newRow("idle link") << false; // keepalive probes go unanswered
    QTest::newRow("frame sent to the dead peer") << true; // the frame is never acknowledged
}

void DeadPeerTest::vanishedControllerIsDetected()
{
    QFETCH(bool, sendWhileDead);

    if (!qEnvironmentVariableIsSet(InsideVariable)) {
        if (!qEnvironmentVariableIsSet("KORVAN_STRESS"))
            QSKIP("Takes about a minute; run with `make stress`.");
        if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
            QSKIP("Needs unshare (util-linux) and ip (iproute2).");
        const QStringList unshare = namespaceArguments();
        if (unshare.isEmpty())
            QSKIP("No network namespace available (needs root or user namespaces).");

        QProcess inside;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(InsideVariable), QStringLiteral("1"));
        inside.setProcessEnvironment(environment);
        inside.setProcessChannelMode(QProcess::ForwardedChannels);
        const QString self = QCoreApplication::applicationFilePath();
        const QString test = QLatin1String(QTest::currentTestFunction()) + QLatin1Char(':')
            + QLatin1String(QTest::currentDataTag());
        inside.start(QStringLiteral("unshare"), unshare + QStringList {self, test});
        QVERIFY(inside.waitForFinished(120000));
        QCOMPARE(inside.exitStatus(), QProcess::NormalExit);
        QCOMPARE(inside.exitCode(), 0);
        return;
    }

    QVERIFY(setLoopback(true));
    QTcpServer probe;
    probe.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(probe.listen(QHostAddress::Any, 0));
    const quint16 port = probe.serverPort();
    probe.close();

    Form1 form(port);
    auto *command1 = form.findChild<QAbstractButton *>(QStringLiteral("Command1"));
    auto *s11 = form.findChild<QAbstractButton *>(QStringLiteral("S11"));
    auto *shape2 = form.findChild<ShapeControl *>(QStringLiteral("Shape2"));
    auto *winsock = form.findChild<Winsock *>(QStringLiteral("Winsock1"));
    QVERIFY(command1 && s11 && shape2 && winsock);
    QList<qint32> errors;
    connect(winsock, &Winsock::errorOccurred, &form,
            [&errors](Winsock::ErrorEvent &event) { errors.append(event.Number); });

    command1->click();
    ControllerPeer controller;
    QVERIFY(controller.connectTo(port));
    QVERIFY(waitUntil([&] { return winsock->State() == Winsock::sckConnected; }));
    controller.send("STEROWNIK");
    QVERIFY(waitUntil([&] { return shape2->backColor() == Bgr::Green; }));

    // The controller is gone: nothing it sends arrives, nothing reaches it.
    QVERIFY(setLoopback(false));
    QElapsedTimer dead;
    dead.start();
    if (sendWhileDead)
        s11->click();
    QVERIFY(waitUntil([&] { return !errors.isEmpty(); }, 60000));
    const qint64 detectedMs = dead.elapsed();
    qInfo("Vanished controller detected after %lld ms as error %d", detectedMs, errors[0]);
    QVERIFY2(detectedMs < 40000, qPrintable(QString::number(detectedMs)));
    QCOMPARE(shape2->backColor(), Bgr::Green); // an error leaves the link colour alone

    // The controller comes back: the watchdog has cleared the error and listens.
    QVERIFY(setLoopback(true));
    controller.abort();
    QVERIFY(controller.connectTo(port, 5000));
    QVERIFY(waitUntil([&] { return winsock->State() == Winsock::sckConnected; }));
    controller.send("STEROWNIK");
    QVERIFY(waitUntil([&] { return shape2->backColor() == Bgr::Green; }));
}

QTEST_MAIN(DeadPeerTest)
#include "tst_deadpeer.moc"
