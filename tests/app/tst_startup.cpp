#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "commandline.h"
#include "connectedpanel.h"
#include "exitstatus.h"
#include "panelsettings.h"
#include "singleinstance.h"

using namespace Qt::StringLiterals;

// The program started as a user starts it, and the settings it starts with.
class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid() && QDir(m_home->path()).mkpath(u"run"_s));
        QVERIFY(QFile::setPermissions(m_home->filePath(u"run"_s),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    // Settings read as the panel reads them: the system and the user file ("-" none, "<dir>" a
    // folder) and the options; then "listen [allowed] idle unacknowledged log-file", or "!" and
    // what the fault's message names, "|" between ("SYSTEM", "USER": the files' paths; an option
    // named first: the fault is in the command line).
    void settings_data()
    {
        for (const char *column : {"system", "user", "arguments", "expected"})
            QTest::addColumn<QByteArray>(column);
        const auto row = [](const char *name, const char *system, const char *user,
                            const char *arguments, const char *expected) {
            QTest::newRow(name) << QByteArray(system) << QByteArray(user) << QByteArray(arguments)
                                << QByteArray(expected);
        };
        row("address out of range", "[Network]\nListen=10.0.0.300\n", "-", "",
            "!SYSTEM|Network/Listen|10.0.0.300");
        // The list's one bad entry is named, not only the whole value.
        row("bad entry in a list", "-", "[Network]\nAllow=192.168.1.5, fd00::/129\n", "",
            "!USER|Network/Allow|fd00::/129");
        row("unknown key", "-", "[Network]\nListn=10.0.0.1\n", "",
            "!USER|Network/Listn|10.0.0.1|unknown key");
        row("timeout not a number", "-", "[Network]\nIdleTimeout=ten\n", "",
            "!USER|Network/IdleTimeout|ten");
        row("timeout zero", "-", "[Network]\nUnacknowledgedTimeout=0\n", "",
            "!USER|Network/UnacknowledgedTimeout|\"0\"");
        row("empty history path", "[History]\nFile=\n", "-", "", "!SYSTEM|History/File");
        row("unreadable file", "<dir>", "-", "", "!SYSTEM|cannot be read");
        // A fault in the system file refuses the start even when the user's file is good.
        row("system fault under a good user file", "[Network]\nListen=1.2.3\n",
            "[Network]\nListen=10.0.0.1\n", "", "!SYSTEM|1.2.3");
        row("bad --listen", "-", "-", "--listen localhost", "!--listen|localhost");
        row("user file wins key by key",
            "[Network]\nListen=192.168.10.1\nAllow=10.0.0.0/8\nIdleTimeout=20\n"
            "[History]\nFile=/var/log/korvan.log\n",
            "[Network]\nListen=192.168.20.1\nUnacknowledgedTimeout=7\n", "",
            "192.168.20.1 [10.0.0.0/8] 20 7 /var/log/korvan.log");
        row("command line wins", "[Network]\nListen=192.168.10.1\nAllow=10.0.0.0/8\n",
            "[Network]\nAllow=172.16.0.0/12\n[History]\nFile=/tmp/a.log\n",
            "--listen 127.0.0.1 --allow 127.0.0.2 --allow=::1 --log-file /tmp/b.log",
            "127.0.0.1 [127.0.0.2/32 ::1/128] 10 5 /tmp/b.log");
        row("networks, IPv4 and IPv6", "-",
            "[Network]\nAllow=10.1.2.3/8, fd00:1::5/32 192.168.1.7\n", "",
            "0.0.0.0 [10.1.2.3/8 fd00:1::5/32 192.168.1.7/32] 10 5 ");
        row("empty allow list in the user file opens to anyone", "[Network]\nAllow=10.0.0.0/8\n",
            "[Network]\nAllow=\n", "", "0.0.0.0 [] 10 5 ");
    }
    void settings()
    {
        QFETCH(QByteArray, system);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, arguments);
        QFETCH(QByteArray, expected);
        // Both files have the same name: only their folders tell which one a message means.
        const QString paths[]
            = {m_home->filePath(u"etc/Korvan.ini"_s), m_home->filePath(u"home/Korvan.ini"_s)};
        const QByteArray contents[] = {system, user};
        for (int i = 0; i < 2; ++i) {
            QVERIFY(QDir().mkpath(contents[i] == "<dir>" ? paths[i] : QFileInfo(paths[i]).path()));
            QFile file(paths[i]);
            if (contents[i] != "-" && contents[i] != "<dir>")
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents[i]) >= 0);
        }
        CommandLine commandLine;
        QCOMPARE(commandLine.parse(
                     QString::fromLatin1("korvan " + arguments).split(u' ', Qt::SkipEmptyParts)),
                 CommandLine::Outcome::Run);
        PanelSettings::Fault fault;
        const auto settings = PanelSettings::load(paths[0], paths[1], commandLine, &fault);
        if (!expected.startsWith('!')) {
            QVERIFY2(settings, qPrintable(fault.message));
            QStringList allowed;
            for (const auto &[address, prefix] : settings->allowedPeers)
                allowed << address.toString() + u'/' + QString::number(prefix);
            QCOMPARE(
                u"%1 [%2] %3 %4 %5"_s.arg(settings->listenAddress.toString(), allowed.join(u' '))
                    .arg(settings->idleSeconds)
                    .arg(settings->unacknowledgedSeconds)
                    .arg(settings->logFile),
                QString::fromLatin1(expected));
            return;
        }
        QVERIFY(!settings);
        for (const QByteArray &part : expected.mid(1).split('|')) {
            const QString name = QString::fromLatin1(part)
                                     .replace(u"SYSTEM"_s, QDir::toNativeSeparators(paths[0]))
                                     .replace(u"USER"_s, QDir::toNativeSeparators(paths[1]));
            QVERIFY2(fault.message.contains(name), qPrintable(fault.message));
        }
    }
    // The display: "offscreen", none (""), or a DISPLAY with no server behind it; what the
    // program must say ("|" between parts): on standard output if it ends well, else on
    // standard error.
    void start_data()
    {
        for (const char *column : {"arguments", "display", "settingsFile", "said"})
            QTest::addColumn<QByteArray>(column);
        QTest::addColumn<int>("exitCode");
        const auto row = [](const char *name, const char *arguments, const QByteArray &display,
                            const char *settings, int exitCode, const QByteArray &said) {
            QTest::newRow(name) << QByteArray(arguments) << display << QByteArray(settings) << said
                                << exitCode;
        };
        int unused = 500;
        while (QFile::exists(u"/tmp/.X11-unix/X%1"_s.arg(unused)))
            ++unused;
        const QByteArray deadDisplay = ':' + QByteArray::number(unused);
        const QByteArray noSession = "wymaga sesji graficznej|needs a graphical session";
        row("--help needs no display", "--help", "", "", 0, "--allow <ADDRESS[/PREFIX]>");
        row("--version needs no display", "--version", "", "", 0, "Korvan v1.0\n");
        row("unknown option", "--bogus", "offscreen", "", 2, "bogus|Usage: korvan");
        row("stray argument", "6165", "offscreen", "", 2, "6165|Usage: korvan");
        row("bad --allow value", "--allow 10.0.0.0/33", "offscreen", "", 2, "--allow|10.0.0.0/33");
        // The message names the settings file too (checked where it is written).
        row("settings file fault", "", "offscreen", "[Network]\nAllow=192.168.1.300\n", 3,
            "Network/Allow|192.168.1.300");
        row("no display", "", "", "", 4, noSession);
        row("display not there", "", deadDisplay, "", 4, noSession + '|' + deadDisplay);
    }
    void start()
    {
        QFETCH(QByteArray, arguments);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, settingsFile);
        QFETCH(QByteArray, said);
        QFETCH(int, exitCode);
