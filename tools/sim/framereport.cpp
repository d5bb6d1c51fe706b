#include "framereport.h"

#include <QStringList>

#include "logtext.h"

namespace {

bool isUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// The panel's bytes as the history shows a controller's: Latin-1, escaped to plain ASCII.
QString printable(const QByteArray &bytes)
{
    return LogText::escaped(QString::fromLatin1(bytes));
}

} // namespace

char frameCheckDigit(const QByteArray &states)
{
    // Characters 1, 3, 5, ... count twice, folded back below 16 by taking 15 off; a state
    // is 0 or 1, so a doubled one counts 2 and a plain one 1.
    int sum = 0;
    for (qsizetype p = 1; p <= states.size(); ++p) {
        if (states.at(p - 1) == '1')
            sum += p % 2 == 1 ? 2 : 1;
    }
    return "0FEDCBA987654321"[sum % 16];
}

FrameReport decodeFrame(const QByteArray &lineWithEnd)
{
    FrameReport r;
    QByteArray line = lineWithEnd;
    const bool hasLf = line.endsWith('\n');
    if (hasLf)
        line.chop(1);
    const bool hasCr = line.endsWith('\r');
    if (hasCr)
        line.chop(1);
    r.line = line;

    if (!hasLf) {
        r.problem = QStringLiteral("incomplete line: the connection ended before its LF");
        return r;
    }
    if (!hasCr) {
        r.problem = QStringLiteral("line ends in LF without CR");
        return r;
    }
    if (line.size() != Output::Count + 1) {
        r.problem = QStringLiteral("%1 characters before CR LF, a frame has 25").arg(line.size());
        return r;
    }
    for (int p = 0; p < Output::Count; ++p) {
        if (line.at(p) != '0' && line.at(p) != '1') {
            r.problem = QStringLiteral("character %1 is \"%2\", states are \"0\" or \"1\"")
                            .arg(p + 1)
                            .arg(printable(line.mid(p, 1)));
            return r;
        }
    }
    r.receivedDigit = line.at(Output::Count);
    if (!isUpperHex(r.receivedDigit)) {
        r.problem = QStringLiteral("check digit \"%1\" is not an upper-case hex digit")
                        .arg(printable(line.mid(Output::Count, 1)));
        return r;
    }
    r.wellFormed = true;
    for (int s = 1; s <= Output::Sections; ++s) {
        for (int n = 1; n <= Output::PerSection; ++n)
            r.on[size_t(s - 1)][size_t(n - 1)] = line.at(Output::framePosition(s, n) - 1) == '1';
    }
    r.expectedDigit = frameCheckDigit(line.left(Output::Count));
    r.checkDigitOk = r.receivedDigit == r.expectedDigit;
    if (!r.checkDigitOk) {
        r.problem = QStringLiteral("BAD CHECK DIGIT: received %1, the states give %2")
                        .arg(QLatin1Char(r.receivedDigit))
                        .arg(QLatin1Char(r.expectedDigit));
    }
    return r;
}

QString formatFrameReport(const FrameReport &report, int frameNumber)
{
    QString text = QStringLiteral("<< frame %1  ").arg(frameNumber);
    if (!report.wellFormed) {
        return text
            + QStringLiteral("\"%1\"\n!!! NOT A FRAME: %2 !!!\n")
                  .arg(printable(report.line), report.problem);
    }
    const QByteArray &l = report.line;
    text += QStringLiteral("%1 %2 %3 %4")
                .arg(QLatin1String(l.mid(0, 8)), QLatin1String(l.mid(8, 8)),
                     QLatin1String(l.mid(16, 8)), QLatin1String(l.mid(24, 1)));
    text += report.checkDigitOk ? QStringLiteral("  (check digit OK)\n")
                                : QStringLiteral("\n!!! %1 !!!\n").arg(report.problem);
    // Outputs in the window's order, 1 to 8 left to right.
    text += QStringLiteral("   output    1 2 3 4 5 6 7 8\n");
    for (int s = 1; s <= Output::Sections; ++s) {
        QString marks;
        QStringList on;
        for (int n = 1; n <= Output::PerSection; ++n) {
            const bool isOn = report.on[size_t(s - 1)][size_t(n - 1)];
            marks += isOn ? QStringLiteral(" #") : QStringLiteral(" .");
            if (isOn)
                on += QString::number(n);
        }
        text += QStringLiteral("   section %1%2   on: %3\n")
                    .arg(s)
                    .arg(marks)
                    .arg(on.isEmpty() ? QStringLiteral("none") : on.join(QLatin1Char(' ')));
    }
    return text;
}
