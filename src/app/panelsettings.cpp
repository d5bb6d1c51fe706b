#include "panelsettings.h"

#include <QFileInfo>
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
    const auto subnet = SocketControl::parsePeer(text);
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
        return !commandLine.hasLogFile()
            || setLogFile(commandLine.logFile(), option("log-file", commandLine.logFile()));
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
        return fail(where + QStringLiteral(": unknown key."));
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
            const auto subnet = SocketControl::parsePeer(entry);
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