#ifdef Q_OS_WIN
        if (exitCode == ExitStatus::NoGraphicalSession)
            QSKIP("Windows always has its desktop: DISPLAY names nothing there");
        // Windows keeps the user's settings in the roaming profile, which no variable moves:
        // the row's file goes there, and the user's own comes back afterwards.
        const QString settingsPath = PanelSettings::userFile();
#else
        const QString settingsPath = m_home->filePath(u"config/Korvan/Korvan.ini"_s);
#endif
        const QString kept = m_home->filePath(u"kept.ini"_s);
        const auto putBack = qScopeGuard([&] {
            if (!settingsFile.isEmpty() && QFile::remove(settingsPath))
                QFile::rename(kept, settingsPath);
        });
        if (!settingsFile.isEmpty()) {
            QVERIFY(!QFile::exists(settingsPath) || QFile::rename(settingsPath, kept));
            QVERIFY(QDir().mkpath(QFileInfo(settingsPath).absolutePath()));
            QFile file(settingsPath);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settingsFile) >= 0);
            said += '|' + QDir::toNativeSeparators(settingsPath).toUtf8();
        }
        QProcess process;
        launch(process, QString::fromLatin1(arguments).split(u' ', Qt::SkipEmptyParts),
               QString::fromLatin1(display));
        QVERIFY2(process.waitForFinished(120000), "the program did not end");
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        // The C runtime on Windows writes line ends as CR LF.
        const QByteArray stdOut = process.readAllStandardOutput().replace("\r\n", "\n");
        const QByteArray stdErr = process.readAllStandardError();
        const QByteArray &shown = exitCode ? stdErr : stdOut;
        for (const QByteArray &part : said.split('|'))
            QVERIFY2(shown.contains(part), shown.constData());
        // Qt's own advice to reinstall is no answer to a missing display.
        QVERIFY2(!stdErr.contains("einstall"), stdErr.constData());
    }
    // A second start is refused and brings the first to the front; a killed panel's stale lock
    // stops no later start; the last first panel, here in the test, keeps its controller.
    void secondStart()
    {
        const QString firstHistory = m_home->filePath(u"first.log"_s);
        const auto historyHas = [&](const QByteArray &text) {
            return QTest::qWaitFor(
                [&] {
                    QFile file(firstHistory);
                    return file.open(QIODevice::ReadOnly) && file.readAll().contains(text);
                },
                60000);
        };
        QProcess first;
        launch(first, {u"--log-file"_s, firstHistory});
        QVERIFY(historyHas("korvan.app: Korvan v1.0 started"));
        QVERIFY(refusedStart());
        QVERIFY(historyHas("second start refused; this panel's window comes to"));
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        QVERIFY(first.waitForFinished());
        QVERIFY(QFile::exists(runtimeFolder() + u"/korvan.lock"_s));
        SingleInstance lock(runtimeFolder());
        QCOMPARE(lock.claim(), SingleInstance::Claim::First);
        QSignalSpy shown(&lock, &SingleInstance::showRequested);
        ConnectedPanel panel;
        QVERIFY(shown.isValid() && panel.startConnected());
        QVERIFY(refusedStart());
        QVERIFY(waitUntil([&] { return shown.count() == 1; }));
        // The panel still has its controller: inputs come in, frames go out.
        panel.peer.send("00000001");
        QVERIFY(waitUntil([&] { return panel.ui().I[0]->backColor() == Bgr::Green; }));
        panel.press(11);
        QCOMPARE(panel.peer.waitForLine(), QByteArray("000000010000000000000000F"));
    }

