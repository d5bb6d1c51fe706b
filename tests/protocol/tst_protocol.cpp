#include <QTest>

#include "checkdigit.h"
#include "framereport.h"
#include "logtext.h"
#include "outputframe.h"
#include "runtimeerror.h"
#include "simcommand.h"

using namespace Qt::StringLiterals;

// How the simulator judges a line from the panel.
enum class Verdict { Good, BadCheckDigit, NotAFrame };

// The wire format from both ends: the panel's side, and the simulator's own reading.
class TestProtocol : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Golden vectors; an empty digit: the text is refused as a type mismatch. The frames
    // below add theirs; the fuzz target's stored inputs prove the rest: either case, only 24
    // characters count.
    void checkDigit_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("digit");
        const auto row = [](const QString &text, const QString &digit) {
            const QByteArray name = text.isEmpty() ? "empty"_ba : text.toUtf8();
            QTest::newRow(QByteArray(name).replace("\r\n", " CR LF").constData()) << text << digit;
        };
        row(u"010000000000000000000000"_s, u"F"_s);
        row(u"800000000000000000000000"_s, u"F"_s);
        row(u"FFFFFFFFFFFFFFFFFFFFFFFF"_s, u"8"_s);
        row(u"12"_s, u"C"_s);
        row(QString(), u"0"_s);
        // Each letter at an odd and an even position, in both cases.
        row(u"ABCDEF0123456789ABCDEFAB"_s, u"A"_s);
        row(u"abcdef0123456789abcdefab"_s, u"A"_s);
        row(u"111111111111111111111111\r\n"_s, u"C"_s);
        const QString refused;
        row(u"G00000000000000000000000"_s, refused);
        row(u"00000000000000000000000g"_s, refused);
        row(u"0 1"_s, refused);
        row(u"000000000000\r\n"_s, refused);
        // Letters and digits that a Unicode-aware test would accept.
        row(u"ą"_s, refused);
        row(u"\u0663"_s, refused);
        row(u"\uFF21"_s, refused);
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
    // The panel's frame for the outputs on (design ids); the simulator reads it back as good,
    // same outputs.
    void frames_data()
    {
        QTest::addColumn<QList<int>>("on");
        QTest::addColumn<QByteArray>("wire");
        const auto row = [](const QList<int> &on, const QByteArray &wire) {
            const QByteArray name = wire.left(Output::Count) + ' ' + wire.mid(Output::Count, 1);
            QTest::newRow(name.constData()) << on << wire;
        };
        row({}, "0000000000000000000000000\r\n");
        row({11}, "000000010000000000000000F\r\n");
        row({18}, "100000000000000000000000E\r\n");
        row({21, 31}, "000000000000000100000001E\r\n");
        row({18, 28, 38}, "100000001000000010000000A\r\n");
        row({11, 12, 13, 14, 15, 16, 17, 18, 21, 22, 23, 24,
             25, 26, 27, 28, 31, 32, 33, 34, 35, 36, 37, 38},
            "111111111111111111111111C\r\n");
    }
    void frames()
    {
        QFETCH(QList<int>, on);
        QFETCH(QByteArray, wire);
        OutputShapes shapes {};
        for (const int id : on)
            shapes[size_t(id / 10 - 1)][size_t(id % 10 - 1)] = 1;
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
    // A line of the simulator's command language as typed; refused ones leave a reason.
    void simCommand_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<SimCommand::Kind>("kind");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("on");
        using Kind = SimCommand::Kind;
        const auto row
            = [](const QString &line, Kind kind, const QByteArray &text, int number, bool on) {
                  QTest::newRow(qPrintable(line.trimmed()))
                      << line << true << kind << text << number << on;
              };
        const auto refused = [](const QString &line) {
            QTest::newRow(qPrintable(line))
                << line << false << Kind::Help << QByteArray() << 0 << false;
        };
        row(u"  IN 8 = 0 "_s, Kind::SetInput, {}, 8, false);
        // One space after the word is the separator; the next is sent.
        row(u"raw  ID\\r\\n"_s, Kind::Raw, " ID\r\n", 0, false);
        row(u"expect 00000100 00000000 00000000 f"_s, Kind::Expect, "000001000000000000000000F", 0,
            false);
        refused(u"in 9=on"_s);
        refused(u"in 0=on"_s);
        refused(u"00000002"_s);
        refused(u"raw a\\q"_s);
        refused(u"quit now"_s); // the bare words take nothing after them
        refused(u"expect 0000000000000000000000001"_s);
        refused(u"expect 00000100 00000000 00000000 E"_s);
    }
    void simCommand()
    {
        QFETCH(QString, line);
        QFETCH(bool, accepted);
        QString error;
        const std::optional<SimCommand> command = parseCommandLine(line, &error);
        QCOMPARE(command.has_value(), accepted);
        QCOMPARE(error.isEmpty(), accepted);
        if (!command)
            return;
        QTEST(command->kind, "kind");
        QTEST(command->text, "text");
        QTEST(command->number, "number");
        QTEST(command->on, "on");
    }
    // A line from the panel (LF included) as the simulator judges it.
    void simFrame_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<Verdict>("verdict");
        QTest::newRow("wrong digit")
            << "111111111111111111111111D\r\n"_ba << Verdict::BadCheckDigit;
        QTest::newRow("digit of the sections swapped")
            << "100000000000000000000000F\r\n"_ba << Verdict::BadCheckDigit;
        QTest::newRow("lower-case digit")
            << "111111111111111111111111c\r\n"_ba << Verdict::NotAFrame;
        QTest::newRow("LF without CR") << "0000000000000000000000000\n"_ba << Verdict::NotAFrame;
    }
    void simFrame()
    {
        QFETCH(QByteArray, line);
        const FrameReport report = decodeFrame(line);
        QVERIFY(!report.problem.isEmpty());
        QTEST(report.good()           ? Verdict::Good
                  : report.wellFormed ? Verdict::BadCheckDigit
                                      : Verdict::NotAFrame,
              "verdict");
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
