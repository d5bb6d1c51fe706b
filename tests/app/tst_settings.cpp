#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "commandline.h"
#include "panelsettings.h"

// Where the settings come from and what a fault in them says: read as the panel reads
// them, without a window.
class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void fault_data();
    void fault();
    void precedence_data();
    void precedence();

private:
    // The system and the user file; "-" leaves a file out, "<dir>" puts a folder there.
    void write(const QByteArray &system, const QByteArray &user);
    QString systemPath() const { return m_dir->filePath(QStringLiteral("etc/Korvan.ini")); }
    QString userPath() const { return m_dir->filePath(QStringLiteral("home/Korvan.ini")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("etc")));
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("home")));
}

void TestSettings::write(const QByteArray &system, const QByteArray &user)
{
    const std::pair<QString, QByteArray> files[] = {{systemPath(), system}, {userPath(), user}};
    for (const auto &[path, content] : files) {
        if (content == "-")
            continue;
        if (content == "<dir>") {
            QVERIFY(QDir().mkpath(path));
            continue;
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
}

void TestSettings::fault_data()
{
    QTest::addColumn<QByteArray>("system");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QStringList>("arguments");
    // "SYSTEM" and "USER" stand for the files' paths.
    QTest::addColumn<QStringList>("named");
    QTest::addColumn<bool>("inCommandLine");
    const auto row = [](const char *name, const char *system, const char *user, QStringList args,
                        QStringList named, bool option = false) {
        QTest::newRow(name) << QByteArray(system) << QByteArray(user) << args << named << option;
    };
    const QString listen = QStringLiteral("Network/Listen");
    const QString allow = QStringLiteral("Network/Allow");
    row("address out of range", "[Network]\nListen=10.0.0.300\n", "-", {},
        {QStringLiteral("SYSTEM"), listen, QStringLiteral("10.0.0.300")});
    row("short IPv4 form", "-", "[Network]\nListen=10.1\n", {},
        {QStringLiteral("USER"), listen, QStringLiteral("10.1")});
    row("host name", "-", "[Network]\nListen=panel.local\n", {},
        {QStringLiteral("USER"), listen, QStringLiteral("panel.local")});
    row("prefix too long", "-", "[Network]\nAllow=192.168.1.5, 10.0.0.0/33\n", {},
        {QStringLiteral("USER"), allow, QStringLiteral("10.0.0.0/33")});
    row("IPv6 prefix too long", "[Network]\nAllow=fd00::/129\n", "-", {},
        {QStringLiteral("SYSTEM"), allow, QStringLiteral("fd00::/129")});
    row("empty prefix", "[Network]\nAllow=10.0.0.0/\n", "-", {},
        {QStringLiteral("SYSTEM"), allow, QStringLiteral("10.0.0.0/")});
    row("unknown key", "-", "[Network]\nListn=10.0.0.1\n", {},
        {QStringLiteral("USER"), QStringLiteral("Network/Listn"), QStringLiteral("10.0.0.1"),
         QStringLiteral("unknown key")});
    row("unknown key outside a section", "Colour=red\n", "-", {},
        {QStringLiteral("SYSTEM"), QStringLiteral("Colour"), QStringLiteral("red")});
    row("timeout not a number", "-", "[Network]\nIdleTimeout=ten\n", {},
        {QStringLiteral("USER"), QStringLiteral("Network/IdleTimeout"), QStringLiteral("ten")});
    row("timeout zero", "-", "[Network]\nUnacknowledgedTimeout=0\n", {},
        {QStringLiteral("USER"), QStringLiteral("Network/UnacknowledgedTimeout"),
         QStringLiteral("\"0\"")});
    row("empty history path", "[History]\nFile=\n", "-", {},
        {QStringLiteral("SYSTEM"), QStringLiteral("History/File")});
    row("unreadable file", "<dir>", "-", {},
        {QStringLiteral("SYSTEM"), QStringLiteral("cannot be read")});
    // A fault in the system file refuses the start even when the user's file is good.
    row("system fault under a good user file", "[Network]\nListen=1.2.3\n",
        "[Network]\nListen=10.0.0.1\n", {}, {QStringLiteral("SYSTEM"), QStringLiteral("1.2.3")});
    row("bad --listen", "-", "-", {QStringLiteral("--listen"), QStringLiteral("localhost")},
        {QStringLiteral("--listen"), QStringLiteral("localhost")}, true);
    row("bad --allow among good ones", "-", "-",
        {QStringLiteral("--allow"), QStringLiteral("10.0.0.1"), QStringLiteral("--allow"),
         QStringLiteral("10.0.0.1/8x")},
        {QStringLiteral("--allow"), QStringLiteral("10.0.0.1/8x")}, true);
}

void TestSettings::fault()
{
    QFETCH(QByteArray, system);
    QFETCH(QByteArray, user);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, named);
    QFETCH(bool, inCommandLine);
    write(system, user);
    CommandLine commandLine;
    QCOMPARE(commandLine.parse(QStringList {QStringLiteral("korvan")} + arguments),
             CommandLine::Outcome::Run);
    PanelSettings::Fault fault;
    QVERIFY(!PanelSettings::load(systemPath(), userPath(), commandLine, &fault));
    for (QString part : named) {
        part.replace(QStringLiteral("SYSTEM"), QDir::toNativeSeparators(systemPath()));
        part.replace(QStringLiteral("USER"), QDir::toNativeSeparators(userPath()));
        QVERIFY2(fault.message.contains(part), qPrintable(fault.message));
    }
    QCOMPARE(fault.inCommandLine, inCommandLine);
}

void TestSettings::precedence_data()
{
    QTest::addColumn<QByteArray>("system");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("listen");
    QTest::addColumn<QStringList>("allowed");
    QTest::addColumn<int>("idle");
    QTest::addColumn<int>("unacknowledged");
    QTest::addColumn<QString>("logFile");
    const QString any = QHostAddress(QHostAddress::Any).toString();
    QTest::newRow("no files, no options") << QByteArray("-") << QByteArray("-") << QStringList()
                                          << any << QStringList() << 10 << 5 << QString();
    QTest::newRow("system file") << QByteArray(
        "[Network]\nListen=192.168.10.1\nAllow=192.168.10.20\nIdleTimeout=20\n"
        "[History]\nFile=/var/log/korvan.log\n")
                                 << QByteArray("-") << QStringList()
                                 << QStringLiteral("192.168.10.1")
                                 << QStringList {QStringLiteral("192.168.10.20/32")} << 20 << 5
                                 << QStringLiteral("/var/log/korvan.log");
    QTest::newRow("user file wins key by key")
        << QByteArray("[Network]\nListen=192.168.10.1\nAllow=10.0.0.0/8\nIdleTimeout=20\n")
        << QByteArray("[Network]\nListen=192.168.20.1\nUnacknowledgedTimeout=7\n") << QStringList()
        << QStringLiteral("192.168.20.1") << QStringList {QStringLiteral("10.0.0.0/8")} << 20 << 7
        << QString();
    QTest::newRow("command line wins")
        << QByteArray("[Network]\nListen=192.168.10.1\nAllow=10.0.0.0/8\n")
        << QByteArray("[Network]\nAllow=172.16.0.0/12\n[History]\nFile=/tmp/a.log\n")
        << QStringList {QStringLiteral("--listen"),    QStringLiteral("127.0.0.1"),
                        QStringLiteral("--allow"),     QStringLiteral("127.0.0.2"),
                        QStringLiteral("--allow=::1"), QStringLiteral("--log-file"),
                        QStringLiteral("/tmp/b.log")}
        << QStringLiteral("127.0.0.1")
        << QStringList {QStringLiteral("127.0.0.2/32"), QStringLiteral("::1/128")} << 10 << 5
        << QStringLiteral("/tmp/b.log");
    QTest::newRow("networks, IPv4 and IPv6")
        << QByteArray("-") << QByteArray("[Network]\nAllow=10.1.2.3/8, fd00:1::5/32 192.168.1.7\n")
        << QStringList() << any
        << QStringList {QStringLiteral("10.1.2.3/8"), QStringLiteral("fd00:1::5/32"),
                        QStringLiteral("192.168.1.7/32")}
        << 10 << 5 << QString();
    QTest::newRow("empty allow list in the user file opens to anyone")
        << QByteArray("[Network]\nAllow=10.0.0.0/8\n") << QByteArray("[Network]\nAllow=\n")
        << QStringList() << any << QStringList() << 10 << 5 << QString();
}

void TestSettings::precedence()
{
    QFETCH(QByteArray, system);
    QFETCH(QByteArray, user);
    QFETCH(QStringList, arguments);
    QFETCH(QString, listen);
    QFETCH(QStringList, allowed);
    QFETCH(int, idle);
    QFETCH(int, unacknowledged);
    QFETCH(QString, logFile);
    write(system, user);
    CommandLine commandLine;
    QCOMPARE(commandLine.parse(QStringList {QStringLiteral("korvan")} + arguments),
             CommandLine::Outcome::Run);
    PanelSettings::Fault fault;
    const auto settings = PanelSettings::load(systemPath(), userPath(), commandLine, &fault);
    QVERIFY2(settings, qPrintable(fault.message));
    QCOMPARE(settings->listenAddress.toString(), listen);
    QStringList shown;
    for (const auto &[address, prefix] : settings->allowedPeers)
        shown << address.toString() + QLatin1Char('/') + QString::number(prefix);
    QCOMPARE(shown, allowed);
    QCOMPARE(settings->idleSeconds, idle);
    QCOMPARE(settings->unacknowledgedSeconds, unacknowledged);
    QCOMPARE(settings->logFile, logFile);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
