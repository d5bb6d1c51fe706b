#include "simoptions.h"

#include <QCommandLineParser>
#include <QFile>
#include <QTextStream>

#include "exitcode.h"

namespace {

// Every option with its one description; the parser writes the help from them.
struct Declared
{
    QCommandLineOption help {{QStringLiteral("h"), QStringLiteral("help")},
                             QStringLiteral("Show this help.")};
    QCommandLineOption host {
        QStringLiteral("host"),
        QStringLiteral("The panel's address (default %1).").arg(SimOptions().host),
        QStringLiteral("host")};
    QCommandLineOption port {
        QStringLiteral("port"),
        QStringLiteral("The panel's port (default %1).").arg(SimOptions().port),
        QStringLiteral("port")};
    QCommandLineOption noIdent {QStringLiteral("no-ident"),
                                QStringLiteral("Do not send STEROWNIK after connecting.")};
    QCommandLineOption send {QStringLiteral("send"),
                             QStringLiteral("Run one command (repeatable, in order), e.g. "
                                            "--send 00000001 or --send \"in 1=on\"."),
                             QStringLiteral("command")};
    QCommandLineOption script {QStringLiteral("script"),
                               QStringLiteral("Run the commands in the file after the --send "
                                              "ones (\"-\" reads them from standard input)."),
                               QStringLiteral("file")};
    QCommandLineOption waitFrames {QStringLiteral("wait-frames"),
                                   QStringLiteral("Then wait until this many frames have arrived."),
                                   QStringLiteral("n")};
    QCommandLineOption expect {QStringLiteral("expect"),
                               QStringLiteral("Then the next frame must equal this one "
                                              "(repeatable: the frames must come in that "
                                              "order)."),
                               QStringLiteral("frame")};
    QCommandLineOption timeout {QStringLiteral("timeout"),
                                QStringLiteral("Give up after this long (default: wait for "
                                               "ever)."),
                                QStringLiteral("seconds")};
    QCommandLineOption gap {
        QStringLiteral("gap"),
        QStringLiteral("Pause after each text sent (default %1). The panel reads each arrival "
                       "as one text: two texts sent too close together may reach it as one, "
                       "and only the first counts.")
            .arg(SimOptions().gapMs),
        QStringLiteral("ms")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions(
            {help, host, port, noIdent, send, script, waitFrames, expect, timeout, gap});
    }
};

// One reading of the arguments; each step below fills its share of the options or says why
// not.
class OptionReader
{
public:
    explicit OptionReader(const QStringList &arguments)
    {
        m_declared.addTo(m_parser);
        m_parsed = m_parser.parse(arguments);
    }

    std::optional<SimOptions> read(QString *error)
    {
        const bool ok = m_parsed ? readPlacement() && readPacing() && readCommands() && readWaits()
                                 : fail(m_parser.errorText());
        if (!ok) {
            *error = m_error;
            return std::nullopt;
        }
        return m_options;
    }

private:
    bool fail(const QString &reason)
    {
        if (m_error.isEmpty())
            m_error = reason;
        return false;
    }

    // Where the panel is, and whether there is anything the options cannot place.
    bool readPlacement()
    {
        const QStringList extra = m_parser.positionalArguments();
        if (!extra.isEmpty())
            return fail(QStringLiteral("unexpected argument \"%1\"").arg(extra.constFirst()));
        m_options.showHelp = m_parser.isSet(m_declared.help);
        if (m_parser.isSet(m_declared.host))
            m_options.host = m_parser.value(m_declared.host);
        m_options.identify = !m_parser.isSet(m_declared.noIdent);
        if (!m_parser.isSet(m_declared.port))
            return true;
        bool ok = false;
        const uint port = m_parser.value(m_declared.port).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return fail(QStringLiteral("--port needs a number from 1 to 65535"));
        m_options.port = quint16(port);
        return true;
    }

    // The gap after each text and the time limit.
    bool readPacing()
    {
        if (m_parser.isSet(m_declared.gap)) {
            bool ok = false;
            m_options.gapMs = m_parser.value(m_declared.gap).toInt(&ok);
            if (!ok || m_options.gapMs < 0)
                return fail(QStringLiteral("--gap needs a number of milliseconds"));
        }
        if (!m_parser.isSet(m_declared.timeout))
            return true;
        bool ok = false;
        const double seconds = m_parser.value(m_declared.timeout).toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 86400)
            return fail(QStringLiteral("--timeout needs a number of seconds, such as 10 or 0.5"));
        m_options.timeoutMs = qMax(1, qRound(seconds * 1000));
        return true;
    }

