#include "simcommand.h"

#include <QRegularExpression>

#include "framereport.h"
#include "inboundtext.h"
#include "outputframe.h"

namespace {

using Inbound::InputCount;

bool isBinary(QStringView text)
{
    for (const QChar c : text) {
        if (c != u'0' && c != u'1')
            return false;
    }
    return true;
}

std::optional<bool> onOff(const QString &word)
{
    const QString w = word.toLower();
    if (w == u"on" || w == u"1")
        return true;
    if (w == u"off" || w == u"0")
        return false;
    return std::nullopt;
}

// \r, \n, \t and \\ in a raw text; anything else stands for itself.
QByteArray unescaped(const QString &text, QString *error)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() > 0xFF) {
            *error = QStringLiteral("raw text must be Latin-1 (one byte per character)");
            return {};
        }
        if (c != u'\\' || i + 1 == text.size()) {
            bytes += char(c.unicode());
            continue;
        }
        switch (text.at(++i).unicode()) {
        case u'r':
            bytes += '\r';
            break;
        case u'n':
            bytes += '\n';
            break;
        case u't':
            bytes += '\t';
            break;
        case u'\\':
            bytes += '\\';
            break;
        default:
            *error
                = QStringLiteral("unknown escape \\%1 (use \\r, \\n, \\t or \\\\)").arg(text.at(i));
            return {};
        }
    }
    return bytes;
}

std::optional<SimCommand> fail(QString *error, const QString &reason)
{
    *error = reason;
    return std::nullopt;
}

SimCommand command(SimCommand::Kind kind)
{
    SimCommand c;
    c.kind = kind;
    return c;
}

// "in N=on", "in all=off".
std::optional<SimCommand> readInput(const QString &rest, QString *error)
{
    static const QRegularExpression form(QStringLiteral("^(all|\\d+)\\s*=\\s*(\\S+)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto match = form.match(rest);
    const bool all = match.captured(1).toLower() == u"all";
    const int number = match.captured(1).toInt();
    const auto on = match.hasMatch() ? onOff(match.captured(2)) : std::nullopt;
    if (!on || (!all && (number < 1 || number > InputCount)))
        return fail(error,
                    QStringLiteral("write an input as \"in N=on\" or \"in N=off\", "
                                   "N from 1 to %1 or \"all\"")
                        .arg(InputCount));
    SimCommand c = command(all ? SimCommand::Kind::SetAllInputs : SimCommand::Kind::SetInput);
    c.on = *on;
    c.number = all ? 0 : number;
    return c;
}

// The text after "raw" and one space, taken from the untrimmed line so that leading blanks
// can be sent too.
std::optional<SimCommand> readRaw(const QString &line, QString *error)
{
    qsizetype start = 0;
    while (start < line.size() && line.at(start).isSpace())
        ++start;
    QString text = line.mid(start + 3);
    if (text.startsWith(u' '))
        text.remove(0, 1);
    SimCommand c = command(SimCommand::Kind::Raw);
    c.text = unescaped(text, error);
    if (!error->isEmpty())
        return std::nullopt;
    return c;
}

// "sleep MS" and "frames N".
std::optional<SimCommand> readCount(const QString &word, const QString &rest, QString *error)
{
    SimCommand c
        = command(word == u"sleep" ? SimCommand::Kind::Sleep : SimCommand::Kind::WaitFrames);
    bool ok = false;
    c.number = rest.toInt(&ok);
    if (!ok || c.number < 0)
        return fail(error, QStringLiteral("\"%1\" needs a whole number").arg(word));
    return c;
}

std::optional<SimCommand> readExpect(const QString &rest, QString *error)
{
    SimCommand c = command(SimCommand::Kind::Expect);
    c.text = normalisedFrame(rest, error);
    if (!error->isEmpty())
        return std::nullopt;
    return c;
}

// The words that stand alone.
std::optional<SimCommand> readBareWord(const QString &word)
{
    if (word == u"ident")
        return command(SimCommand::Kind::Identify);
    if (word == u"help" || word == u"?")
        return command(SimCommand::Kind::Help);
    if (word == u"quit" || word == u"exit")
        return command(SimCommand::Kind::Quit);
    return std::nullopt;
}

// A line that is none of the commands: the reason, as near to what was meant as can be told.
std::optional<SimCommand> refuse(const QString &trimmed, QString *error)
{
    if (trimmed.size() == InputCount)
        return fail(error,
                    QStringLiteral("input states are \"0\" or \"1\"; use \"raw %1\" to "
                                   "send other characters")
                        .arg(trimmed));
    return fail(error, QStringLiteral("unknown command \"%1\" (type \"help\")").arg(trimmed));
}

} // namespace

std::optional<SimCommand> parseCommandLine(const QString &line, QString *error)
{
    error->clear();
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
        return std::nullopt;
    if (trimmed.size() == InputCount && isBinary(trimmed)) {
        SimCommand c = command(SimCommand::Kind::SetInputs);
        c.text = trimmed.toLatin1();
        return c;
    }

    const qsizetype space = trimmed.indexOf(u' ');
    const QString word = (space < 0 ? trimmed : trimmed.left(space)).toLower();
    const QString rest = space < 0 ? QString() : trimmed.mid(space + 1).trimmed();
    if (word == u"in" || word == u"input")
        return readInput(rest, error);
    if (word == u"raw")
        return readRaw(line, error);
    if (word == u"sleep" || word == u"frames")
        return readCount(word, rest, error);
    if (word == u"expect")
        return readExpect(rest, error);
    if (rest.isEmpty()) {
        if (const auto bare = readBareWord(word))
            return bare;
    }
    return refuse(trimmed, error);
}

QByteArray normalisedFrame(const QString &frame, QString *error)
{
    error->clear();
    QString text = frame;
    text.remove(u' ');
    if ((text.size() != Output::Count && text.size() != Output::Count + 1)
        || !isBinary(QStringView(text).left(Output::Count))) {
        *error = QStringLiteral("a frame is 24 characters \"0\" or \"1\", optionally followed "
                                "by its check digit (got \"%1\")")
                     .arg(frame);
        return {};
    }
    const QByteArray bytes = text.toUpper().toLatin1();
    const char digit = frameCheckDigit(bytes.left(Output::Count));
    if (bytes.size() > Output::Count && bytes.at(Output::Count) != digit) {
        *error = QStringLiteral("the check digit of %1 is %2, not %3")
                     .arg(QLatin1String(bytes.left(Output::Count)), QString(QLatin1Char(digit)),
                          QLatin1String(bytes.mid(Output::Count)));
        return {};
    }
    return bytes;
}

QString commandLanguageHelp()
{
    return QStringLiteral(
        "  00000001      set all 8 inputs at once, input 8 first and input 1 last\n"
        "                (the order the panel reads them); sent as one text\n"
        "  in 3=on       switch input 3 on (also: in 3=off, in 3=1, in all=off)\n"
        "                and send all 8 inputs\n"
        "  ident         send the identification text STEROWNIK\n"
        "  raw TEXT      send TEXT exactly, escapes \\r \\n \\t \\\\ (raw 5, raw STEROWNIK\\r\\n)\n"
        "  sleep MS      pause for MS milliseconds\n"
        "  expect FRAME  wait for the next frame from the panel; it must equal FRAME:\n"
        "                24 states, optionally its check digit, spaces allowed\n"
        "                (expect 00000100 00000000 00000000 F)\n"
        "  frames N      wait until N frames have arrived since the start\n"
        "  help          show these commands\n"
        "  quit          end the session\n"
        "  # ...         a comment\n");
}
