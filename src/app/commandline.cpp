#include "commandline.h"

#include <QFileInfo>

#include "korvanversion.h"
#include "logtext.h"

namespace {
const QString ListenOption = QStringLiteral("listen");
const QString AllowOption = QStringLiteral("allow");
const QString LogFileOption = QStringLiteral("log-file");
const QString BrokerOption = QStringLiteral("broker");
} // namespace

CommandLine::CommandLine()
{
    m_parser.setApplicationDescription(
        QStringLiteral("Operator panel for a network I/O controller. Started without options,\n"
                       "it takes its settings from the settings files."));
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addOption({{QStringLiteral("h"), QStringLiteral("help")},
                        QStringLiteral("Show this help and exit.")});
    m_parser.addOption({{QStringLiteral("v"), QStringLiteral("version")},
                        QStringLiteral("Show the product name and version and exit.")});
    m_parser.addOption({ListenOption,
                        QStringLiteral("Listen for the controller on this local address only "
                                       "(default: every address)."),
                        QStringLiteral("ADDRESS")});
    m_parser.addOption({AllowOption,
                        QStringLiteral("Accept the controller only from this address or "
                                       "network; repeat for more (default: anyone)."),
                        QStringLiteral("ADDRESS[/PREFIX]")});
    m_parser.addOption({LogFileOption,
                        QStringLiteral("Keep the history in this file instead of the default."),
                        QStringLiteral("PATH")});
    m_parser.addOption({BrokerOption,
                        QStringLiteral("Publish the panel's state to this MQTT broker, over the "
                                       "Url of the settings' [Broker] section."),
                        QStringLiteral("mqtt[s]://HOST[:PORT]")});
}

CommandLine::Outcome CommandLine::parse(const QStringList &arguments)
{
    m_error.clear();
    if (!arguments.isEmpty())
        m_program = QFileInfo(arguments.constFirst()).fileName();
    // What the user typed is quoted escaped and cut: Qt's own text would repeat it raw.
    if (!m_parser.parse(arguments)) {
        const QStringList unknown = m_parser.unknownOptionNames();
        m_error = unknown.isEmpty()
            ? m_parser.errorText()
            : QStringLiteral("Unknown option %1.").arg(LogText::receivedText(unknown.constFirst()));
        return Outcome::UsageError;
    }
    if (!m_parser.positionalArguments().isEmpty()) {
        m_error = QStringLiteral("Unexpected argument %1.")
                      .arg(LogText::receivedText(m_parser.positionalArguments().constFirst()));
        return Outcome::UsageError;
    }
    if (m_parser.isSet(QStringLiteral("help")))
        return Outcome::ShowHelp;
    if (m_parser.isSet(QStringLiteral("version")))
        return Outcome::ShowVersion;
    return Outcome::Run;
}

QString CommandLine::helpText() const
{
    // Without an application object Qt cannot know the program's name.
    QString text = m_parser.helpText();
    text.replace(QStringLiteral("<executable_name>"), m_program);
    return text;
}

QString CommandLine::versionText()
{
    return QStringLiteral(KORVAN_VERSION_RECORD);
}

bool CommandLine::hasListen() const
{
    return m_parser.isSet(ListenOption);
}

QString CommandLine::listen() const
{
    return m_parser.value(ListenOption);
}

bool CommandLine::hasAllow() const
{
    return m_parser.isSet(AllowOption);
}

QStringList CommandLine::allow() const
{
    return m_parser.values(AllowOption);
}

bool CommandLine::hasLogFile() const
{
    return m_parser.isSet(LogFileOption);
}

QString CommandLine::logFile() const
{
    return m_parser.value(LogFileOption);
}

bool CommandLine::hasBroker() const
{
    return m_parser.isSet(BrokerOption);
}

QString CommandLine::broker() const
{
    return m_parser.value(BrokerOption);
}
