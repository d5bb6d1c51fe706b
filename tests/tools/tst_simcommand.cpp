#include <QTest>

#include "framereport.h"
#include "simcommand.h"

// The simulator's own reading of what a user types and of what the panel sends.
class TestSimCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void decodeFrame_data();
    void decodeFrame();
};

void TestSimCommand::commandLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("on");

    using K = SimCommand::Kind;
    QTest::newRow("eight-states") << "00000001" << true << int(K::SetInputs)
                                  << QByteArray("00000001") << 0 << false;
    QTest::newRow("in-3-on") << "in 3=on" << true << int(K::SetInput) << QByteArray() << 3 << true;
    QTest::newRow("in-8=0-spaced")
        << "  IN 8 = 0 " << true << int(K::SetInput) << QByteArray() << 8 << false;
    QTest::newRow("in-all-on") << "in all=1" << true << int(K::SetAllInputs) << QByteArray() << 0
                               << true;
    QTest::newRow("raw-keeps-blanks-escapes")
        << "raw  STEROWNIK\\r\\n"
        << true << int(K::Raw) << QByteArray(" STEROWNIK\r\n") << 0 << false;
    QTest::newRow("expect-grouped")
        << "expect 00000100 00000000 00000000 f" << true << int(K::Expect)
        << QByteArray("000001000000000000000000F") << 0 << false;
    QTest::newRow("expect-without-digit")
        << "expect 000000000000000000000001" << true << int(K::Expect)
        << QByteArray("000000000000000000000001") << 0 << false;
    QTest::newRow("frames") << "frames 3" << true << int(K::WaitFrames) << QByteArray() << 3
                            << false;
    QTest::newRow("bad-expect-digit")
        << "expect 000000000000000000000001E" << false << 0 << QByteArray() << 0 << false;
    QTest::newRow("nine-inputs") << "in 9=on" << false << 0 << QByteArray() << 0 << false;
    QTest::newRow("digit-not-binary") << "00000002" << false << 0 << QByteArray() << 0 << false;
    QTest::newRow("seven-states") << "0000001" << false << 0 << QByteArray() << 0 << false;
    QTest::newRow("bad-escape") << "raw a\\q" << false << 0 << QByteArray() << 0 << false;
}

void TestSimCommand::commandLine()
{
    QFETCH(QString, line);
    QFETCH(bool, valid);

    QString error;
    const auto command = parseCommandLine(line, &error);
    QCOMPARE(command.has_value(), valid);
    QCOMPARE(error.isEmpty(), valid);
    if (!valid)
        return;
    QTEST(int(command->kind), "kind");
    QTEST(command->text, "text");
    QTEST(command->number, "number");
    QTEST(command->on, "on");
}

void TestSimCommand::decodeFrame_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<bool>("wellFormed");
    QTest::addColumn<bool>("checkDigitOk");
    QTest::addColumn<QString>("on"); // "s.n" of the outputs that are on

    QTest::newRow("none") << QByteArray("0000000000000000000000000\r\n") << true << true
                          << QString();
    QTest::newRow("O18") << QByteArray("100000000000000000000000E\r\n") << true << true
                         << QStringLiteral("1.8");
    QTest::newRow("O21-O31") << QByteArray("000000000000000100000001E\r\n") << true << true
                             << QStringLiteral("2.1 3.1");
    QTest::newRow("all") << QByteArray("111111111111111111111111C\r\n") << true << true
                         << QString();
    QTest::newRow("digits-swapped")
        << QByteArray("100000000000000000000000F\r\n") << true << false << QStringLiteral("1.8");
    QTest::newRow("lower-case-digit")
        << QByteArray("111111111111111111111111c\r\n") << false << false << QString();
    QTest::newRow("lf-only") << QByteArray("0000000000000000000000000\n") << false << false
                             << QString();
    QTest::newRow("short") << QByteArray("00000000F\r\n") << false << false << QString();
    QTest::newRow("state-2") << QByteArray("200000000000000000000000D\r\n") << false << false
                             << QString();
    QTest::newRow("cut-off") << QByteArray("00000000000") << false << false << QString();
}

void TestSimCommand::decodeFrame()
{
    QFETCH(QByteArray, wire);
    QFETCH(QString, on);

    const FrameReport report = ::decodeFrame(wire);
    QTEST(report.wellFormed, "wellFormed");
    QTEST(report.checkDigitOk, "checkDigitOk");
    QCOMPARE(report.problem.isEmpty(), report.good());
    if (!report.wellFormed || on.isEmpty())
        return;
    QStringList decoded;
    for (int s = 1; s <= 3; ++s) {
        for (int n = 1; n <= 8; ++n) {
            if (report.on[size_t(s - 1)][size_t(n - 1)])
                decoded += QStringLiteral("%1.%2").arg(s).arg(n);
        }
    }
    QCOMPARE(decoded.join(QLatin1Char(' ')), on);
}

QTEST_APPLESS_MAIN(TestSimCommand)
#include "tst_simcommand.moc"
