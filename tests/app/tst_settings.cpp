#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    void load_data();
    void load();
};

// The system and the user file ("-" leaves a file out, "<dir>" puts a folder there) and
// the options; then the settings read ("listen [allowed] idle unacknowledged log-file"), or
// "!" and what the fault's message must name, "|" between ("SYSTEM" and "USER" stand for the
// files' paths; an option named first means the fault is in the command line).
void TestSettings::load_data()
{
    QTest::addColumn<QByteArray>("system");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const char *system, const char *user,
                        const char *arguments, const char *expected) {
        QTest::newRow(name) << QByteArray(system) << QByteArray(user)
                            << QString::fromLatin1(arguments).split(u' ', Qt::SkipEmptyParts)
                            << QString::fromLatin1(expected);
    };
    row("address out of range", "[Network]\nListen=10.0.0.300\n", "-", "",
        "!SYSTEM|Network/Listen|10.0.0.300");
    row("host name", "-", "[Network]\nListen=panel.local\n", "",
        "!USER|Network/Listen|panel.local");
    row("prefix too long", "-", "[Network]\nAllow=192.168.1.5, 10.0.0.0/33\n", "",
        "!USER|Network/Allow|10.0.0.0/33");
    row("IPv6 prefix too long", "[Network]\nAllow=fd00::/129\n", "-", "",
        "!SYSTEM|Network/Allow|fd00::/129");
    row("unknown key", "-", "[Network]\nListn=10.0.0.1\n", "",
        "!USER|Network/Listn|10.0.0.1|unknown key");
    row("unknown key outside a section", "Colour=red\n", "-", "", "!SYSTEM|Colour|red");
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
    row("bad --allow among good ones", "-", "-", "--allow 10.0.0.1 --allow 10.0.0.1/8x",
        "!--allow|10.0.0.1/8x");

    row("no files, no options", "-", "-", "", "0.0.0.0 [] 10 5 ");
    row("system file",
        "[Network]\nListen=192.168.10.1\nAllow=192.168.10.20\nIdleTimeout=20\n"
        "[History]\nFile=/var/log/korvan.log\n",
        "-", "", "192.168.10.1 [192.168.10.20/32] 20 5 /var/log/korvan.log");
    row("user file wins key by key",
        "[Network]\nListen=192.168.10.1\nAllow=10.0.0.0/8\nIdleTimeout=20\n",
        "[Network]\nListen=192.168.20.1\nUnacknowledgedTimeout=7\n", "",
        "192.168.20.1 [10.0.0.0/8] 20 7 ");
    row("command line wins", "[Network]\nListen=192.168.10.1\nAllow=10.0.0.0/8\n",
        "[Network]\nAllow=172.16.0.0/12\n[History]\nFile=/tmp/a.log\n",
        "--listen 127.0.0.1 --allow 127.0.0.2 --allow=::1 --log-file /tmp/b.log",
        "127.0.0.1 [127.0.0.2/32 ::1/128] 10 5 /tmp/b.log");
    row("networks, IPv4 and IPv6", "-", "[Network]\nAllow=10.1.2.3/8, fd00:1::5/32 192.168.1.7\n",
        "", "0.0.0.0 [10.1.2.3/8 fd00:1::5/32 192.168.1.7/32] 10 5 ");
    row("empty allow list in the user file opens to anyone", "[Network]\nAllow=10.0.0.0/8\n",
        "[Network]\nAllow=\n", "", "0.0.0.0 [] 10 5 ");
}

void TestSettings::load()
{
    QFETCH(QByteArray, system);
    QFETCH(QByteArray, user);
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Both files have the same name: only their folders tell which one a message means.
    const QString paths[] = {dir.filePath(QStringLiteral("etc/Korvan.ini")),
                             dir.filePath(QStringLiteral("home/Korvan.ini"))};
    const QByteArray contents[] = {system, user};
    for (int i = 0; i < 2; ++i) {
        QVERIFY(QDir().mkpath(contents[i] == "<dir>" ? paths[i] : QFileInfo(paths[i]).path()));
        QFile file(paths[i]);
        if (contents[i] != "-" && contents[i] != "<dir>")
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents[i]) >= 0);
    }
    CommandLine commandLine;
    QCOMPARE(commandLine.parse(QStringList {QStringLiteral("korvan")} + arguments),
             CommandLine::Outcome::Run);
    PanelSettings::Fault fault;
    const auto settings = PanelSettings::load(paths[0], paths[1], commandLine, &fault);
    if (!expected.startsWith(u'!')) {
        QVERIFY2(settings, qPrintable(fault.message));
        QStringList allowed;
        for (const auto &[address, prefix] : settings->allowedPeers)
            allowed << address.toString() + u'/' + QString::number(prefix);
        QCOMPARE(QStringLiteral("%1 [%2] %3 %4 %5")
                     .arg(settings->listenAddress.toString(), allowed.join(u' '))
                     .arg(settings->idleSeconds)
                     .arg(settings->unacknowledgedSeconds)
                     .arg(settings->logFile),
                 expected);
        return;
    }
    QVERIFY(!settings);
    const QStringList named = expected.mid(1).split(u'|');
    for (QString part : named) {
        part.replace(QStringLiteral("SYSTEM"), QDir::toNativeSeparators(paths[0]));
        part.replace(QStringLiteral("USER"), QDir::toNativeSeparators(paths[1]));
        QVERIFY2(fault.message.contains(part), qPrintable(fault.message));
    }
    QCOMPARE(fault.inCommandLine, named.constFirst().startsWith(QLatin1String("--")));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
