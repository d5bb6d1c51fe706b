#include "panelsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

#include "commandline.h"
#include "inifile.h"
#include "logtext.h"
#include "socketcontrol.h"

namespace {

constexpr int MaxTimeoutSeconds = 3600;

const QString SettingsFile = QStringLiteral("Korvan/Korvan.ini");

// Windows reads INI keys without regard to case; so does the panel, everywhere.
bool is(const IniFile::Entry &entry, QLatin1StringView section, QLatin1StringView key)
{
    return entry.section.compare(section, Qt::CaseInsensitive) == 0
        && entry.key.compare(key, Qt::CaseInsensitive) == 0;
}

// "192.168.1.5": an address is a subnet of one, written without its prefix.
std::optional<QHostAddress> parseAddress(const QString &text)
{
    if (text.contains(QLatin1Char('/')))
        return std::nullopt;
    const auto subnet = PanelSettings::parsePeer(text);
    return subnet ? std::optional(subnet->first) : std::nullopt;
}

QString option(const char *name, const QString &value)
{
    return QStringLiteral("option --%1 %2")
        .arg(QLatin1StringView(name), LogText::receivedText(value));
}

class Reader
{
public:
    Reader(PanelSettings &settings, PanelSettings::Fault *fault)
        : m_settings(settings)
        , m_fault(fault)
    {
    }

    bool readFile(const QString &path)
    {
        m_path = path;
        IniFile file;
        switch (file.read(path)) {
        case IniFile::Outcome::Missing:
            return true;
        case IniFile::Outcome::Fault:
            return fail(file.faultText());
        case IniFile::Outcome::Read:
            break;
        }
        for (const IniFile::Entry &entry : file.entries()) {
            if (!readEntry(entry, file.where(entry)))
                return false;
        }
        return true;
    }

    bool readCommandLine(const CommandLine &commandLine)
    {
        m_inCommandLine = true;
        if (commandLine.hasListen()
            && !setListen(commandLine.listen(), option("listen", commandLine.listen())))
            return false;
        if (commandLine.hasAllow()) {
            // Each --allow adds one entry; together they replace the files' list.
            QList<SocketControl::Subnet> subnets;
            for (const QString &entry : commandLine.allow()) {
                const auto one = parseAllow({entry}, option("allow", entry));
                if (!one)
                    return false;
                subnets += *one;
            }
            m_settings.allowedPeers = subnets;
        }
        if (commandLine.hasBroker()
            && !setBrokerUrl(commandLine.broker(), option("broker", commandLine.broker())))
            return false;
        return !commandLine.hasLogFile()
            || setLogFile(commandLine.logFile(), option("log-file", commandLine.logFile()));
    }

