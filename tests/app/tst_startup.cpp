#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QScopeGuard>

#include <optional>

#include "connectedpanel.h"
#include "exitstatus.h"
#include "operatorprocess.h"
#include "panelhome.h"
#include "panelsettings.h"
#include "panelsettingsload.h"
#include "singleinstance.h"

using namespace Qt::StringLiterals;

// A settings file's bytes, or no file at all.
using FileText = std::optional<QByteArray>;
Q_DECLARE_METATYPE(FileText)

// The settings a load ends with.
struct Expected
{
    QString listen = u"0.0.0.0"_s;
    QStringList allowed;
    int idle = 10;
    int unacknowledged = 5;
    QString logFile;
};
Q_DECLARE_METATYPE(Expected)

// Where a fault is: the settings files' paths differ only in their folders.
enum class Source { SystemFile, UserFile, CommandLine };
Q_DECLARE_METATYPE(Source)

// What stands where the user's settings file should be.
enum class Obstacle {
    UnsearchableFolder,
    UnreadableFile,
    Folder,
    Pipe,
    LinkToNothing,
    FileAsFolder
};
Q_DECLARE_METATYPE(Obstacle)

// What the history path names.
enum class Target { Pipe, Folder };
Q_DECLARE_METATYPE(Target)

namespace {

const FileText none;

Expected allowing(const QStringList &allowed)
{
    Expected expected;
    expected.allowed = allowed;
    return expected;
}

Expected loggingTo(const QString &path)
{
    Expected expected;
    expected.logFile = path;
    return expected;
}

QByteArray windowsPath(const char *path)
{
    return "[History]\nFile=" + QByteArray(path) + '\n';
}

} // namespace

