#include "logtext.h"

namespace {

bool isPrintableAscii(char16_t c)
{
    return c >= 0x20 && c < 0x7F;
}

// C0 and C1 controls, DEL, and the characters that move or reorder text on a terminal or
// in an editor: line and paragraph separators, bidirectional overrides and isolates.
bool breaksLine(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029
        || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

void appendCode(QString &out, char16_t c)
{
    if (c <= 0xFF)
        out += QStringLiteral("\\x") + QString::number(c, 16).rightJustified(2, QLatin1Char('0'));
    else
        out += QStringLiteral("\\u") + QString::number(c, 16).rightJustified(4, QLatin1Char('0'));
}

} // namespace

namespace LogText {

QString escaped(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c == u'\\' || c == u'"')
            out += QLatin1Char('\\') + ch;
        else if (isPrintableAscii(c))
            out += ch;
        else
            appendCode(out, c);
    }
    return out;
}

QString singleLine(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += ch;
            out += text[++i];
        } else if (ch.isSurrogate() || breaksLine(ch.unicode())) {
            // A lone surrogate cannot be written as UTF-8 either.
            appendCode(out, ch.unicode());
        } else {
            out += ch;
        }
    }
    return out;
}

QString inputStates(const std::array<quint8, Inbound::InputCount> &states)
{
    QString out;
    for (auto k = states.size(); k > 0; --k)
        out += QString::number(states[k - 1]);
    return out;
}

QString receivedText(QStringView text, qsizetype shownCharacters)
{
    if (text.size() <= shownCharacters)
        return QLatin1Char('"') + escaped(text) + QLatin1Char('"');
    return QLatin1Char('"') + escaped(text.left(shownCharacters)) + QStringLiteral("\"... (")
        + QString::number(text.size()) + QStringLiteral(" characters)");
}

} // namespace LogText