    // What can only be judged once every source is read: the keys that go together.
    bool finishBroker()
    {
        if (!m_broker)
            return true;
        m_inCommandLine = false;
        BrokerSettings &b = *m_broker;
        if (b.host.isEmpty())
            return fail(m_brokerFile
                        + QStringLiteral(": the [Broker] section has no Url key; add "
                                         "Url=mqtt://HOST or start with --broker."));
        if (!b.tls) {
            for (const char *key : {"CaFile", "CertFile", "KeyFile"}) {
                if (m_brokerWhere.contains(QLatin1String(key)))
                    return fail(m_brokerWhere.value(QLatin1String(key))
                                + QStringLiteral(": only for an mqtts:// Url, and the Url is "
                                                 "mqtt://."));
            }
        }
        if (b.certFile.isEmpty() != b.keyFile.isEmpty())
            return fail(m_brokerWhere.value(b.certFile.isEmpty() ? QStringLiteral("KeyFile")
                                                                 : QStringLiteral("CertFile"))
                        + QStringLiteral(": CertFile and KeyFile go together."));
#ifdef Q_OS_WIN
        // The MQTT library asks OpenSSL for its default certificates, a folder no Windows
        // system has, never the Windows store: without a CA file no broker could be trusted.
        if (b.tls && b.caFile.isEmpty())
            return fail(m_brokerFile
                        + QStringLiteral(": an mqtts:// Url needs CaFile on Windows, the plant's "
                                         "CA certificate in PEM: the Windows certificate store "
                                         "is not used."));
#endif
        if (!b.password.isEmpty() && b.username.isEmpty())
            return fail(m_brokerWhere.value(QStringLiteral("PasswordFile"))
                        + QStringLiteral(": a password without a Username."));
        if (b.topic.isEmpty())
            b.topic = BrokerSettings::defaultTopic();
        if (b.clientId.isEmpty())
            b.clientId = BrokerSettings::defaultClientId();
        m_settings.broker = b;
        return true;
    }

private:
    bool readEntry(const IniFile::Entry &entry, const QString &where)
    {
        const auto network = QLatin1StringView("Network");
        if (is(entry, network, QLatin1StringView("Listen")))
            return setListen(entry.value, where);
        if (is(entry, network, QLatin1StringView("Allow"))) {
            // Entries apart by commas, spaces or both; a ';' is part of an entry.
            static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
            const QStringList entries = entry.value.split(separators, Qt::SkipEmptyParts);
            if (entries.isEmpty())
                return fail(where
                            + QStringLiteral(": an empty list; to accept a controller from "
                                             "anywhere, leave the key out."));
            const auto subnets = parseAllow(entries, where);
            if (subnets)
                m_settings.allowedPeers = *subnets;
            return subnets.has_value();
        }
        if (is(entry, network, QLatin1StringView("IdleTimeout")))
            return setSeconds(&m_settings.idleSeconds, entry.value, where);
        if (is(entry, network, QLatin1StringView("UnacknowledgedTimeout")))
            return setSeconds(&m_settings.unacknowledgedSeconds, entry.value, where);
        if (is(entry, QLatin1StringView("History"), QLatin1StringView("File")))
            return setLogFile(entry.value, where);
        if (entry.section.compare(QLatin1StringView("Broker"), Qt::CaseInsensitive) == 0)
            return readBroker(entry, where);
        return fail(where + QStringLiteral(": unknown key."));
    }

    BrokerSettings &broker()
    {
        if (!m_broker) {
            m_broker.emplace();
            m_brokerFile = m_inCommandLine ? QStringLiteral("the command line")
                                           : QDir::toNativeSeparators(m_path);
        }
        return *m_broker;
    }

    bool readBroker(const IniFile::Entry &entry, const QString &where)
    {
        BrokerSettings &b = broker();
        const auto key = [&entry](const char *name) {
            return entry.key.compare(QLatin1StringView(name), Qt::CaseInsensitive) == 0;
        };
        for (const char *name : {"Url", "Topic", "ClientId", "Username", "PasswordFile", "CaFile",
                                 "CertFile", "KeyFile", "KeepAlive"}) {
            if (key(name))
                m_brokerWhere.insert(QLatin1String(name), where);
        }
        if (key("Url"))
            return setBrokerUrl(entry.value, where);
        if (key("Topic"))
            return setName(&b.topic, entry.value, where, true);
        if (key("ClientId"))
            return setName(&b.clientId, entry.value, where, false);
        if (key("Username"))
            return setName(&b.username, entry.value, where, false);
        if (key("PasswordFile"))
            return setPassword(entry.value, where);
        if (key("CaFile"))
            return setReadableFile(&b.caFile, entry.value, where);
        if (key("CertFile"))
            return setReadableFile(&b.certFile, entry.value, where);
        if (key("KeyFile"))
            return setReadableFile(&b.keyFile, entry.value, where);
        if (key("KeepAlive")) {
            bool ok = false;
            const int seconds = entry.value.toInt(&ok);
            if (!ok || seconds < BrokerSettings::MinKeepAlive
                || seconds > BrokerSettings::MaxKeepAlive)
                return fail(where
                            + QStringLiteral(": not a whole number of seconds from %1 to %2.")
                                  .arg(BrokerSettings::MinKeepAlive)
                                  .arg(BrokerSettings::MaxKeepAlive));
            b.keepAliveSeconds = seconds;
            return true;
        }
        return fail(where + QStringLiteral(": unknown key."));
    }

