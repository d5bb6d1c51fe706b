#include <QTest>

#include "checkdigit.h"
#include "runtimeerror.h"

namespace {

QString zeros(int count)
{
    return QString(count, QLatin1Char('0'));
}

// What a character adds to the check sum at a 1-based position, from the doubling table.
int weighted(int value, int position)
{
    static constexpr int doubled[16] = {0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15};
    return position % 2 == 1 ? doubled[value] : value;
}

} // namespace

class TestCheckDigit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void workedExamples_data();
    void workedExamples();
    void closesTheSum();
    void badCharacter_data();
    void badCharacter();
    void lowerCaseEqualsUpperCase();
    void onlyTheFirst24Count_data();
    void onlyTheFirst24Count();
    void leavesItsInputUnchanged();
};

void TestCheckDigit::workedExamples_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("digit");

    const QString ones24(24, QLatin1Char('1'));
    QTest::newRow("24x0") << zeros(24) << QStringLiteral("0");
    QTest::newRow("1,23x0") << QStringLiteral("1") + zeros(23) << QStringLiteral("E");
    QTest::newRow("0,1,22x0") << QStringLiteral("01") + zeros(22) << QStringLiteral("F");
    QTest::newRow("24x1") << ones24 << QStringLiteral("C");
    QTest::newRow("F,23x0") << QStringLiteral("F") + zeros(23) << QStringLiteral("1");
    QTest::newRow("f,23x0") << QStringLiteral("f") + zeros(23) << QStringLiteral("1");
    QTest::newRow("8,23x0") << QStringLiteral("8") + zeros(23) << QStringLiteral("F");
    QTest::newRow("12") << QStringLiteral("12") << QStringLiteral("C");
    QTest::newRow("empty") << QString() << QStringLiteral("0");
    QTest::newRow("24x0,6x1") << zeros(24) + QStringLiteral("111111") << QStringLiteral("0");
    // Further short texts, summed by hand.
    QTest::newRow("1") << QStringLiteral("1") << QStringLiteral("E");
    QTest::newRow("FF") << QStringLiteral("FF") << QStringLiteral("2");
    QTest::newRow("123") << QStringLiteral("123") << QStringLiteral("6");
    QTest::newRow("9") << QStringLiteral("9") << QStringLiteral("D");
    QTest::newRow("24xF") << QString(24, QLatin1Char('F')) << QStringLiteral("8");
}

void TestCheckDigit::workedExamples()
{
    QFETCH(QString, text);
    QFETCH(QString, digit);
    QCOMPARE(CalculateHexCheckDigit(text), digit);
}

// For every frame with one or two outputs on, the digit completes the weighted sum to a
// multiple of 16, and it is always one upper-case hex digit.
void TestCheckDigit::closesTheSum()
{
    for (int a = 0; a < 24; ++a) {
        for (int b = a; b < 24; ++b) {
            QString frame = zeros(24);
            frame[a] = QLatin1Char('1');
            frame[b] = QLatin1Char('1');
            int sum = 0;
            for (int i = 0; i < 24; ++i)
                sum += weighted(frame.at(i).digitValue(), i + 1);
            const QString digit = CalculateHexCheckDigit(frame);
            QCOMPARE(digit.size(), 1);
            QVERIFY2(QStringLiteral("0123456789ABCDEF").contains(digit), qPrintable(frame));
            QCOMPARE((sum + digit.toInt(nullptr, 16)) % 16, 0);
        }
    }
}

void TestCheckDigit::badCharacter_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("G first") << QStringLiteral("G") + zeros(23);
    QTest::newRow("g 24th") << zeros(23) + QStringLiteral("g");
    QTest::newRow("blank") << QStringLiteral("0 1");
    QTest::newRow("minus") << QStringLiteral("-1") + zeros(22);
    QTest::newRow("NUL") << QString(QChar(u'\0')) + zeros(5);
    QTest::newRow("Polish letter") << QStringLiteral("ą");
    // Characters a Unicode-aware digit test would accept.
    QTest::newRow("Arabic-Indic 3") << QString(QChar(u'\u0663'));
    QTest::newRow("superscript 1") << QString(QChar(u'\u00B9'));
    QTest::newRow("fullwidth A") << QString(QChar(u'\uFF21'));
    QTest::newRow("CR LF in frame") << zeros(12) + QStringLiteral("\r\n");
}

void TestCheckDigit::badCharacter()
{
    QFETCH(QString, text);
    try {
        CalculateHexCheckDigit(text);
        QFAIL("a non-hex character was accepted");
    } catch (const TypeMismatchError &e) {
        QCOMPARE(e.number(), TypeMismatchError::Number);
        QVERIFY(!e.description().isEmpty());
    }
}

void TestCheckDigit::lowerCaseEqualsUpperCase()
{
    for (int position = 0; position < 24; ++position) {
        for (char16_t letter = u'a'; letter <= u'f'; ++letter) {
            QString lower = zeros(24);
            lower[position] = QChar(letter);
            const QString upper = lower.toUpper();
            QCOMPARE(CalculateHexCheckDigit(lower), CalculateHexCheckDigit(upper));
        }
    }
    QCOMPARE(CalculateHexCheckDigit(QStringLiteral("abcdef0123456789ABCDEFab")),
             CalculateHexCheckDigit(QStringLiteral("ABCDEF0123456789abcdefAB")));
}

void TestCheckDigit::onlyTheFirst24Count_data()
{
    QTest::addColumn<QString>("first24");
    QTest::addColumn<QString>("tail");

    QTest::newRow("ones after zeros") << zeros(24) << QStringLiteral("111111");
    QTest::newRow("hex after a frame") << QStringLiteral("1") + zeros(23) << QStringLiteral("F");
    QTest::newRow("non-hex after 24") << QStringLiteral("01") + zeros(22) << QStringLiteral("xyz!");
    QTest::newRow("CR LF after 24") << QString(24, QLatin1Char('1')) << QStringLiteral("\r\n");
    QTest::newRow("long tail") << QStringLiteral("0123456789abcdefABCDEF01")
                               << QString(1000, QLatin1Char('?'));
}

void TestCheckDigit::onlyTheFirst24Count()
{
    QFETCH(QString, first24);
    QFETCH(QString, tail);
    QCOMPARE(CalculateHexCheckDigit(first24 + tail), CalculateHexCheckDigit(first24));
}

void TestCheckDigit::leavesItsInputUnchanged()
{
    const QString original = QStringLiteral("abcdef0123456789ABCDEF01tail");
    QString text = original;
    text.detach();
    CalculateHexCheckDigit(text);
    QCOMPARE(text, original);
}

QTEST_APPLESS_MAIN(TestCheckDigit)
#include "tst_checkdigit.moc"
