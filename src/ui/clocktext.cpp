#include "clocktext.h"

namespace ClockText {

QString timeFormatWithoutZone(const QString &format)
{
    QString kept;
    kept.reserve(format.size());
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'\'')
            quoted = !quoted;
        if (quoted || c != u't') {
            kept += c;
            continue;
        }
        while (i + 1 < format.size() && format.at(i + 1) == u't')
            ++i;
        // A zone written in brackets goes together with them: "(t)", "[t]".
        const QChar next = i + 1 < format.size() ? format.at(i + 1) : QChar();
        if (!kept.isEmpty()
            && ((kept.back() == u'(' && next == u')') || (kept.back() == u'[' && next == u']'))) {
            kept.chop(1);
            ++i;
        }
    }
    // The zone's separator is left at one end: "HH:mm:ss t", "t HH:mm:ss", "h:mm:ss AP, t".
    auto separator = [](QChar c) {
        return c.isSpace() || c == u',';
    };
    while (!kept.isEmpty() && separator(kept.back()))
        kept.chop(1);
    qsizetype start = 0;
    while (start < kept.size() && separator(kept.at(start)))
        ++start;
    return kept.mid(start);
}

QString time(const QLocale &locale, QTime time)
{
    return locale.toString(time, timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
}

QString date(const QLocale &locale, QDate date)
{
    return locale.toString(date, QLocale::ShortFormat);
}

} // namespace ClockText