private:
    QString runtimeFolder() const
    {
#ifdef Q_OS_WIN
        // Windows has no variable for it: the panel's lock sits in the user's own folder.
        return SingleInstance::defaultFolder();
#else
        return m_home->filePath(u"run"_s);
#endif
    }
    // A user's private folders; the display as the rows of start() name it.
    void launch(QProcess &process, const QStringList &arguments,
                const QString &display = u"offscreen"_s)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"HOME"_s, m_home->path());
        env.insert(u"XDG_CONFIG_HOME"_s, m_home->filePath(u"config"_s));
        env.insert(u"XDG_DATA_HOME"_s, m_home->filePath(u"data"_s));
        env.insert(u"XDG_RUNTIME_DIR"_s, runtimeFolder());
        // The checks read the panel's history: whatever rules the caller set must not mute it.
        env.remove(u"QT_LOGGING_RULES"_s);
        env.insert(u"QT_QPA_PLATFORM"_s, display);
        if (display != u"offscreen") {
            for (const QString &name : {u"QT_QPA_PLATFORM"_s, u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s})
                env.remove(name);
            if (!display.isEmpty())
                env.insert(u"DISPLAY"_s, display);
        }
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(KORVAN_EXECUTABLE), arguments);
    }
    // Runs with the event loop running: the panel asked to come to the front may be this one.
    bool refusedStart()
    {
        QProcess second;
        launch(second, {});
        const bool ended
            = QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 120000);
        const QByteArray err = second.readAllStandardError();
        qInfo("second start: %s", err.constData());
        return ended && second.exitCode() == 1 && err.contains("Panel Korvan jest już uruchomiony");
    }

    std::unique_ptr<QTemporaryDir> m_home;
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
