#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "controllerpeer.h"
#include "exitstatus.h"
#include "form1.h"
#include "panelsettings.h"
#include "shapecontrol.h"
#include "singleinstance.h"

namespace {

const QString Executable = QStringLiteral(KORVAN_EXECUTABLE);

bool historyHas(const QString &path, const QByteArray &text)
{
    return QTest::qWaitFor(
        [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains(text);
        },
        60000);
}

} // namespace

// The program as a user starts it: its own process, its own environment.
class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void start_data();
    void start();
    void secondStart();

private:
    // A user's private folders, a display that needs no server.
    QProcessEnvironment environment() const;
    QString runtimeFolder() const
    {
#ifdef Q_OS_WIN
        // Windows has no variable for it: the panel's lock sits in the user's own folder.
        return SingleInstance::defaultFolder();
#else
        return m_home->filePath(QStringLiteral("run"));
#endif
    }
    void launch(QProcess &process, const QStringList &arguments)
    {
        process.setProcessEnvironment(environment());
        process.start(Executable, arguments);
    }
    // Runs the program to its end with the event loop running, as the panel asked to come
    // to the front may be this very process; its standard error if it was refused.
    QByteArray refusedStart();

    std::unique_ptr<QTemporaryDir> m_home;
};

void TestStartup::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    QVERIFY(QDir(m_home->path()).mkpath(QStringLiteral("config/Korvan")));
    QVERIFY(QDir(m_home->path()).mkpath(QStringLiteral("run")));
    QVERIFY(QFile::setPermissions(m_home->filePath(QStringLiteral("run")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

QProcessEnvironment TestStartup::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home->path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home->filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The checks read the panel's history: whatever rules the caller set must not mute it.
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    return env;
}

QByteArray TestStartup::refusedStart()
{
    QProcess second;
    launch(second, {});
    if (!QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 120000))
        return "still running";
    return second.exitCode() == 1 ? second.readAllStandardError() : QByteArray("not refused");
}

void TestStartup::start_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment"); // variables removed; "NAME=value" sets one
    QTest::addColumn<QByteArray>("settingsFile");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArrayList>("err"); // all of them, in any order
    const auto row
        = [](const char *name, const char *arguments, const QStringList &environment,
             const char *settings, int exitCode, const char *out, const QByteArray &err) {
              QTest::newRow(name) << QString::fromLatin1(arguments).split(u' ', Qt::SkipEmptyParts)
                                  << environment << QByteArray(settings) << exitCode
                                  << QByteArray(out) << err.split('|');
          };
    const QStringList noDisplay {QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("DISPLAY"),
                                 QStringLiteral("WAYLAND_DISPLAY")};
    // A display number with no server behind it.
    int unused = 500;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(unused)))
        ++unused;
    const QString deadDisplay = QStringLiteral("DISPLAY=:%1").arg(unused);
    const QByteArray noSession = "wymaga sesji graficznej|needs a graphical session";

    row("--help needs no display", "--help", noDisplay, "", 0, "--allow <ADDRESS[/PREFIX]>", "");
    row("--version needs no display", "--version", noDisplay, "", 0, "Korvan v1.0\n", "");
    row("unknown option", "--bogus", {}, "", 2, "", "bogus|Usage: korvan");
    row("stray argument", "6165", {}, "", 2, "", "6165|Usage: korvan");
    row("bad --allow value", "--allow 10.0.0.0/33", {}, "", 2, "", "--allow|10.0.0.0/33");
    // The message names the settings file too (checked where it is written).
    row("settings file fault", "", {}, "[Network]\nAllow=192.168.1.300\n", 3, "",
        "Network/Allow|192.168.1.300");
    row("no display", "", noDisplay, "", 4, "", noSession);
    row("display not there", "", noDisplay + QStringList {deadDisplay}, "", 4, "",
        noSession + '|' + deadDisplay.toUtf8());
}

void TestStartup::start()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QByteArray, settingsFile);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArrayList, err);
#ifdef Q_OS_WIN
    if (exitCode == ExitStatus::NoGraphicalSession)
        QSKIP("Windows always has its desktop: DISPLAY names nothing there");
    // Windows keeps the user's settings in the roaming profile, which no variable moves:
    // the row's file goes there, and the user's own comes back afterwards.
    const QString settingsPath = PanelSettings::userFile();
