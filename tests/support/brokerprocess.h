#pragma once

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include "brokersettings.h"
#include "waituntil.h"

// A private mosquitto for one test, started with a configuration written for it and
// stopped by it. Plain clients reach it on a Unix socket in its own folder, so no port is
// chosen at all; TLS needs TCP, which is bound on loopback and tried again on another
// port when the one drawn is taken.
//
// Under Wine the Linux mosquitto cannot be started from the Windows test: the one that
// tools/windows/broker-test.sh started is used instead, on loopback TCP, with a listener for
// each kind of broker a test asks for and the certificates it made (see that script). Rows
// share it, so each uses base topics of its own.
class BrokerProcess
{
public:
    struct Options
    {
        // A TLS listener on 127.0.0.1 with these files, when certFile is set.
        QString caFile, certFile, keyFile;
        bool requireCertificate = false;
        // Only the user User with Password, who may write under korvan/panel/ and nowhere
        // else; no anonymous client.
        bool users = false;
    };
    static constexpr const char *User = "panel";
    static constexpr const char *Password = "secret";

    BrokerProcess() { m_process.setProcessChannelMode(QProcess::MergedChannels); }
    ~BrokerProcess() { kill(); }

    QString socketPath() const { return m_folder.filePath(QStringLiteral("broker.sock")); }
    quint16 tlsPort() const { return m_port; }

    // Settings that reach this broker on its socket (under Wine, its plain port).
    BrokerSettings settings(const QString &topic = {}, int keepAlive = 30) const
    {
        BrokerSettings s;
#ifdef Q_OS_WIN
        s.host = QStringLiteral("127.0.0.1");
        s.port = quint16(qEnvironmentVariableIntValue(
            m_options.users ? "KORVAN_TEST_BROKER_USERS_PORT" : "KORVAN_TEST_BROKER_PORT"));
#else
        s.host = socketPath();
        s.port = 0;
#endif
        s.topic = topic;
        s.clientId = QStringLiteral("panel-") + topic.section(u'/', -1);
        s.keepAliveSeconds = keepAlive;
        return s;
    }

    bool start()
    {
        return start(Options());
    }
#ifdef Q_OS_WIN
    bool start(const Options &options)
    {
        // The wrapper has its users on a plain listener only.
        if (options.users && !options.certFile.isEmpty())
            return false;
        m_options = options;
        const char *tlsPort = options.requireCertificate ? "KORVAN_TEST_BROKER_CERTIFICATE_PORT"
                                                         : "KORVAN_TEST_BROKER_TLS_PORT";
        m_port = options.certFile.isEmpty() ? 0 : quint16(qEnvironmentVariableIntValue(tlsPort));
        return settings().port != 0 && (options.certFile.isEmpty() || m_port != 0);
    }
    bool restart()
    {
        return false;
    }
    void kill()
    {
    }
    static QString certificates()
    {
        return qEnvironmentVariable("KORVAN_TEST_CERTIFICATES");
    }
#else
    bool start(const Options &options)
    {
        m_options = options;
        for (int attempt = 0; attempt < 20; ++attempt) {
            m_port = options.certFile.isEmpty()
                ? 0
                : quint16(QRandomGenerator::global()->bounded(20000, 60000));
            if (launch())
                return true;
            if (!m_output.contains("Address already in use"))
                return false;
        }
        return false;
    }

    // The same configuration again: without persistence it starts empty.
    bool restart()
    {
        return launch();
    }

    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(10000);
    }

    QByteArray output()
    {
        m_output += m_process.readAll();
        return m_output;
    }
#endif

private:
#ifndef Q_OS_WIN
    bool launch()
    {
        kill();
        QFile::remove(socketPath());
        QByteArray conf = "persistence false\nuser root\nlog_dest stderr\n"
                          "log_type error\nlog_type warning\nlog_type notice\n"
                          "log_type information\nper_listener_settings false\n";
        conf += QByteArray("allow_anonymous ") + (m_options.users ? "false\n" : "true\n");
        if (m_options.users) {
            if (!writeUsers())
                return false;
            conf += "password_file " + QFile::encodeName(m_folder.filePath(QStringLiteral("users")))
                + "\nacl_file " + QFile::encodeName(m_folder.filePath(QStringLiteral("acl")))
                + '\n';
        }
        conf += "listener 0 " + QFile::encodeName(socketPath()) + '\n';
        if (m_port != 0) {
            conf += "listener " + QByteArray::number(m_port) + " 127.0.0.1\n";
            conf += "cafile " + QFile::encodeName(m_options.caFile) + '\n';
            conf += "certfile " + QFile::encodeName(m_options.certFile) + '\n';
            conf += "keyfile " + QFile::encodeName(m_options.keyFile) + '\n';
            if (m_options.requireCertificate)
                conf += "require_certificate true\n";
        }
        QFile file(m_folder.filePath(QStringLiteral("mosquitto.conf")));
        if (!file.open(QIODevice::WriteOnly) || file.write(conf) != conf.size())
            return false;
        file.close();
        m_output.clear();
        m_process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), file.fileName()});
        const bool running = waitUntil(
            [&] {
                return output().contains(" running") || m_process.state() == QProcess::NotRunning;
            },
            20000);
        if (!running || m_process.state() == QProcess::NotRunning) {
            m_process.waitForFinished(5000);
            output();
            qInfo("mosquitto did not start: %s", m_output.constData());
            return false;
        }
        return true;
    }

    // The password file, hashed by mosquitto_passwd, and the ACL.
    bool writeUsers()
    {
        QProcess hash;
        hash.setProcessChannelMode(QProcess::MergedChannels);
        hash.start(QStringLiteral("mosquitto_passwd"),
                   {QStringLiteral("-c"), QStringLiteral("-b"),
                    m_folder.filePath(QStringLiteral("users")), QString::fromLatin1(User),
                    QString::fromLatin1(Password)});
        if (!hash.waitForFinished(60000) || hash.exitCode() != 0) {
            qInfo("mosquitto_passwd failed: %s", hash.readAll().constData());
            return false;
        }
        QFile acl(m_folder.filePath(QStringLiteral("acl")));
        const QByteArray rules = QByteArray("user ") + User + "\ntopic readwrite korvan/panel/#\n";
        return acl.open(QIODevice::WriteOnly) && acl.write(rules) == rules.size();
    }
#endif

    QTemporaryDir m_folder;
    QProcess m_process;
    Options m_options;
    quint16 m_port = 0;
    QByteArray m_output;
};
