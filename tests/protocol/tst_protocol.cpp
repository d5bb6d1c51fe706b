#include <QTest>

#include "checkdigit.h"
#include "framereport.h"
#include "logtext.h"
#include "outputframe.h"
#include "runtimeerror.h"
#include "simcommand.h"

using namespace Qt::StringLiterals;

// The wire format from both ends: the panel's side, and the simulator's own reading.
class TestProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Golden vectors, "text:digit"; no digit: the text is refused as a type mismatch. The
    // frames below add theirs; the fuzz target's stored inputs prove the rest: either case,
    // only 24 characters count.
    void checkDigit_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("digit");
        for (const char *vector : {"010000000000000000000000:F", "800000000000000000000000:F",
                                   "FFFFFFFFFFFFFFFFFFFFFFFF:8", "12:C", ":0",
                                   // Each letter at an odd and an even position, in both cases.
                                   "ABCDEF0123456789ABCDEFAB:A", "abcdef0123456789abcdefab:A",
                                   "111111111111111111111111\r\n:C", "G00000000000000000000000:",
                                   "00000000000000000000000g:", "0 1:", "000000000000\r\n:",
                                   // Letters and digits that a Unicode-aware test would accept.
                                   "ą:", "\u0663:", "\uFF21:"}) {
            const QString text = QString::fromUtf8(vector);
            QTest::newRow(QByteArray(vector).replace("\r\n", " CR LF").constData())
                << text.section(u':', 0, 0) << text.section(u':', 1);
        }
    }
    void checkDigit()
    {
        QFETCH(QString, text);
        QFETCH(QString, digit);
        if (digit.isEmpty())
            QVERIFY_THROWS_EXCEPTION(TypeMismatchError, CalculateHexCheckDigit(text));
        else
            QCOMPARE(CalculateHexCheckDigit(text), digit);
    }
    // The panel's frame for the outputs on; the simulator reads it back as good, same outputs.
    void frames_data()
    {
        QTest::addColumn<QString>("on");
        QTest::newRow("000000000000000000000000 0") << QString();
        QTest::newRow("000000010000000000000000 F") << u"11"_s;
        QTest::newRow("100000000000000000000000 E") << u"18"_s;
        QTest::newRow("000000000000000100000001 E") << u"21 31"_s;
        QTest::newRow("100000001000000010000000 A") << u"18 28 38"_s;
        QTest::newRow("111111111111111111111111 C")
            << u"11 12 13 14 15 16 17 18 21 22 23 24 25 26 27 28 31 32 33 34 35 36 37 38"_s;
    }
    void frames()
    {
        QFETCH(QString, on);
        const QByteArray wire = QByteArray(QTest::currentDataTag()).replace(' ', "") + "\r\n";
        OutputShapes shapes {};
        for (const QString &id : on.split(u' ', Qt::SkipEmptyParts))
            shapes[size_t(id.toInt() / 10 - 1)][size_t(id.toInt() % 10 - 1)] = 1;
        const QString states = frameStateText(shapes);
        QCOMPARE(wireFrame(states + CalculateHexCheckDigit(states)).toLatin1(), wire);
        const FrameReport report = decodeFrame(wire);
        QVERIFY2(report.good(), qPrintable(report.problem));
        for (size_t s = 0; s < report.on.size(); ++s)
            for (size_t n = 0; n < report.on[s].size(); ++n)
                QCOMPARE(report.on[s][n], shapes[s][n] == 1);
    }
    // A hostile controller's bytes (Latin-1, as the socket hands them over) reach a history line
    // as inert ASCII, cut when long; the program's own messages keep their letters, one line.
    void escaping_data()
    {
        QTest::addColumn<bool>("received");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto row
            = [](const char *name, bool received, const QString &text, const QString &expected) {
                  QTest::newRow(name) << received << text << expected;
              };
        // u"\xff" is the character U+00FF: the byte as Latin-1 reads it.
        row("invalid UTF-8", true, u"\xc3\x28\xff\xfe"_s, u"\"\\xc3(\\xff\\xfe\""_s);
        row("backslash stays unambiguous", true, u"\\x1b"_s, u"\"\\\\x1b\""_s);
        row("quote", true, u"say \"hi\""_s, u"\"say \\\"hi\\\"\""_s);
        row("long text cut", true, QString(100000, QChar(0x1b)),
            u'"' + u"\\x1b"_s.repeated(16) + u"\"... (100000 characters)"_s);
        row("Polish letters stay", false, u"Brak połączenia ze sterownikiem...."_s,
            u"Brak połączenia ze sterownikiem...."_s);
        row("line breaks", false, u"a\r\nb\u2028c\u2029"_s, u"a\\x0d\\x0ab\\u2028c\\u2029"_s);
        row("escape and C1", false, u"\x1b[2J\u009b"_s, u"\\x1b[2J\\x9b"_s);
        row("bidi override", false, u"a\u202Ed"_s, u"a\\u202ed"_s);
        row("lone surrogate", false, QString(QChar(0xD800)), u"\\ud800"_s);
        row("surrogate pair stays", false, u"\U0001F600"_s, u"\U0001F600"_s);
    }
    void escaping()
    {
        QFETCH(bool, received);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(received ? LogText::receivedText(text, 16) : LogText::singleLine(text), expected);
    }
    // "line|reading": a command reads as "kind text number on", kind as its SimCommand::Kind
    // value, and a refused one as nothing (with a reason); a frame (ending in LF) as its verdict.
    void simReading_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("reading");
        for (const char *row :
             {"  IN 8 = 0 |1  8 0", "raw  ID\\r\\n|4  ID\r\n 0 0",
              "expect 00000100 00000000 00000000 f|6 000001000000000000000000F 0 0", "in 9=on|",
              "in 0=on|", "00000002|", "raw a\\q|", "expect 0000000000000000000000001|",
              "expect 00000100 00000000 00000000 E|",
              // A wrong digit, and the right one for sections swapped.
              "111111111111111111111111D\r\n|bad", "100000000000000000000000F\r\n|bad",
              "111111111111111111111111c\r\n|malformed", "0000000000000000000000000\n|malformed"}) {
            const QByteArrayList parts = QByteArray(row).split('|');
            QTest::newRow(parts[0].trimmed().constData())
                << parts[0] << QString::fromLatin1(parts[1]);
        }
    }
    void simReading()
    {
        QFETCH(QByteArray, line);
        QString reading, error;
        if (line.endsWith('\n')) {
            const FrameReport r = decodeFrame(line);
            reading = QLatin1String(r.good() ? "good" : r.wellFormed ? "bad" : "malformed");
        } else if (const auto c = parseCommandLine(QString::fromLatin1(line), &error)) {
            reading = QString::number(int(c->kind)) + u' ' + QLatin1String(c->text)
                + u" %1 %2"_s.arg(c->number).arg(c->on);
        }
        QCOMPARE(error.isEmpty(), !reading.isEmpty());
        QTEST(reading, "reading");
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
