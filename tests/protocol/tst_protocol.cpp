#include <QTest>

#include "checkdigit.h"
#include "logtext.h"
#include "outputframe.h"
#include "runtimeerror.h"

using Ids = QList<int>;

namespace {
QString zeros(int count)
{
    return QString(count, QLatin1Char('0'));
}
} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checkDigit_data();
    void checkDigit();
    void frames_data();
    void frames();
    // What a hostile controller may send must reach a history line as inert ASCII. (The
    // whole session's history proves escapes, CR LF, NUL, DEL and C1 controls escaped.)
    void escapedBytes_data();
    void escapedBytes();
    void singleLine_data();
    void singleLine();
    void receivedTextIsCut();
};

// Golden vectors; no digit: the text is refused as a type mismatch.
void TestProtocol::checkDigit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("digit");
    const auto row = [](const char *name, const QString &text, const char *digit) {
        QTest::newRow(name) << text << QString::fromLatin1(digit);
    };
    row("24x0", zeros(24), "0");
    row("1,23x0", QStringLiteral("1") + zeros(23), "E");
    row("0,1,22x0", QStringLiteral("01") + zeros(22), "F");
    row("24x1", QString(24, QLatin1Char('1')), "C");
    row("F,23x0", QStringLiteral("F") + zeros(23), "1");
    row("f,23x0", QStringLiteral("f") + zeros(23), "1");
    row("8,23x0", QStringLiteral("8") + zeros(23), "F");
    row("12", QStringLiteral("12"), "C");
    row("empty", QString(), "0");
    row("24x0,6x1", zeros(24) + QStringLiteral("111111"), "0");
    row("24xF", QString(24, QLatin1Char('F')), "8");
    // Each letter at an odd and an even position, in both cases.
    row("ABCDEF0123456789ABCDEFAB", QStringLiteral("ABCDEF0123456789ABCDEFAB"), "A");
    row("abcdef0123456789abcdefab", QStringLiteral("abcdef0123456789abcdefab"), "A");
    row("FEDCBAfedcba", QStringLiteral("FEDCBAfedcba"), "6");
    // Only the first 24 characters count, whatever follows.
    row("01,22x0 then xyz!", QStringLiteral("01") + zeros(22) + QStringLiteral("xyz!"), "F");
    row("24x1 then CR LF", QString(24, QLatin1Char('1')) + QStringLiteral("\r\n"), "C");
    row("G first", QStringLiteral("G") + zeros(23), "");
    row("g 24th", zeros(23) + QStringLiteral("g"), "");
    row("blank", QStringLiteral("0 1"), "");
    row("Polish letter", QStringLiteral("ą"), "");
    // Digits that a Unicode-aware test would accept.
    row("Arabic-Indic 3", QString(QChar(u'\u0663')), "");
    row("fullwidth A", QString(QChar(u'\uFF21')), "");
    row("CR LF in frame", zeros(12) + QStringLiteral("\r\n"), "");
}

void TestProtocol::checkDigit()
{
    QFETCH(QString, text);
    QFETCH(QString, digit);
    if (digit.isEmpty())
        QVERIFY_THROWS_EXCEPTION(TypeMismatchError, CalculateHexCheckDigit(text));
    else
        QCOMPARE(CalculateHexCheckDigit(text), digit);
}

void TestProtocol::frames_data()
{
    QTest::addColumn<Ids>("on");
    QTest::addColumn<QByteArray>("wire");
    Ids all;
    for (int id = 11; id <= 38; ++id)
        all += Output::isDesignId(id) ? Ids {id} : Ids {};
    const auto row = [](const char *frame, const Ids &on) {
        QTest::newRow(frame) << on << QByteArray(frame) + "\r\n";
    };
    row("0000000000000000000000000", {});
    row("000000010000000000000000F", {11});
    row("100000000000000000000000E", {18});
    row("010000000000000000000000F", {17});
    row("000001000000000000000000F", {13});
    row("000000000000000100000000F", {21});
    row("000000000000000000000001F", {31});
    row("111111111111111111111111C", all);
    row("100000001000000010000000A", {18, 28, 38});
}

void TestProtocol::frames()
{
    QFETCH(Ids, on);
    QFETCH(QByteArray, wire);
    OutputShapes shapes {};
    for (const int id : on)
        shapes[size_t(Output::sectionOf(id) - 1)][size_t(Output::numberOf(id) - 1)] = 1;
    const QString states = frameStateText(shapes);
    QCOMPARE(wireFrame(states + CalculateHexCheckDigit(states)).toLatin1(), wire);
}

void TestProtocol::escapedBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QByteArray &bytes, const char *expected) {
        QTest::newRow(name) << bytes << QString::fromLatin1(expected);
    };
    row("invalid UTF-8", "\xc3\x28\xff\xfe", "\\xc3(\\xff\\xfe");
    row("backslash stays unambiguous", "\\x1b", "\\\\x1b");
    row("quote", "say \"hi\"", "say \\\"hi\\\"");
    row("tab and bell", "\t\a", "\\x09\\x07");
    row("empty", "", "");
}

void TestProtocol::escapedBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(LogText::escaped(QByteArrayView(bytes)), expected);
    // The socket hands text over as Latin-1: the same bytes give the same line.
    QCOMPARE(LogText::escaped(QString::fromLatin1(bytes)), expected);
}

void TestProtocol::singleLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString polish = QStringLiteral("Brak połączenia ze sterownikiem....");
    QTest::newRow("Polish letters stay") << polish << polish;
    QTest::newRow("line breaks") << QStringLiteral("a\r\nb\u2028c\u2029")
                                 << QStringLiteral("a\\x0d\\x0ab\\u2028c\\u2029");
    QTest::newRow("escape and C1")
        << QStringLiteral("\x1b[2J\u009b") << QStringLiteral("\\x1b[2J\\x9b");
    QTest::newRow("bidi override") << QStringLiteral("a\u202Ed") << QStringLiteral("a\\u202ed");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QStringLiteral("\\ud800");
    QTest::newRow("surrogate pair stays")
        << QStringLiteral("\U0001F600") << QStringLiteral("\U0001F600");
}

void TestProtocol::singleLine()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(LogText::singleLine(text), expected);
}

void TestProtocol::receivedTextIsCut()
{
    QCOMPARE(LogText::receivedText(QString(100000, QChar(0x1b)), 4),
             QStringLiteral("\"\\x1b\\x1b\\x1b\\x1b\"... (100000 characters)"));
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