#else
    const QString settingsPath = m_home->filePath(QStringLiteral("config/Korvan/Korvan.ini"));
#endif
    const QString kept = m_home->filePath(QStringLiteral("kept.ini"));
    const auto putBack = qScopeGuard([&] {
        if (!settingsFile.isEmpty())
            QFile::remove(settingsPath);
        if (QFile::exists(kept))
            QFile::rename(kept, settingsPath);
    });
    if (!settingsFile.isEmpty()) {
        QVERIFY(!QFile::exists(settingsPath) || QFile::rename(settingsPath, kept));
        QVERIFY(QDir().mkpath(QFileInfo(settingsPath).absolutePath()));
        QFile file(settingsPath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settingsFile) >= 0);
        err << QDir::toNativeSeparators(settingsPath).toUtf8();
    }
    QProcessEnvironment env = this->environment();
    for (const QString &entry : std::as_const(environment)) {
        const qsizetype equals = entry.indexOf(u'=');
        equals < 0 ? env.remove(entry) : env.insert(entry.left(equals), entry.mid(equals + 1));
    }
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(Executable, arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(30000);
        QFAIL("the program did not end");
    }
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    // The C runtime on Windows writes line ends as CR LF.
    const QByteArray stdOut = process.readAllStandardOutput().replace("\r\n", "\n");
    const QByteArray stdErr = process.readAllStandardError();
    QVERIFY2(stdOut.contains(out), stdOut.constData());
    for (const QByteArray &part : err)
        QVERIFY2(stdErr.contains(part), stdErr.constData());
    // Qt's own advice to reinstall is no answer to a missing display.
    QVERIFY2(!stdErr.contains("einstall"), stdErr.constData());
}

// A second start of the real program is refused and brings the first to the front; a first
// panel killed outright leaves its lock behind, which stops no later start. The last first
// panel runs here in the test and keeps serving its controller.
void TestStartup::secondStart()
{
    const QString firstHistory = m_home->filePath(QStringLiteral("first.log"));
    QProcess first;
    launch(first, {QStringLiteral("--log-file"), firstHistory});
    QVERIFY(historyHas(firstHistory, "korvan.app: Korvan v1.0 started"));
    const QByteArray refused = refusedStart();
    QVERIFY2(refused.contains("Panel Korvan jest już uruchomiony"), refused.constData());
    QVERIFY(
        historyHas(firstHistory, "a second start refused; this panel's window comes to the front"));
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    QVERIFY(first.waitForFinished());
    QVERIFY(QFile::exists(runtimeFolder() + QStringLiteral("/korvan.lock")));

    SingleInstance panel(runtimeFolder());
    QCOMPARE(panel.claim(), SingleInstance::Claim::First);
    QSignalSpy shown(&panel, &SingleInstance::showRequested);
    QVERIFY(shown.isValid());
    Form1 form(0);
    const Form1::Controls &ui = form.controls();
    form.show();
    ui.Command1->click();
    QVERIFY(QTest::qWaitFor([&] { return ui.Winsock1->State() == SocketControl::sckListening; }));
    ControllerPeer peer;
    QVERIFY(peer.connectTo(quint16(ui.Winsock1->LocalPort())));

    const QByteArray err = refusedStart();
    QVERIFY2(err.contains("Panel Korvan jest już uruchomiony; jego okno przeniesiono na "
                          "wierzch."),
             err.constData());
    QVERIFY(QTest::qWaitFor([&] { return shown.count() == 1; }));

    // The panel still has its controller: inputs come in, frames go out.
    peer.send("00000001");
    QVERIFY(QTest::qWaitFor([&] { return ui.I[0]->backColor() == Bgr::Green; }));
    ui.S[0][0]->click();
    QCOMPARE(peer.waitForLine(), QByteArray("000000010000000000000000F"));
    QCOMPARE(peer.socket().state(), QAbstractSocket::ConnectedState);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