// The program started as a user starts it, and the settings it starts with.
class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<PanelHome>();
        QVERIFY(m_home->isValid());
    }
    // Settings read as the panel reads them: the system file, the user's file, the options.
    void settings_data()
    {
        QTest::addColumn<FileText>("system");
        QTest::addColumn<FileText>("user");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Expected>("expected");
        QTest::newRow("user file wins key by key")
            << FileText("[Network]\nListen=192.168.10.1\nAllow=10.0.0.0/8\nIdleTimeout=20\n"
                        "[History]\nFile=/var/log/korvan.log\n")
            << FileText("[Network]\nListen=192.168.20.1\nUnacknowledgedTimeout=7\n")
            << QStringList()
            << Expected {u"192.168.20.1"_s, {u"10.0.0.0/8"_s}, 20, 7, u"/var/log/korvan.log"_s};
        QTest::newRow("command line wins")
            << FileText("[Network]\nListen=192.168.10.1\nAllow=10.0.0.0/8\n")
            << FileText("[Network]\nAllow=172.16.0.0/12\n[History]\nFile=/tmp/a.log\n")
            << QStringList {u"--listen"_s,    u"127.0.0.1"_s,  u"--allow"_s,   u"127.0.0.2"_s,
                            u"--allow=::1"_s, u"--log-file"_s, u"/tmp/b.log"_s}
            << Expected {u"127.0.0.1"_s, {u"127.0.0.2/32"_s, u"::1/128"_s}, 10, 5, u"/tmp/b.log"_s};
        QTest::newRow("networks, IPv4 and IPv6, apart by commas and blanks")
            << none << FileText("[Network]\nAllow=10.1.2.3/8,fd00:1::5/32 \t192.168.1.7\n")
            << QStringList() << allowing({u"10.1.2.3/8"_s, u"fd00:1::5/32"_s, u"192.168.1.7/32"_s});
        QTest::newRow("as Notepad writes it")
            << none
            << FileText("\xEF\xBB\xBF; the plant\r\n[ Network ]\r\n\r\n# the spare too\r\n"
                        "  listen = 10.0.0.1  \r\nALLOW=\"10.0.0.2, 10.0.0.3\"\r\n")
            << QStringList()
            << Expected {u"10.0.0.1"_s, {u"10.0.0.2/32"_s, u"10.0.0.3/32"_s}, 10, 5, {}};
        QTest::newRow("comma and semicolon in a path")
            << none << FileText(windowsPath("/var/log/korvan,old;2/history.log")) << QStringList()
            << loggingTo(u"/var/log/korvan,old;2/history.log"_s);
        // Written as Windows users write them, they mean what they say on either platform.
        const std::pair<const char *, QString> paths[] = {
            {"C:\\KorvanLogs\\history.log", u"C:\\KorvanLogs\\history.log"_s},
            {"C:\\Korvan Logs\\history.log", u"C:\\Korvan Logs\\history.log"_s},
            {"\\\\localhost\\KorvanLogs\\history.log", u"\\\\localhost\\KorvanLogs\\history.log"_s},
            {"\"C:\\Program Files\\Korvan\\history.log\"",
             u"C:\\Program Files\\Korvan\\history.log"_s},
            {"C:/KorvanLogs/history.log", u"C:/KorvanLogs/history.log"_s}};
        for (const auto &[written, meant] : paths)
            QTest::newRow(written)
                << none << FileText(windowsPath(written)) << QStringList() << loggingTo(meant);
    }
    void settings()
    {
        QFETCH(FileText, system);
        QFETCH(FileText, user);
        QFETCH(QStringList, arguments);
        QFETCH(Expected, expected);
        PanelSettings::Fault fault;
        const auto settings = load(system, user, arguments, &fault);
        QVERIFY2(settings, qPrintable(fault.message));
        QStringList allowed;
        for (const auto &[address, prefix] : settings->allowedPeers)
            allowed << address.toString() + u'/' + QString::number(prefix);
        QCOMPARE(settings->listenAddress.toString(), expected.listen);
        QCOMPARE(allowed, expected.allowed);
        QCOMPARE(settings->idleSeconds, expected.idle);
        QCOMPARE(settings->unacknowledgedSeconds, expected.unacknowledged);
        QCOMPARE(settings->logFile, expected.logFile);
    }
    // A fault refuses the whole configuration; its message names where it is and what.
    void settingsFaults_data()
    {
        QTest::addColumn<FileText>("system");
        QTest::addColumn<FileText>("user");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Source>("source");
        QTest::addColumn<QStringList>("named");
        const auto inUser = [](const char *name, const QByteArray &text, const QStringList &named) {
            QTest::newRow(name) << none << FileText(text) << QStringList() << Source::UserFile
                                << named;
        };
        QTest::newRow("address out of range")
            << FileText("[Network]\nListen=10.0.0.300\n") << none << QStringList()
            << Source::SystemFile << QStringList {u"Network/Listen"_s, u"10.0.0.300"_s};
        // A fault in the system file refuses the start even when the user's file is good.
        QTest::newRow("system fault under a good user file")
            << FileText("[Network]\nListen=1.2.3\n") << FileText("[Network]\nListen=10.0.0.1\n")
            << QStringList() << Source::SystemFile << QStringList {u"1.2.3"_s};
        QTest::newRow("bad --listen")
            << none << none << QStringList {u"--listen"_s, u"localhost"_s} << Source::CommandLine
            << QStringList {u"--listen"_s, u"localhost"_s};
        QTest::newRow("quote in --log-file")
            << none << none << QStringList {u"--log-file"_s, u"\"C:\\Logs\\history.log"_s}
            << Source::CommandLine << QStringList {u"--log-file"_s, u"a quote"_s};
        // The list's one bad entry is named, not only the whole value.
        inUser("bad entry in a list", "[Network]\nAllow=192.168.1.5, fd00::/129\n",
               {u"Network/Allow"_s, u"\"fd00::/129\" is not"_s});
        inUser("semicolon inside a list", "[Network]\nAllow=127.0.0.1;127.0.0.2\n",
               {u"\"127.0.0.1;127.0.0.2\" is not"_s});
        inUser("unknown key", "[Network]\nListn=10.0.0.1\n",
               {u"Network/Listn"_s, u"10.0.0.1"_s, u"unknown key"_s});
        inUser("key outside a section", "Listen=10.0.0.1\n", {u"key Listen,"_s, u"unknown key"_s});
        inUser("timeout not a number", "[Network]\nIdleTimeout=ten\n",
               {u"Network/IdleTimeout"_s, u"ten"_s});
        inUser("timeout zero", "[Network]\nUnacknowledgedTimeout=0\n",
               {u"Network/UnacknowledgedTimeout"_s, u"\"0\""_s});
        inUser("empty history path", "[History]\nFile=\n", {u"History/File"_s, u"empty path"_s});
        inUser("allow list of separators", "[Network]\nAllow=\" , \"\n",
               {u"Network/Allow"_s, u"empty list"_s});
        inUser("@Variant", "[Network]\nAllow=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xeQStringList)\n",
               {u"Network/Allow"_s, u"@Variant("_s, u"typed value"_s});
        inUser("@ByteArray", "[Network]\nListen=@ByteArray(10.0.0.1)\n",
               {u"Network/Listen"_s, u"typed value"_s});
        inUser("key twice", "[Network]\nListen=10.0.0.1\nListen=10.0.0.2\n",
               {u"Network/Listen"_s, u"10.0.0.2"_s, u"twice, on lines 2 and 3"_s});
        inUser("key twice in other cases",
               "[Network]\nListen=10.0.0.1\n[network]\nLISTEN=10.0.0.2\n",
               {u"network/LISTEN"_s, u"twice, on lines 2 and 4"_s});
        inUser("lines without =", "Listen 10.0.0.1\nAllow 10.0.0.2\n",
               {u"line 1"_s, u"\"Listen 10.0.0.1\""_s, u"not a key=value line"_s});
        inUser("unclosed section", "[Network\nListen=10.0.0.1\n",
               {u"line 1"_s, u"\"[Network\""_s, u"[Section]"_s});
        inUser("UTF-16", QByteArray("\xFF\xFE[\0N\0]\0\n\0", 10), {u"UTF-16"_s});
        inUser("not UTF-8",
               "[History]\nFile=C:\\Logi\\\xB3\xF3"
               "d\xBC.log\n",
               {u"line 2"_s, u"not UTF-8"_s});
        inUser("escape sequence in a path", "[History]\nFile=/tmp/a\x1b[31m.log\n",
               {u"History/File"_s, u"\\x1b[31m"_s, u"control character"_s});
        inUser("unbalanced quote in a Windows path", windowsPath("\"C:\\Korvan Logs\\history.log"),
               {u"History/File"_s, u"a quote"_s});
    }
    void settingsFaults()
    {
        QFETCH(FileText, system);
        QFETCH(FileText, user);
        QFETCH(QStringList, arguments);
        QFETCH(Source, source);
        QFETCH(QStringList, named);
        PanelSettings::Fault fault;
        QVERIFY(!load(system, user, arguments, &fault));
        QCOMPARE(fault.inCommandLine, source == Source::CommandLine);
        if (source != Source::CommandLine)
            named << QDir::toNativeSeparators(
                source == Source::SystemFile ? systemPath() : m_home->userSettings());
        for (const QString &name : std::as_const(named))
            QVERIFY2(fault.message.contains(name), qPrintable(fault.message));
        QVERIFY2(std::none_of(fault.message.cbegin(), fault.message.cend(),
                              [](QChar c) { return c.category() == QChar::Other_Control; }),
                 qPrintable(fault.message));
    }
    // An allowed peer as written: only a full address, with a plain prefix, is taken; the
    // address is kept as written, not masked to its network.
    void peerEntries_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QHostAddress>("address"); // null: refused
        QTest::addColumn<int>("prefix");
        const auto taken = [](const char *entry, const char *address, int prefix) {
            QTest::newRow(entry) << QString::fromLatin1(entry)
                                 << QHostAddress(QLatin1String(address)) << prefix;
        };
        taken("192.168.1.20", "192.168.1.20", 32);
        taken(" 10.1.2.3/8 ", "10.1.2.3", 8);
        taken("::ffff:192.168.1.20", "::ffff:192.168.1.20", 128);
        taken("fd00::/64", "fd00::", 64);
        taken("0.0.0.0/0", "0.0.0.0", 0);
        for (const char *refused :
             {" ", "/24", "192.168.1.20/", "192.168.1.20/33", "fd00::/129", "192.168.1.20/-1",
              "192.168.1.20/+8", "192.168.1.20/8/8", "192.168.1.20/x", "192.168.1", "10.1",
              "256.1.1.1", "fe80::1%eth0", "controller.local", "192.168.1.20 junk",
              "10.0.0.1,192.168.1.20"})
            QTest::addRow("refused [%s]", refused)
                << QString::fromLatin1(refused) << QHostAddress() << -1;
    }
    void peerEntries()
    {
        QFETCH(QString, entry);
        QFETCH(QHostAddress, address);
        QFETCH(int, prefix);
        const auto subnet = PanelSettings::parsePeer(entry);
        QCOMPARE(subnet.value_or(SocketControl::Subnet {QHostAddress(), -1}),
                 (SocketControl::Subnet {address, prefix}));
    }
    // The display: "offscreen", none (""), or a DISPLAY with no server behind it; the user's
    // settings file; what the program must say: on standard output if it ends well, else on
    // standard error.
    void start_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<FileText>("settingsFile");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("said");
        int unused = 500;
        while (QFile::exists(u"/tmp/.X11-unix/X%1"_s.arg(unused)))
            ++unused;
        const QByteArray deadDisplay = ':' + QByteArray::number(unused);
        const QStringList noSession {u"wymaga sesji graficznej"_s, u"needs a graphical session"_s};
        const QByteArray flood(10 * 1024 * 1024, 'A');
        QTest::newRow("--help needs no display")
            << QStringList {u"--help"_s} << QByteArray() << none << 0
            << QStringList {u"--allow <ADDRESS[/PREFIX]>"_s};
        QTest::newRow("--version needs no display")
            << QStringList {u"--version"_s} << QByteArray() << none << 0
            << QStringList {u"Korvan v1.0\n"_s};
        QTest::newRow("unknown option")
            << QStringList {u"--bogus"_s} << QByteArray("offscreen") << none << 2
            << QStringList {u"bogus"_s, u"Usage: korvan"_s};
        QTest::newRow("unknown option that drives the terminal")
            << QStringList {u"--\x1b]0;title\x07"_s} << QByteArray("offscreen") << none << 2
            << QStringList {u"\\x1b]0;title\\x07"_s, u"Usage: korvan"_s};
        QTest::newRow("stray argument") << QStringList {u"6165"_s} << QByteArray("offscreen")
                                        << none << 2 << QStringList {u"6165"_s, u"Usage: korvan"_s};
        QTest::newRow("bad --allow value")
            << QStringList {u"--allow"_s, u"10.0.0.0/33"_s} << QByteArray("offscreen") << none << 2
            << QStringList {u"--allow"_s, u"10.0.0.0/33"_s};
        // A Windows command line holds at most 32767 characters.
        QTest::newRow("long --allow value with an escape and a line break")
            << QStringList {u"--allow"_s, u"\x1b[31m\n"_s + QString::fromLatin1(flood.left(30000))}
            << QByteArray("offscreen") << none << 2
            << QStringList {u"--allow"_s, u"\"\\x1b[31m\\x0aAAA"_s, u"(30006 characters)"_s};
        // The message names the settings file too (checked where it is written).
        QTest::newRow("settings file fault")
            << QStringList() << QByteArray("offscreen")
            << FileText("[Network]\nAllow=192.168.1.300\n") << 3
            << QStringList {u"Network/Allow"_s, u"192.168.1.300"_s};
        QTest::newRow("10 MB value with an escape in the settings file")
            << QStringList() << QByteArray("offscreen")
            << FileText("[Network]\nAllow=\x1b[31m" + flood + '\n') << 3
            << QStringList {u"Network/Allow"_s, u"\"\\x1b[31mAAA"_s, u"(10485765 characters)"_s};
        QTest::newRow("no display") << QStringList() << QByteArray() << none << 4 << noSession;
        QTest::newRow("display not there")
            << QStringList() << deadDisplay << none << 4
            << noSession + QStringList {QString::fromLatin1(deadDisplay)};
    }
    void start()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, display);
        QFETCH(FileText, settingsFile);
        QFETCH(QStringList, said);
        QFETCH(int, exitCode);
