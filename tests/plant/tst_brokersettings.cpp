#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include "panelhome.h"
#include "panelsettingsload.h"

using namespace Qt::StringLiterals;

// Where a fault is.
enum class Source { SettingsFile, CommandLine };
Q_DECLARE_METATYPE(Source)

// The [Broker] section and --broker, read as the panel reads its settings: the same files,
// the same precedence and the same kind of fault as [Network].
class TestBrokerSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        writeInFolder("password", "s3cret\r\nsecond line\n", QFile::ReadOwner | QFile::WriteOwner);
        writeInFolder("open-password", "s3cret\n",
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        writeInFolder("empty-password", "\n", QFile::ReadOwner | QFile::WriteOwner);
        writeInFolder("ca.crt", "-----BEGIN CERTIFICATE-----\n", QFile::ReadOwner);
        QVERIFY(QDir(m_folder->path()).mkdir(u"folder"_s));
    }

    void settings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<int>("keepAlive");
        QTest::addColumn<QString>("password");
        const QString host = QSysInfo::machineHostName();
        QTest::newRow("defaults") << QByteArray("[Broker]\nUrl=mqtt://broker.plant\n")
                                  << QStringList() << u"mqtt://broker.plant:1883"_s
                                  << u"korvan/"_s + host.toLower() << 30 << QString();
        QTest::newRow("mqtts, its port, a CA and every key")
            << QByteArray("[broker]\nurl=mqtts://10.0.0.5\nTopic=plant/hall2/panel7\n"
                          "ClientId=panel7\nUsername=panel7\nPasswordFile=@/password\n"
                          "CaFile=@/ca.crt\nKeepAlive=3600\n")
            << QStringList() << u"mqtts://10.0.0.5:8883"_s << u"plant/hall2/panel7"_s << 3600
            << u"s3cret"_s;
#ifndef Q_OS_WIN
        QTest::newRow("mqtts without a CA: the system's certificates")
            << QByteArray("[Broker]\nUrl=mqtts://broker.plant\n") << QStringList()
            << u"mqtts://broker.plant:8883"_s << u"korvan/"_s + host.toLower() << 30 << QString();
#endif
        QTest::newRow("--broker over Url")
            << QByteArray("[Broker]\nUrl=mqtt://old:1883\nKeepAlive=5\n")
            << QStringList {u"--broker"_s, u"mqtt://[fd00::7]:2883"_s} << u"mqtt://[fd00::7]:2883"_s
            << u"korvan/"_s + host.toLower() << 5 << QString();
        QTest::newRow("--broker alone")
            << QByteArray() << QStringList {u"--broker=mqtt://127.0.0.1:1884/"_s}
            << u"mqtt://127.0.0.1:1884"_s << u"korvan/"_s + host.toLower() << 30 << QString();
    }
    void settings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, arguments);
        QFETCH(QString, url);
        QFETCH(QString, topic);
        QFETCH(int, keepAlive);
        QFETCH(QString, password);
        PanelSettings::Fault fault;
        const auto settings = load(file, arguments, &fault);
        QVERIFY2(settings, qPrintable(fault.message));
        QVERIFY(settings->broker);
        QCOMPARE(settings->broker->url(), url);
        QCOMPARE(settings->broker->topic, topic);
        QCOMPARE(settings->broker->keepAliveSeconds, keepAlive);
        QCOMPARE(settings->broker->password, password);
        QVERIFY(settings->broker->clientId.startsWith(u"korvan-") || password == u"s3cret");
    }

    void noBroker()
    {
        PanelSettings::Fault fault;
        const auto settings = load("[Network]\nIdleTimeout=20\n", {}, &fault);
        QVERIFY(settings);
        QVERIFY(!settings->broker);
    }

    void faults_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Source>("source");
        QTest::addColumn<QStringList>("named");
        const auto inFile = [](const char *name, const char *text, const QStringList &named) {
            QTest::newRow(name) << QByteArray(text) << QStringList() << Source::SettingsFile
                                << named;
        };
        inFile("malformed Url", "[Broker]\nUrl=mqtt//broker\n",
               {u"Broker/Url"_s, u"mqtt//broker"_s, u"not an mqtt://"_s});
        inFile("unknown scheme", "[Broker]\nUrl=http://broker\n",
               {u"Broker/Url"_s, u"http://broker"_s, u"unknown scheme"_s});
        inFile("password in the Url", "[Broker]\nUrl=mqtt://panel:pw@broker\n",
               {u"Broker/Url"_s, u"PasswordFile"_s});
        inFile("path after the host", "[Broker]\nUrl=mqtt://broker/korvan\n",
               {u"Broker/Url"_s, u"a path"_s});
        inFile("missing CA file", "[Broker]\nUrl=mqtts://broker\nCaFile=@/no-such.crt\n",
               {u"Broker/CaFile"_s, u"no-such.crt"_s, u"no such file"_s});
        inFile("folder as CA file", "[Broker]\nUrl=mqtts://broker\nCaFile=@/folder\n",
               {u"Broker/CaFile"_s, u"not a regular file"_s});
