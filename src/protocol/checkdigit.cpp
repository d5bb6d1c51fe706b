#include "checkdigit.h"

#include "runtimeerror.h"

namespace {

constexpr qsizetype CheckedLength = 24;

int hexValue(QChar c, qsizetype position)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    throw TypeMismatchError(
        QStringLiteral("znak U+%1 na pozycji %2 nie jest cyfrą szesnastkową")
            .arg(QString::number(u, 16).toUpper().rightJustified(4, QLatin1Char('0')))
            .arg(position));
}

} // namespace

QString CalculateHexCheckDigit(const QString &TransponderData)
{
    const qsizetype length = qMin(TransponderData.size(), CheckedLength);
    int sum = 0;
    for (qsizetype i = 0; i < length; ++i) {
        int v = hexValue(TransponderData.at(i), i + 1);
        // Position i + 1 is odd for even i: those are the doubled ones.
        if (i % 2 == 0) {
            v *= 2;
            if (v > 15)
                v -= 15;
        }
        sum += v;
    }
    const int r = sum % 16;
    const int digit = r == 0 ? 0 : 16 - r;
    return QString(QChar(u"0123456789ABCDEF"[digit]));
}
