#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "controllerpeer.h"
#include "form1.h"
#include "shapecontrol.h"
#include "singleinstance.h"

namespace {

const QString Executable = QStringLiteral(KORVAN_EXECUTABLE);

struct Outcome
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

// The program as a user starts it: its own process, its own environment.
class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void start_data();
    void start();
    void secondStartKeepsTheFirstsController();
    void secondStartOfTheRealProgramAndAStaleLock();

private:
    // A user's private folders; the display left as the row says.
    QProcessEnvironment environment(const QStringList &unset = {}) const;
    QString runtimeFolder() const { return m_home->filePath(QStringLiteral("run")); }
    Outcome run(const QStringList &arguments, const QProcessEnvironment &environment);
    void launch(QProcess &process, const QStringList &arguments);
    static bool waitForHistory(const QString &path, const QByteArray &text);

    std::unique_ptr<QTemporaryDir> m_home;
};

void TestStartup::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    QDir home(m_home->path());
    QVERIFY(home.mkpath(QStringLiteral("config/Korvan")));
    QVERIFY(home.mkpath(QStringLiteral("run")));
    QVERIFY(QFile::setPermissions(runtimeFolder(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

QProcessEnvironment TestStartup::environment(const QStringList &unset) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home->filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString &name : unset)
        env.remove(name);
    return env;
}

Outcome TestStartup::run(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(Executable, arguments);
    Outcome outcome;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}

void TestStartup::launch(QProcess &process, const QStringList &arguments)
{
    process.setProcessEnvironment(environment());
    process.start(Executable, arguments);
}

bool TestStartup::waitForHistory(const QString &path, const QByteArray &text)
{
    return QTest::qWaitFor(
        [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains(text);
        },
        60000);
}

void TestStartup::start_data()
{
    QTest::addColumn<QStringList>("arguments");
    // Environment variables removed; "DISPLAY=..." puts one in.
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QByteArray>("settingsFile");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArrayList>("err");

    const QStringList noDisplay {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("DISPLAY"),
                                 QStringLiteral("WAYLAND_DISPLAY")};
    // A display number with no server behind it.
    int unused = 500;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(unused)))
        ++unused;
    const QString deadDisplay = QStringLiteral("DISPLAY=:%1").arg(unused);

    QTest::newRow("--help needs no display")
        << QStringList {QStringLiteral("--help")} << noDisplay << QByteArray() << 0
        << QByteArray("--allow <ADDRESS[/PREFIX]>") << QByteArrayList();
    QTest::newRow("--version needs no display")
        << QStringList {QStringLiteral("--version")} << noDisplay << QByteArray() << 0
        << QByteArray("Korvan v1.0\n") << QByteArrayList();
    QTest::newRow("unknown option")
        << QStringList {QStringLiteral("--bogus")} << QStringList() << QByteArray() << 2
        << QByteArray() << QByteArrayList {"bogus", "Usage: korvan"};
    QTest::newRow("stray argument")
        << QStringList {QStringLiteral("6165")} << QStringList() << QByteArray() << 2
        << QByteArray() << QByteArrayList {"6165", "Usage: korvan"};
    QTest::newRow("bad --allow value")
        << QStringList {QStringLiteral("--allow"), QStringLiteral("10.0.0.0/33")} << QStringList()
        << QByteArray() << 2 << QByteArray() << QByteArrayList {"--allow", "10.0.0.0/33"};
    QTest::newRow("settings file fault")
        << QStringList() << QStringList() << QByteArray("[Network]\nAllow=192.168.1.300\n") << 3
        << QByteArray()
        << QByteArrayList {"config/Korvan/Korvan.ini", "Network/Allow", "192.168.1.300"};
    QTest::newRow("no display") << QStringList() << noDisplay << QByteArray() << 4 << QByteArray()
                                << QByteArrayList {"wymaga sesji graficznej",
                                                   "needs a graphical session"};
    QTest::newRow("display not there")
        << QStringList() << (noDisplay + QStringList {deadDisplay}) << QByteArray() << 4
        << QByteArray()
        << QByteArrayList {"wymaga sesji graficznej", "needs a graphical session",
                           deadDisplay.toUtf8()};
}