#ifdef Q_OS_WIN
        // OpenSSL's default certificates are not the Windows store.
        inFile("mqtts without a CA file", "[Broker]\nUrl=mqtts://broker\n",
               {u"needs CaFile on Windows"_s, u"certificate store is not used"_s});
#else
        inFile("password file others may read",
               "[Broker]\nUrl=mqtt://broker\nUsername=p\nPasswordFile=@/open-password\n",
               {u"Broker/PasswordFile"_s, u"open-password"_s, u"others may read"_s});
#endif
        inFile("empty password",
               "[Broker]\nUrl=mqtt://b\nUsername=p\nPasswordFile=@/empty-password\n",
               {u"Broker/PasswordFile"_s, u"empty"_s});
        inFile("password without a user name", "[Broker]\nUrl=mqtt://b\nPasswordFile=@/password\n",
               {u"Broker/PasswordFile"_s, u"without a Username"_s});
        inFile("KeepAlive under 5", "[Broker]\nUrl=mqtt://broker\nKeepAlive=4\n",
               {u"Broker/KeepAlive"_s, u"\"4\""_s, u"from 5 to 3600"_s});
        inFile("KeepAlive over 3600", "[Broker]\nUrl=mqtt://broker\nKeepAlive=3601\n",
               {u"Broker/KeepAlive"_s, u"3601"_s});
        inFile("CA file with plain mqtt", "[Broker]\nUrl=mqtt://broker\nCaFile=@/ca.crt\n",
               {u"Broker/CaFile"_s, u"only for an mqtts://"_s});
        inFile("certificate without its key", "[Broker]\nUrl=mqtts://b\nCertFile=@/ca.crt\n",
               {u"Broker/CertFile"_s, u"go together"_s});
        inFile("wildcard in the topic", "[Broker]\nUrl=mqtt://broker\nTopic=korvan/#\n",
               {u"Broker/Topic"_s, u"korvan/#"_s});
        inFile("no Url", "[Broker]\nTopic=korvan/a\n", {u"no Url key"_s});
        inFile("unknown key", "[Broker]\nPassword=s3cret\n",
               {u"Broker/Password"_s, u"unknown key"_s});
        QTest::newRow("bad --broker")
            << QByteArray() << QStringList {u"--broker"_s, u"tcp://broker:1883"_s}
            << Source::CommandLine << QStringList {u"--broker"_s, u"tcp://broker:1883"_s};
    }
    void faults()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, arguments);
        QFETCH(Source, source);
        QFETCH(QStringList, named);
        PanelSettings::Fault fault;
        QVERIFY(!load(file, arguments, &fault));
        QCOMPARE(fault.inCommandLine, source == Source::CommandLine);
        if (source == Source::SettingsFile)
            named << QDir::toNativeSeparators(userFile());
        for (const QString &name : std::as_const(named))
            QVERIFY2(fault.message.contains(name), qPrintable(fault.message));
    }

private:
    QString userFile() const
    {
        return m_folder->filePath(u"user.ini"_s);
    }

    void writeInFolder(const char *name, const QByteArray &bytes, QFile::Permissions permissions)
    {
        const QString path = m_folder->filePath(QLatin1String(name));
        QVERIFY(writeFile(path, bytes) && QFile::setPermissions(path, permissions));
    }

    // "@/" in a row's text is this test's folder.
    std::optional<PanelSettings> load(const QByteArray &text, const QStringList &arguments,
                                      PanelSettings::Fault *fault)
    {
        QByteArray bytes = text;
        bytes.replace("@/", QByteArray(QFile::encodeName(m_folder->path()) + '/'));
        writeInFolder("user.ini", bytes, QFile::ReadOwner | QFile::WriteOwner);
        return PanelSettingsLoad::load(m_folder->filePath(u"none.ini"_s), userFile(), arguments,
                                       fault);
    }

    std::unique_ptr<QTemporaryDir> m_folder;
};

QTEST_MAIN(TestBrokerSettings)
#include "tst_brokersettings.moc"