#ifdef Q_OS_WIN
        if (exitCode == ExitStatus::NoGraphicalSession)
            QSKIP("Windows always has its desktop: DISPLAY names nothing there");
        // Windows keeps the user's settings in the roaming profile, which no variable moves:
        // the row's file goes there, and the user's own comes back afterwards.
        const QString settingsPath = PanelSettings::userFile();
#else
        const QString settingsPath = m_home->userSettings();
#endif
        const QString kept = m_home->filePath(u"kept.ini"_s);
        const auto putBack = qScopeGuard([&] {
            if (settingsFile && QFile::remove(settingsPath))
                QFile::rename(kept, settingsPath);
        });
        if (settingsFile) {
            QVERIFY(!QFile::exists(settingsPath) || QFile::rename(settingsPath, kept));
            QVERIFY(writeFile(settingsPath, *settingsFile));
            said << QDir::toNativeSeparators(settingsPath);
        }
        QProcess process;
        launch(process, arguments, QString::fromLatin1(display));
        checkEnd(process, exitCode, said);
        // Nor in the history, where the missing display is noted.
        const QByteArray lines = fileBytes(m_home->filePath(u"data/Korvan/Korvan/history.log"_s));
        QVERIFY2(!lines.contains("einstall"), lines.constData());
    }
    // Standard error that someone watches gets the history's lines too: here the one that
    // notes the missing display.
    void historyOnWatchedStderr()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows always has its desktop: DISPLAY names nothing there");