void TestStartup::start()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QByteArray, settingsFile);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArrayList, err);
    if (!settingsFile.isEmpty()) {
        QFile file(m_home->filePath(QStringLiteral("config/Korvan/Korvan.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settingsFile);
    }
    QProcessEnvironment env = this->environment();
    for (const QString &entry : std::as_const(environment)) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        if (equals < 0)
            env.remove(entry);
        else
            env.insert(entry.left(equals), entry.mid(equals + 1));
    }
    const Outcome outcome = run(arguments, env);
    QCOMPARE(outcome.exitCode, exitCode);
    QVERIFY2(outcome.out.contains(out), outcome.out.constData());
    for (const QByteArray &part : err)
        QVERIFY2(outcome.err.contains(part), outcome.err.constData());
    // Qt's own advice to reinstall is no answer to a missing display.
    QVERIFY2(!outcome.err.contains("einstall"), outcome.err.constData());
}

// The running panel here in the test, serving a real controller; the program started a
// second time as a user would.
void TestStartup::secondStartKeepsTheFirstsController()
{
    SingleInstance first(runtimeFolder());
    QCOMPARE(first.claim(), SingleInstance::Claim::First);
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    QVERIFY(shown.isValid());
    Form1 form(0);
    form.show();
    form.controls().Command1->click();
    QVERIFY(QTest::qWaitFor(
        [&] { return form.controls().Winsock1->State() == SocketControl::sckListening; }));
    ControllerPeer peer;
    QVERIFY(peer.connectTo(quint16(form.controls().Winsock1->LocalPort())));

    QProcess second;
    launch(second, {});
    QVERIFY(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 120000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
    const QByteArray err = second.readAllStandardError();
    QVERIFY2(err.contains("Panel Korvan jest już uruchomiony; jego okno przeniesiono na "
                          "wierzch."),
             err.constData());
    QVERIFY(QTest::qWaitFor([&] { return shown.count() == 1; }));

    // The first panel still has its controller: inputs come in, frames go out.
    peer.send("00000001");
    QVERIFY(QTest::qWaitFor([&] { return form.controls().I[0]->backColor() == Bgr::Green; }));
    form.controls().S[0][0]->click();
    QCOMPARE(peer.waitForLine(), QByteArray("000000010000000000000000F"));
    QCOMPARE(peer.socket().state(), QAbstractSocket::ConnectedState);
}

// Both panels are the real program. The first is killed: its lock stays on disk and must
// not stop the next start.
void TestStartup::secondStartOfTheRealProgramAndAStaleLock()
{
    const QString firstHistory = m_home->filePath(QStringLiteral("first.log"));
    QProcess first;
    launch(first, {QStringLiteral("--log-file"), firstHistory});
    QVERIFY(waitForHistory(firstHistory, "korvan.app: Korvan v1.0 started"));

    const Outcome second = run({}, environment());
    QCOMPARE(second.exitCode, 1);
    QVERIFY2(second.err.contains("Panel Korvan jest już uruchomiony"), second.err.constData());
    QVERIFY(waitForHistory(firstHistory,
                           "a second start refused; this panel's window comes to the front"));
    QCOMPARE(first.state(), QProcess::Running);

    first.kill();
    QVERIFY(first.waitForFinished());
    QVERIFY(QFile::exists(runtimeFolder() + QStringLiteral("/korvan.lock")));

    const QString thirdHistory = m_home->filePath(QStringLiteral("third.log"));
    QProcess third;
    launch(third, {QStringLiteral("--log-file"), thirdHistory});
    QVERIFY(waitForHistory(thirdHistory, "korvan.app: Korvan v1.0 started"));
    QCOMPARE(third.state(), QProcess::Running);
    third.kill();
    QVERIFY(third.waitForFinished());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