    bool setBrokerUrl(const QString &value, const QString &where)
    {
        QString why;
        const auto url = BrokerSettings::parseUrl(value, &why);
        if (!url)
            return fail(where + QStringLiteral(": ") + why);
        BrokerSettings &b = broker();
        b.host = url->host;
        b.port = url->port;
        b.tls = url->tls;
        return true;
    }

    // A topic level may not hold MQTT's wildcards; no name may hold a control character.
    bool setName(QString *target, const QString &value, const QString &where, bool topic)
    {
        if (value.isEmpty())
            return fail(where + QStringLiteral(": empty."));
        if (std::any_of(value.cbegin(), value.cend(),
                        [](QChar c) { return c.category() == QChar::Other_Control; }))
            return fail(where + QStringLiteral(": a control character in it."));
        if (topic
            && (value.contains(u'+') || value.contains(u'#') || value.startsWith(u'/')
                || value.endsWith(u'/') || value.startsWith(u'$')))
            return fail(where
                        + QStringLiteral(": not a base topic: no + or #, no / at either end, "
                                         "no $ first."));
        *target = value;
        return true;
    }

    bool setReadableFile(QString *target, const QString &path, const QString &where)
    {
        QFile file(path);
        if (!openReadable(file, where))
            return false;
        *target = path;
        return true;
    }

    bool openReadable(QFile &file, const QString &where)
    {
        const QFileInfo info(file.fileName());
        if (!info.exists())
            return fail(where + QStringLiteral(": no such file."));
        if (!info.isFile())
            return fail(where + QStringLiteral(": not a regular file."));
        if (!file.open(QIODevice::ReadOnly))
            return fail(where
                        + QStringLiteral(": cannot be read (%1).")
                              .arg(LogText::singleLine(file.errorString())));
        return true;
    }

    // The password is the file's first line: never in a settings file or on a command line,
    // and never in a file that others may read.
    bool setPassword(const QString &path, const QString &where)
    {
        QFile file(path);
        if (!openReadable(file, where))
            return false;
#ifndef Q_OS_WIN
        const auto others
            = QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther;
        if (QFileInfo(path).permissions() & others)
            return fail(where
                        + QStringLiteral(": others may read or change it; only its owner may "
                                         "(chmod 600)."));
#endif
        QByteArray line = file.readLine(4096);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            return fail(where + QStringLiteral(": its first line, the password, is empty."));
        broker().password = QString::fromUtf8(line);
        return true;
    }

    bool fail(const QString &message)
    {
        if (m_fault)
            *m_fault = {message, m_inCommandLine};
        return false;
    }

    bool setListen(const QString &value, const QString &where)
    {
        const auto address = parseAddress(value);
        if (!address)
            return fail(where + QStringLiteral(": not an IP address."));
        m_settings.listenAddress = *address;
        return true;
    }

    std::optional<QList<SocketControl::Subnet>> parseAllow(const QStringList &entries,
                                                           const QString &where)
    {
        QList<SocketControl::Subnet> subnets;
        for (const QString &entry : entries) {
            const auto subnet = PanelSettings::parsePeer(entry);
            if (!subnet) {
                fail(where
                     + QStringLiteral(": %1 is not an address or an address/prefix.")
                           .arg(LogText::receivedText(entry)));
                return std::nullopt;
            }
            subnets.append(*subnet);
        }
        return subnets;
    }

