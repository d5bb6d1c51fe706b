#include "panelsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "commandline.h"
#include "socketcontrol.h"

namespace {

const QString ListenKey = QStringLiteral("Network/Listen");
const QString AllowKey = QStringLiteral("Network/Allow");
const QString IdleKey = QStringLiteral("Network/IdleTimeout");
const QString UnacknowledgedKey = QStringLiteral("Network/UnacknowledgedTimeout");
const QString LogFileKey = QStringLiteral("History/File");

constexpr int MaxTimeoutSeconds = 3600;

QString settingsPath(QSettings::Scope scope)
{
    return QSettings(QSettings::IniFormat, scope, QStringLiteral("Korvan"),
                     QStringLiteral("Korvan"))
        .fileName();
}

// Windows reads INI keys without regard to case; so does the panel, everywhere.
bool isKey(const QString &key, const QString &known)
{
    return key.compare(known, Qt::CaseInsensitive) == 0;
}

// "192.168.1.5": an address is a subnet of one, written without its prefix.
std::optional<QHostAddress> parseAddress(const QString &text)
{
    if (text.contains(QLatin1Char('/')))
        return std::nullopt;
    const auto subnet = SocketControl::parsePeer(text);
    return subnet ? std::optional(subnet->first) : std::nullopt;
}

// Where a value came from, for messages: a file or an option.
QString inFile(const QString &path, const QString &key, const QString &value)
{
    return QStringLiteral("%1: key %2, value \"%3\"")
        .arg(QDir::toNativeSeparators(path), key, value);
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
        const QFileInfo info(path);
        if (!info.exists())
            return true;
        QSettings file(path, QSettings::IniFormat);
        if (!info.isFile() || !info.isReadable() || file.status() == QSettings::AccessError)
            return fail(QStringLiteral("%1: the settings file cannot be read.")
                            .arg(QDir::toNativeSeparators(path)));
        if (file.status() == QSettings::FormatError)
            return fail(QStringLiteral("%1: the settings file is not a valid INI file.")
                            .arg(QDir::toNativeSeparators(path)));
        const QStringList keys = file.allKeys();
        for (const QString &key : keys) {
            const QVariant raw = file.value(key);
            // An INI value with commas reads as a list.
            const QStringList items = raw.toStringList();
            const QString value = items.join(QStringLiteral(", "));
            const QString where = inFile(path, key, value);
            if (isKey(key, ListenKey)) {
                if (!setListen(value.trimmed(), where))
                    return false;
            } else if (isKey(key, AllowKey)) {
                QStringList entries;
                for (const QString &item : items) {
                    const QStringList parts = item.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                    entries.append(parts);
                }
                const auto subnets = parseAllow(entries, where);
                if (!subnets)
                    return false;
                m_settings.allowedPeers = *subnets;
            } else if (isKey(key, IdleKey)) {
                if (!setSeconds(&m_settings.idleSeconds, value.trimmed(), where))
                    return false;
            } else if (isKey(key, UnacknowledgedKey)) {
                if (!setSeconds(&m_settings.unacknowledgedSeconds, value.trimmed(), where))
                    return false;
            } else if (isKey(key, LogFileKey)) {
                if (value.trimmed().isEmpty())
                    return fail(where + QStringLiteral(": an empty path."));
                m_settings.logFile = value.trimmed();
            } else {
                return fail(where + QStringLiteral(": unknown key."));
            }
        }
        return true;
    }

    bool readCommandLine(const CommandLine &commandLine)
    {
        m_inCommandLine = true;
        if (commandLine.hasListen()
            && !setListen(commandLine.listen(),
                          QStringLiteral("option --listen \"%1\"").arg(commandLine.listen())))
            return false;
        if (commandLine.hasAllow()) {
            // Each --allow adds one entry; together they replace the files' list.
            QList<PanelSettings::Subnet> subnets;
            for (const QString &entry : commandLine.allow()) {
                const auto one
                    = parseAllow({entry}, QStringLiteral("option --allow \"%1\"").arg(entry));
                if (!one)
                    return false;
                subnets += *one;
            }
            m_settings.allowedPeers = subnets;
        }
        if (commandLine.hasLogFile()) {
            if (commandLine.logFile().isEmpty())
                return fail(QStringLiteral("option --log-file \"\": an empty path."));
            m_settings.logFile = commandLine.logFile();
        }
        return true;
    }

private:
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

    std::optional<QList<PanelSettings::Subnet>> parseAllow(const QStringList &entries,
                                                           const QString &where)
    {
        QList<PanelSettings::Subnet> subnets;
        for (const QString &entry : entries) {
            const auto subnet = SocketControl::parsePeer(entry);
            if (!subnet) {
                fail(where
                     + QStringLiteral(": \"%1\" is not an address or an address/prefix.")
                           .arg(entry));
                return std::nullopt;
            }
            subnets.append(*subnet);
        }
        return subnets;
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
};

} // namespace

QString PanelSettings::systemFile()
{
    return settingsPath(QSettings::SystemScope);
}

QString PanelSettings::userFile()
{
    return settingsPath(QSettings::UserScope);
}

std::optional<PanelSettings> PanelSettings::load(const QString &systemPath, const QString &userPath,
                                                 const CommandLine &commandLine, Fault *fault)
{
    PanelSettings settings;
    Reader reader(settings, fault);
    if (!reader.readFile(systemPath) || !reader.readFile(userPath)
        || !reader.readCommandLine(commandLine))
        return std::nullopt;
    return settings;
}

void PanelSettings::applyTo(SocketControl &socket) const
{
    socket.setListenAddress(listenAddress);
    socket.setAllowedPeers(allowedPeers);
    socket.setDeadPeerTimeouts(idleSeconds, unacknowledgedSeconds);
}