#endif
        qputenv("QT_FORCE_STDERR_LOGGING", "1");
        const auto unset = qScopeGuard([] { qunsetenv("QT_FORCE_STDERR_LOGGING"); });
        QProcess process;
        launch(process, {}, QString());
        checkEnd(process, ExitStatus::NoGraphicalSession,
                 {u"critical korvan.app: no graphical session: Korvan: the operator panel"_s});
    }
    // Only a settings file that is certainly not there is skipped: one that may be there but
    // cannot be reached or read stops the start. Started as an operator: root reads anything.
    void unreachableSettings_data()
    {
        QTest::addColumn<Obstacle>("obstacle");
        QTest::addColumn<bool>("systemFile");
        QTest::addColumn<QString>("why");
        QTest::newRow("system folder that cannot be searched")
            << Obstacle::UnsearchableFolder << true << u"Korvan cannot be searched"_s;
        QTest::newRow("user folder that cannot be searched")
            << Obstacle::UnsearchableFolder << false << u"Korvan cannot be searched"_s;
        QTest::newRow("file that cannot be read")
            << Obstacle::UnreadableFile << false << u"cannot be read"_s;
        QTest::newRow("folder in place of the file")
            << Obstacle::Folder << false << u"a folder stands where"_s;
        QTest::newRow("pipe in place of the file")
            << Obstacle::Pipe << true << u"not a regular file"_s;
        QTest::newRow("link to nothing") << Obstacle::LinkToNothing << false << u"leads nowhere"_s;
        QTest::newRow("file in place of the folder")
            << Obstacle::FileAsFolder << false << u"Korvan on its path is not a folder"_s;
    }
    void unreachableSettings()
    {
        QFETCH(Obstacle, obstacle);
        QFETCH(bool, systemFile);
        QFETCH(QString, why);
#ifdef Q_OS_WIN
        QSKIP("the settings folders cannot be moved, and need no search permission, on Windows");
#endif
        // The operator reaches the test's folders by their modes.
        QVERIFY(QFile::setPermissions(m_home->path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          | QFile::ReadOther | QFile::ExeOther));
        const QString path = systemFile ? systemPath() : m_home->userSettings();
        const QString folder = QFileInfo(path).path();
        const auto searchable = qScopeGuard([&] {
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        const QByteArray good = "[Network]\nListen=127.0.0.1\n";
        switch (obstacle) {
        case Obstacle::UnsearchableFolder:
            QVERIFY(writeFile(path, good));
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner));
            break;
        case Obstacle::UnreadableFile:
            QVERIFY(writeFile(path, good) && QFile::setPermissions(path, {}));
            break;
        case Obstacle::Folder:
            QVERIFY(QDir().mkpath(path));
            break;
        case Obstacle::Pipe:
            QVERIFY(QDir().mkpath(folder));
            QCOMPARE(QProcess::execute(u"mkfifo"_s, {path}), 0);
            break;
        case Obstacle::LinkToNothing:
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(QFile::link(m_home->filePath(u"nowhere.ini"_s), path));
            break;
        case Obstacle::FileAsFolder:
            QVERIFY(writeFile(folder, good));
            break;
        }
        QProcess process;
        launch(process, {}, u"offscreen"_s, AsOperator::Yes);
        checkEnd(process, ExitStatus::SettingsError, {QDir::toNativeSeparators(path), why});
    }
    // The history needs a file of its own: anything else ends the start at once, as a bad
    // option or a settings fault; a pipe without a reader must not hold it.
    void historyTarget_data()
    {
        QTest::addColumn<Target>("target");
        QTest::addColumn<bool>("inSettingsFile");
        QTest::addColumn<QString>("why");
        for (const bool inFile : {false, true}) {
            const char *given = inFile ? "File=" : "--log-file";
            QTest::addRow("pipe as %s", given) << Target::Pipe << inFile << u"not a regular file"_s;
            QTest::addRow("folder as %s", given) << Target::Folder << inFile << u"a folder"_s;
        }
    }
    void historyTarget()
    {
        QFETCH(Target, target);
        QFETCH(bool, inSettingsFile);
        QFETCH(QString, why);
#ifdef Q_OS_WIN
        if (target != Target::Folder)
            QSKIP("no pipe or device lives among the files on Windows");
        if (inSettingsFile)
            QSKIP("the row would replace the user's own settings file");
#endif
        const QString path = m_home->filePath(u"history"_s);
        if (target == Target::Pipe)
            QCOMPARE(QProcess::execute(u"mkfifo"_s, {path}), 0);
        else
            QVERIFY(QDir().mkpath(path));
        // The path as it was given.
        QStringList said {path, why};
        QStringList arguments {u"--log-file"_s, path};
        if (inSettingsFile) {
            arguments.clear();
            QVERIFY(writeFile(m_home->userSettings(), "[History]\nFile=" + path.toUtf8() + '\n'));
            said << u"History/File"_s << m_home->userSettings();
        }
        QProcess process;
        launch(process, arguments);
        checkEnd(process, inSettingsFile ? ExitStatus::SettingsError : ExitStatus::UsageError,
                 said);
    }
    // A second start is refused and brings the first to the front, leaving the first's history
    // as it was but for the first's own note; a killed panel's stale lock stops no later start;
    // the last first panel, here in the test, keeps its controller.
    void secondStart()
    {
        const QString firstHistory = m_home->filePath(u"first.log"_s);
        const auto history = [&] {
            return fileBytes(firstHistory);
        };
        const auto historyHas = [&](const QByteArray &text) {
            return QTest::qWaitFor([&] { return history().contains(text); }, 60000);
        };
        QProcess first;
        launch(first, {u"--log-file"_s, firstHistory});
        QVERIFY(historyHas("korvan.app: Korvan v1.0 started"));
        QVERIFY(refusedStart(firstHistory));
        QVERIFY(historyHas("second start refused; this panel's window comes to"));
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        QVERIFY(first.waitForFinished());
        // Whole lines of the first panel only: the second start's Qt warning went elsewhere.
        const QList<QByteArray> lines = history().split('\n');
        QVERIFY(lines.size() > 2 && lines.last().isEmpty());
        for (const QByteArray &line : lines.first(lines.size() - 1)) {
            const QString time = QString::fromLatin1(line.left(line.indexOf(' ')));
            QVERIFY2(QDateTime::fromString(time, Qt::ISODateWithMs).isValid(), line);
            QVERIFY2(!line.contains(SecondStartWarning), line);
        }
        QVERIFY(QFile::exists(runtimeFolder() + u"/korvan.lock"_s));
        SingleInstance lock(runtimeFolder());
        QCOMPARE(lock.claim(), SingleInstance::Claim::First);
        QSignalSpy shown(&lock, &SingleInstance::showRequested);
        ConnectedPanel panel;
        QVERIFY(shown.isValid() && panel.startConnected());
        QVERIFY(refusedStart(firstHistory));
        QVERIFY(waitUntil([&] { return shown.count() == 1; }));
        // The panel still has its controller: inputs come in, frames go out.
        panel.peer.send("00000001");
        QVERIFY(waitUntil([&] { return panel.ui().I[0]->backColor() == Bgr::Green; }));
        panel.press(11);
        QCOMPARE(panel.peer.waitForLine(), QByteArray("000000010000000000000000F"));
    }

    // Two starts at the same instant: the one refused waits for the other to come up, has it
    // brought to the front and noted, and says so.
    void secondStartAtTheSameInstant()
    {
        const QString history = m_home->filePath(u"history.log"_s);
        QProcess starts[2];
        for (QProcess &start : starts)
            launch(start, {u"--log-file"_s, history});
        QVERIFY(QTest::qWaitFor(
            [&] {
                return std::any_of(std::begin(starts), std::end(starts),
                                   [](QProcess &p) { return p.state() == QProcess::NotRunning; });
            },
            120000));
        const bool firstRefused = starts[0].state() == QProcess::NotRunning;
        QProcess &refused = starts[firstRefused ? 0 : 1];
        QProcess &panel = starts[firstRefused ? 1 : 0];
        const QByteArray said = refused.readAllStandardError();
        qInfo("refused start: %s", said.constData());
        QCOMPARE(refused.exitCode(), ExitStatus::AlreadyRunning);
        QVERIFY(said.contains("jego okno przeniesiono na wierzch"));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return fileBytes(history).contains("second start refused; this panel's window");
            },
            60000));
        QCOMPARE(panel.state(), QProcess::Running);
        panel.kill();
        QVERIFY(panel.waitForFinished());
    }

    // A lock left by a panel that had this process's number (after a reboot, or under Wine,
    // where new sessions hand out the same numbers) is stale, not a running panel.
    void staleLockWithOurNumber()
    {
        const QString folder = m_home->filePath(u"own-number"_s);
        QVERIFY(QDir().mkpath(folder));
        {
            QLockFile earlier(folder + u"/earlier.lock"_s);
            QVERIFY(earlier.tryLock(0));
            QVERIFY(QFile::copy(folder + u"/earlier.lock"_s, folder + u"/korvan.lock"_s));
        }
        SingleInstance lock(folder);
        QCOMPARE(lock.claim(), SingleInstance::Claim::First);
    }