    // --send and --script, in that order.
    bool readCommands()
    {
        for (const QString &line : m_parser.values(m_declared.send)) {
            QString lineError;
            const auto command = parseCommandLine(line, &lineError);
            if (!command) {
                return fail(
                    QStringLiteral("--send \"%1\": %2")
                        .arg(line,
                             lineError.isEmpty() ? QStringLiteral("nothing to send") : lineError));
            }
            m_options.commands.append(*command);
        }
        const QString path = m_parser.value(m_declared.script);
        if (!m_parser.isSet(m_declared.script) || path == u"-")
            return true;
        return readScript(path);
    }

    bool readScript(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return fail(QStringLiteral("cannot read script %1: %2").arg(path, file.errorString()));
        QTextStream in(&file);
        for (int number = 1; !in.atEnd(); ++number) {
            QString lineError;
            if (const auto command = parseCommandLine(in.readLine(), &lineError))
                m_options.commands.append(*command);
            else if (!lineError.isEmpty())
                return fail(QStringLiteral("%1:%2: %3").arg(path).arg(number).arg(lineError));
        }
        return true;
    }

    // --wait-frames and --expect, run after standard input; and whether to read it at all.
    bool readWaits()
    {
        if (m_parser.isSet(m_declared.waitFrames)) {
            SimCommand wait;
            wait.kind = SimCommand::Kind::WaitFrames;
            bool ok = false;
            wait.number = m_parser.value(m_declared.waitFrames).toInt(&ok);
            if (!ok || wait.number < 0)
                return fail(QStringLiteral("--wait-frames needs a whole number"));
            m_options.afterInput.append(wait);
        }
        for (const QString &frame : m_parser.values(m_declared.expect)) {
            SimCommand expected;
            expected.kind = SimCommand::Kind::Expect;
            QString frameError;
            expected.text = normalisedFrame(frame, &frameError);
            if (expected.text.isEmpty())
                return fail(QStringLiteral("--expect: %1").arg(frameError));
            m_options.afterInput.append(expected);
        }
        const bool scripted = m_parser.isSet(m_declared.send) || m_parser.isSet(m_declared.script)
            || !m_options.afterInput.isEmpty();
        m_options.readStdin = !scripted || m_parser.value(m_declared.script) == u"-";
        return true;
    }

    Declared m_declared;
    QCommandLineParser m_parser;
    bool m_parsed = false;
    SimOptions m_options;
    QString m_error;
};

int code(ExitCode c)
{
    return static_cast<int>(c);
}

} // namespace

std::optional<SimOptions> parseSimOptions(const QStringList &arguments, QString *error)
{
    return OptionReader(arguments).read(error);
}

QString simHelpText()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "\n"
        "Plays the I/O controller for a Korvan panel, so the panel can be commissioned\n"
        "without hardware. It connects to the panel (retrying until the panel listens:\n"
        "press \"Rozpocznij nasłuch\" there), identifies itself with STEROWNIK, sends\n"
        "input states and prints every output frame the panel sends, decoded, with its\n"
        "check digit verified. A wrong check digit is reported with !!! on stdout and\n"
        "on stderr.\n"
        "\n"
        "Without --send, --script, --wait-frames or --expect it reads commands from\n"
        "standard input, one per line, until end of input (Ctrl+D) or \"quit\".\n"
        "Otherwise it runs the given commands in order and exits when they are done."));
    Declared().addTo(parser);
    return parser.helpText()
        + QStringLiteral("\nCommands (standard input, script files and --send):\n")
        + commandLanguageHelp()
        + QStringLiteral(
              "\n"
              "Texts are sent as they are, without a line end, as the controller does.\n"
              "\n"
              "Exit codes:\n"
              "  %1  everything done, every expected frame came and every frame was good\n"
              "  %2  usage error: bad option, command or script\n"
              "  %3  could not connect: the panel did not listen before --timeout\n"
              "  %4  timeout: connected, but still waiting for frames at --timeout\n"
              "  %5  unexpected frame: a frame differed from --expect / expect\n"
              "  %6  bad frame: a wrong check digit, or a line that is not a frame\n"
              "\n"
              "Example: the panel must answer a press of output 3 of section 1:\n"
              "  korvan-sim --expect \"00000100 00000000 00000000 F\" --timeout 60\n")
              .arg(code(ExitCode::Ok))
              .arg(code(ExitCode::Usage))
              .arg(code(ExitCode::CouldNotConnect))
              .arg(code(ExitCode::Timeout))
              .arg(code(ExitCode::UnexpectedFrame))
              .arg(code(ExitCode::BadFrame));
}
