#include <QTest>

#include "logtext.h"

// What a hostile controller may send must reach a history line as inert ASCII.
class TestLogText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void escapedBytes_data();
    void escapedBytes();
    void singleLine_data();
    void singleLine();
    void inputStates();
    void receivedTextIsCut();
};

void TestLogText::escapedBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QByteArray &bytes, const char *expected) {
        QTest::newRow(name) << bytes << QString::fromLatin1(expected);
    };
    row("inputs", "00000001", "00000001");
    row("clear screen", "\x1b[2J", "\\x1b[2J");
    row("CR LF forging a line", "0\r\n2026-01-01 info x", "0\\x0d\\x0a2026-01-01 info x");
    row("NUL", QByteArray("a\0b", 3), "a\\x00b");
    row("DEL", "\x7f", "\\x7f");
    row("C1 CSI and NEL",
        "\x9b"
        "2J\x85",
        "\\x9b2J\\x85");
    row("invalid UTF-8", "\xc3\x28\xff\xfe", "\\xc3(\\xff\\xfe");
    row("backslash stays unambiguous", "\\x1b", "\\\\x1b");
    row("quote", "say \"hi\"", "say \\\"hi\\\"");
    row("tab and bell", "\t\a", "\\x09\\x07");
    row("empty", "", "");
}

void TestLogText::escapedBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(LogText::escaped(QByteArrayView(bytes)), expected);
    // The socket hands text over as Latin-1: the same bytes give the same line.
    QCOMPARE(LogText::escaped(QString::fromLatin1(bytes)), expected);
}

void TestLogText::singleLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Polish letters stay") << QStringLiteral("Brak połączenia ze sterownikiem....")
                                         << QStringLiteral("Brak połączenia ze sterownikiem....");
    QTest::newRow("line breaks") << QStringLiteral("a\r\nb\u2028c\u2029")
                                 << QStringLiteral("a\\x0d\\x0ab\\u2028c\\u2029");
    QTest::newRow("escape and C1")
        << QStringLiteral("\x1b[2J\u009b") << QStringLiteral("\\x1b[2J\\x9b");
    QTest::newRow("bidi override") << QStringLiteral("a\u202Ed") << QStringLiteral("a\\u202ed");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QStringLiteral("\\ud800");
    QTest::newRow("surrogate pair stays")
        << QStringLiteral("\U0001F600") << QStringLiteral("\U0001F600");
}

void TestLogText::singleLine()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(LogText::singleLine(text), expected);
}

void TestLogText::inputStates()
{
    // InputState[0] is input 1, which the controller writes last.
    QCOMPARE(LogText::inputStates({1, 0, 0, 0, 0, 0, 5, 0}), QStringLiteral("05000001"));
}

void TestLogText::receivedTextIsCut()
{
    const QString flood = QString(100000, QChar(0x1b));
    const QString shown = LogText::receivedText(flood, 4);
    QCOMPARE(shown, QStringLiteral("\"\\x1b\\x1b\\x1b\\x1b\"... (100000 characters)"));
}

QTEST_APPLESS_MAIN(TestLogText)
#include "tst_logtext.moc"
