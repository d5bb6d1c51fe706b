#include "simoptions.h"

#include <QCommandLineParser>
#include <QFile>
#include <QTextStream>

#include "exitcode.h"

namespace {

bool readScript(const QString &path, QList<SimCommand> *commands, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read script %1: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream in(&file);
    int number = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        ++number;
        QString lineError;
        if (auto command = parseCommandLine(line, &lineError)) {
            commands->append(*command);
        } else if (!lineError.isEmpty()) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(number).arg(lineError);
            return false;
        }
    }
    return true;
}

int code(ExitCode c)
{
    return static_cast<int>(c);
}

} // namespace

std::optional<SimOptions> parseSimOptions(const QStringList &arguments, QString *error)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption host(QStringLiteral("host"), QString(), QStringLiteral("host"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("port"));
    const QCommandLineOption noIdent(QStringLiteral("no-ident"), QString());
    const QCommandLineOption send(QStringLiteral("send"), QString(), QStringLiteral("command"));
    const QCommandLineOption script(QStringLiteral("script"), QString(), QStringLiteral("file"));
    const QCommandLineOption waitFrames(QStringLiteral("wait-frames"), QString(),
                                        QStringLiteral("n"));
    const QCommandLineOption expect(QStringLiteral("expect"), QString(), QStringLiteral("frame"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), QString(),
                                     QStringLiteral("seconds"));
    const QCommandLineOption gap(QStringLiteral("gap"), QString(), QStringLiteral("ms"));
    parser.addOptions({help, host, port, noIdent, send, script, waitFrames, expect, timeout, gap});

    auto fail = [error](const QString &reason) {
        *error = reason;
        return std::nullopt;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty()) {
        return fail(QStringLiteral("unexpected argument \"%1\"")
                        .arg(parser.positionalArguments().constFirst()));
    }

    SimOptions o;
    o.showHelp = parser.isSet(help);
    if (parser.isSet(host))
        o.host = parser.value(host);
    if (parser.isSet(port)) {
        bool ok = false;
        const uint value = parser.value(port).toUInt(&ok);
        if (!ok || value == 0 || value > 65535)
            return fail(QStringLiteral("--port needs a number from 1 to 65535"));
        o.port = quint16(value);
    }
    o.identify = !parser.isSet(noIdent);
    if (parser.isSet(gap)) {
        bool ok = false;
        o.gapMs = parser.value(gap).toInt(&ok);
        if (!ok || o.gapMs < 0)
            return fail(QStringLiteral("--gap needs a number of milliseconds"));
    }
    if (parser.isSet(timeout)) {
        bool ok = false;
        const double seconds = parser.value(timeout).toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 86400)
            return fail(QStringLiteral("--timeout needs a number of seconds, such as 10 or 0.5"));
        o.timeoutMs = qMax(1, qRound(seconds * 1000));
    }

    const QStringList sends = parser.values(send);
    for (const QString &line : sends) {
        QString lineError;
        const auto command = parseCommandLine(line, &lineError);
        if (!command) {
            return fail(
                QStringLiteral("--send \"%1\": %2")
                    .arg(line,
                         lineError.isEmpty() ? QStringLiteral("nothing to send") : lineError));
        }
        o.commands.append(*command);
    }
    bool scriptFromStdin = false;
    if (parser.isSet(script)) {
        const QString path = parser.value(script);
        if (path == u"-")
            scriptFromStdin = true;
        else if (!readScript(path, &o.commands, error))
            return std::nullopt;
    }
    QList<SimCommand> waits;
    if (parser.isSet(waitFrames)) {
        bool ok = false;
        SimCommand wait;
        wait.kind = SimCommand::Kind::WaitFrames;
        wait.number = parser.value(waitFrames).toInt(&ok);
        if (!ok || wait.number < 0)
            return fail(QStringLiteral("--wait-frames needs a whole number"));
        waits.append(wait);
    }
    const QStringList expected = parser.values(expect);
    for (const QString &frame : expected) {
        SimCommand command;
        command.kind = SimCommand::Kind::Expect;
        QString frameError;
        command.text = normalisedFrame(frame, &frameError);
        if (command.text.isEmpty())
            return fail(QStringLiteral("--expect: %1").arg(frameError));
        waits.append(command);
    }
    const bool scripted = !sends.isEmpty() || parser.isSet(script) || !waits.isEmpty();
    o.readStdin = !scripted || scriptFromStdin;
    o.afterInput = waits;
    return o;
}

QString simHelpText()
{
    return QStringLiteral(
               "Usage: korvan-sim [options]\n"
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
               "Otherwise it runs the given commands in order and exits when they are done.\n"
               "\n"
               "Options:\n"
               "  --host HOST        the panel's address (default 127.0.0.1)\n"
               "  --port PORT        the panel's port (default 6165)\n"
               "  --no-ident         do not send STEROWNIK after connecting\n"
               "  --send COMMAND     run one command (repeatable, in order), e.g.\n"
               "                     --send 00000001 or --send \"in 1=on\"\n"
               "  --script FILE      run the commands in FILE after the --send ones\n"
               "                     (\"-\" reads them from standard input)\n"
               "  --wait-frames N    then wait until N frames have arrived\n"
               "  --expect FRAME     then the next frame must equal FRAME (repeatable: the\n"
               "                     frames must come in that order)\n"
               "  --timeout SECONDS  give up after this long (default: wait for ever)\n"
               "  --gap MS           pause after each text sent (default 50). The panel reads\n"
               "                     each arrival as one text: two texts sent too close\n"
               "                     together may reach it as one, and only the first counts.\n"
               "  -h, --help         show this help\n"
               "\n"
               "Commands (standard input, script files and --send):\n")
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