    // The history needs a file of its own: a pipe without a reader would hold the start, a
    // device or a folder would swallow it.
    bool setLogFile(const QString &path, const QString &where)
    {
        if (path.isEmpty())
            return fail(where + QStringLiteral(": an empty path."));
        if (std::any_of(path.cbegin(), path.cend(),
                        [](QChar c) { return c == u'"' || c.category() == QChar::Other_Control; }))
            return fail(where
                        + QStringLiteral(": not a path: a quote or a control character "
                                         "in it."));
        const QFileInfo info(path);
        if (info.isDir())
            return fail(where + QStringLiteral(": a folder, not a file."));
        if (info.exists() && !info.isFile())
            return fail(where
                        + QStringLiteral(": not a regular file (a pipe or a device); the "
                                         "history needs a file of its own."));
        m_settings.logFile = path;
        return true;
    }

    bool setSeconds(int *target, const QString &value, const QString &where)
    {
        bool ok = false;
        const int seconds = value.toInt(&ok);
        if (!ok || seconds < 1 || seconds > MaxTimeoutSeconds)
            return fail(where
                        + QStringLiteral(": not a whole number of seconds from 1 to %1.")
                              .arg(MaxTimeoutSeconds));
        *target = seconds;
        return true;
    }

    PanelSettings &m_settings;
    PanelSettings::Fault *m_fault;
    bool m_inCommandLine = false;
    QString m_path;
    std::optional<BrokerSettings> m_broker;
    // Where the [Broker] section was first seen, and where each of its keys was set.
    QString m_brokerFile;
    QHash<QString, QString> m_brokerWhere;
};

} // namespace

// Where QSettings keeps them, but not through QSettings on Linux: it reads the files as it
// names them, and a pipe in their place would hold the start.
QString PanelSettings::systemFile()
{
    // The first of $XDG_CONFIG_DIRS (/etc/xdg) on Linux, ProgramData on Windows.
    const QStringList folders
        = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    return folders.value(1, QStringLiteral("/etc/xdg")) + u'/' + SettingsFile;
}

QString PanelSettings::userFile()
{
#ifdef Q_OS_WIN
    // The roaming profile, which Qt names only with the application's folders added.
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Korvan"),
                     QStringLiteral("Korvan"))
        .fileName();
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/'
        + SettingsFile;
#endif
}

std::optional<PanelSettings> PanelSettings::load(const QString &systemPath, const QString &userPath,
                                                 const CommandLine &commandLine, Fault *fault)
{
    PanelSettings settings;
    Reader reader(settings, fault);
    if (!reader.readFile(systemPath) || !reader.readFile(userPath)
        || !reader.readCommandLine(commandLine) || !reader.finishBroker())
        return std::nullopt;
    return settings;
}

std::optional<SocketControl::Subnet> PanelSettings::parsePeer(const QString &text)
{
    const QString written = text.trimmed();
    const qsizetype slash = written.indexOf(QLatin1Char('/'));
    const QString literal = written.left(slash);
    const QStringView digits = slash < 0 ? QStringView() : QStringView(written).mid(slash + 1);
    // parseSubnet also takes "10.1", "/24", a scope, a netmask and a prefix "+8" or " 8";
    // only the full forms are let through to it.
    const bool fullAddress = literal.contains(QLatin1Char(':'))
        ? !literal.contains(QLatin1Char('%'))
        : literal.count(QLatin1Char('.')) == 3;
    const bool plainPrefix = slash < 0
        || (!digits.isEmpty() && digits.size() <= 3
            && std::all_of(digits.cbegin(), digits.cend(),
                           [](QChar c) { return c >= u'0' && c <= u'9'; }));
    const QHostAddress address(literal);
    if (!fullAddress || !plainPrefix || address.isNull())
        return std::nullopt;
    const int prefix = QHostAddress::parseSubnet(written).second;
    if (prefix < 0)
        return std::nullopt;
    // The address as written, not the network parseSubnet masks it to: the start-up
    // message echoes what the integrator wrote.
    return SocketControl::Subnet {address, prefix};
}

SocketControl::Settings PanelSettings::link() const
{
    return {listenAddress, allowedPeers, idleSeconds, unacknowledgedSeconds};
}
