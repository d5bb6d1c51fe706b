#include <QTest>

#include "framereport.h"
#include "simcommand.h"

// The simulator's own reading of a line a user types (a command) or the panel sends (a
// frame, ending in LF).
class TestSimCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reading_data();
    void reading();
};

// A command reads as "kind text number on", kind as its SimCommand::Kind value, and a
// refused one as nothing (with a reason); a frame as its verdict and the outputs it has
// on, as section.number.
void TestSimCommand::reading_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("reading");
    QTest::newRow("in-8=0-spaced") << QByteArray("  IN 8 = 0 ") << "1  8 0";
    QTest::newRow("raw-keeps-blanks-escapes") << QByteArray("raw  ID\\r\\n") << "4  ID\r\n 0 0";
    QTest::newRow("expect-grouped")
        << QByteArray("expect 00000100 00000000 00000000 f") << "6 000001000000000000000000F 0 0";
    for (const char *refused :
         {"in 9=on", "in 0=on", "00000002", "raw a\\q", "expect 0000000000000000000000001",
          "expect 00000100 00000000 00000000 E"})
        QTest::newRow(refused) << QByteArray(refused) << QString();
    // The frames the wire format's own examples give, checked by the simulator's own code.
    QTest::newRow("O11") << QByteArray("000000010000000000000000F\r\n") << "good 1.1";
    QTest::newRow("O18") << QByteArray("100000000000000000000000E\r\n") << "good 1.8";
    QString all;
    for (int s = 1; s <= 3; ++s) {
        for (int n = 1; n <= 8; ++n)
            all += QStringLiteral(" %1.%2").arg(s).arg(n);
    }
    QTest::newRow("all-on") << QByteArray("111111111111111111111111C\r\n")
                            << QString(QStringLiteral("good") + all);
    QTest::newRow("O21-O31") << QByteArray("000000000000000100000001E\r\n") << "good 2.1 3.1";
    QTest::newRow("all-on-wrong-digit")
        << QByteArray("111111111111111111111111D\r\n") << QString(QStringLiteral("bad") + all);
    QTest::newRow("digits-swapped") << QByteArray("100000000000000000000000F\r\n") << "bad 1.8";
    QTest::newRow("lower-case-digit") << QByteArray("111111111111111111111111c\r\n") << "malformed";
    QTest::newRow("lf-only") << QByteArray("0000000000000000000000000\n") << "malformed";
}

void TestSimCommand::reading()
{
    QFETCH(QByteArray, line);
    QString reading, error;
    if (line.endsWith('\n')) {
        const FrameReport r = decodeFrame(line);
        reading = QLatin1String(r.good() ? "good" : r.wellFormed ? "bad" : "malformed");
        for (size_t i = 0; r.wellFormed && i < 24; ++i)
            reading += r.on[i / 8][i % 8] ? QStringLiteral(" %1.%2").arg(i / 8 + 1).arg(i % 8 + 1)
                                          : QString();
    } else if (const auto c = parseCommandLine(QString::fromLatin1(line), &error)) {
        reading = QString::number(int(c->kind)) + QLatin1Char(' ') + QLatin1String(c->text)
            + QStringLiteral(" %1 %2").arg(c->number).arg(c->on);
    }
    QCOMPARE(error.isEmpty(), !reading.isEmpty());
    QTEST(reading, "reading");
}

QTEST_APPLESS_MAIN(TestSimCommand)
#include "tst_simcommand.moc"