private:
    enum class AsOperator { No, Yes };

    QString systemPath() const
    {
        return m_home->filePath(u"etc/Korvan/Korvan.ini"_s);
    }
    std::optional<PanelSettings> load(const FileText &system, const FileText &user,
                                      const QStringList &arguments, PanelSettings::Fault *fault)
    {
        if ((system && !writeFile(systemPath(), *system))
            || (user && !writeFile(m_home->userSettings(), *user)))
            return std::nullopt;
        return PanelSettingsLoad::load(systemPath(), m_home->userSettings(), arguments, fault);
    }
    // The program ends by itself, with the status and the texts expected; whatever it says
    // stays short and drives no terminal.
    static void checkEnd(QProcess &process, int exitCode, const QStringList &said)
    {
        QVERIFY2(process.waitForFinished(120000), "the program did not end");
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        // The C runtime on Windows writes line ends as CR LF.
        const QByteArray stdOut = process.readAllStandardOutput().replace("\r\n", "\n");
        const QByteArray stdErr = process.readAllStandardError().replace("\r\n", "\n");
        qInfo("exit status %d, %lld bytes on standard error", process.exitCode(),
              qlonglong(stdErr.size()));
        QVERIFY2(process.exitCode() == exitCode, stdErr.constData());
        const QString shown = QString::fromUtf8(exitCode ? stdErr : stdOut);
        for (const QString &part : said)
            QVERIFY2(shown.contains(part), qPrintable(shown));
        // Qt's own advice to reinstall is no answer to a missing display.
        QVERIFY2(!stdErr.contains("einstall"), stdErr.constData());
        QVERIFY2(
            std::none_of(stdErr.cbegin(), stdErr.cend(),
                         [](char c) { return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7F; }),
            stdErr.constData());
        QVERIFY2(stdErr.size() < 4096, stdErr.left(4096).constData());
    }
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
                const QString &display = u"offscreen"_s, AsOperator asOperator = AsOperator::No)
    {
        QProcessEnvironment env = m_home->environment();
        env.insert(u"XDG_RUNTIME_DIR"_s, runtimeFolder());
        env.insert(u"QT_QPA_PLATFORM"_s, display);
        if (display != u"offscreen") {
            for (const QString &name : {u"QT_QPA_PLATFORM"_s, u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s})
                env.remove(name);
            if (!display.isEmpty())
                env.insert(u"DISPLAY"_s, display);
        }
        process.setProcessEnvironment(env);
        if (asOperator == AsOperator::Yes)
            OperatorProcess::start(process, QStringLiteral(KORVAN_EXECUTABLE), arguments);
        else
            process.start(QStringLiteral(KORVAN_EXECUTABLE), arguments);
    }
    // Runs with the event loop running: the panel asked to come to the front may be this one.
    // The second start shares the first's history file, and Qt warns as it starts.
    bool refusedStart(const QString &history)
    {
        qputenv("QT_SCALE_FACTOR_ROUNDING_POLICY", SecondStartWarning);
        const auto unset = qScopeGuard([] { qunsetenv("QT_SCALE_FACTOR_ROUNDING_POLICY"); });
        QProcess second;
        launch(second, {u"--log-file"_s, history});
        const bool ended
            = QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 120000);
        const QByteArray err = second.readAllStandardError();
        qInfo("second start: %s", err.constData());
        return ended && second.exitCode() == 1 && err.contains("Panel Korvan jest już uruchomiony")
            && err.contains(SecondStartWarning);
    }

    static constexpr char SecondStartWarning[] = "SecondStartPolicy";

    std::unique_ptr<PanelHome> m_home;
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
