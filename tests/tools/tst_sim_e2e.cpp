#include <QProcess>
#include <QTcpSocket>
#include <QTest>

#include "connectedpanel.h"

using namespace Qt::StringLiterals;

// The panel driven as an operator drives it, against a real korvan-sim process on loopback
// that checks each frame with its own check-digit code.
class TestSimE2e : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_refusing.bind(QHostAddress::LocalHost, 0)); }
    // The simulator's arguments, outputs pressed, exit code, what is typed to it (a session on
    // standard input ends with it), the inputs then shown (input 8 first) and what it prints.
    void session_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QList<int>>("presses");
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("inputs");
        QTest::addColumn<QByteArrayList>("printed");
        QTest::addColumn<int>("exitCode");
        const auto row = [](const char *name, const QStringList &arguments,
                            const QList<int> &presses, int exitCode, const QByteArray &typed = {},
                            const QByteArray &inputs = {}, const QByteArrayList &printed = {}) {
            QTest::newRow(name) << arguments << presses << typed << inputs << printed << exitCode;
        };
        row("inputs-and-frames", {u"--timeout"_s, u"60"_s}, {13, 18, 31, 13}, 0,
            "00000011\nin 8=on\nin 1=off\n", "10000010",
            {"<< frame 2  10000100 00000000 00000000 D  (check digit OK)\n"
             "   output    1 2 3 4 5 6 7 8\n"
             "   section 1 . . # . . . . #   on: 3 8\n",
             "<< frame 4  10000000 00000000 00000001 D  (check digit OK)"});
        row("expect-mismatch", {u"--expect"_s, u"00000001 00000000 00000000 F"_s}, {13}, 5);
        row("expect-two-in-order",
            {u"--expect"_s, u"000000000000000000000001F"_s, u"--expect"_s,
             u"000000000000000000000000"_s},
            {31, 31}, 0);
        row("wait-frames-met", {u"--send"_s, u"in 2=on"_s, u"--wait-frames"_s, u"2"_s}, {21, 38},
            0);
        row("wait-frames-timeout", {u"--wait-frames"_s, u"1"_s, u"--timeout"_s, u"1"_s}, {}, 4);
        row("script-from-stdin", {u"--script"_s, u"-"_s}, {13}, 0, "00000001\n", "00000001");
        row("unknown-option", {u"--frobnicate"_s}, {}, 2);
        const QStringList refusing = {u"--port"_s, QString::number(m_refusing.localPort())};
        row("no-panel", QStringList {u"--timeout"_s, u"0.5"_s, u"--send"_s, u"ident"_s} + refusing,
            {}, 3);
        // Standard input ends at once: the session must still wait for the panel, then fail.
        row("no-panel-input-ended", QStringList {u"--timeout"_s, u"0.5"_s} + refusing, {}, 3);
        // The buttons the sample commissioning script asks the operator to press, in its order.
        row("commissioning-script",
            {u"--timeout"_s, u"120"_s, u"--script"_s,
             QStringLiteral(KORVAN_SIM_EXAMPLES "/commissioning.txt")},
            {11, 18, 21, 28, 31, 38, 38, 31, 28, 21, 18, 11}, 0);
    }
    void session()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QList<int>, presses);
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, inputs);
        QFETCH(QByteArrayList, printed);
        QFETCH(int, exitCode);
        ConnectedPanel panel;
        QVERIFY(panel.startListening());
        QProcess sim; // a failed row leaves no simulator behind: the destructor kills it
        // The row's own --timeout and --port come later, so they win.
        const QStringList common
            = {u"--timeout"_s, u"30"_s, u"--port"_s, QString::number(panel.port())};
        sim.start(QStringLiteral(KORVAN_SIM_PATH), common + arguments);
        if (!presses.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(panel.ui().Shape2->backColor(), Bgr::Green, 10000);
            sim.write(typed);
            for (int k = 0; k < inputs.size(); ++k) // input 8 first, as on the wire
                QTRY_COMPARE(panel.ui().I[size_t(7 - k)]->backColor(),
                             inputs[k] == '1' ? Bgr::Green : Bgr::Red);
            for (const int id : std::as_const(presses))
                panel.press(id);
        }
        QByteArray out;
        // A Windows console program ends its lines with CR LF; the text is the same.
        const auto printedSoFar = [&]() -> const QByteArray & {
            return (out += sim.readAll()).replace("\r\n", "\n");
        };
        for (const QByteArray &text : std::as_const(printed))
            QTRY_VERIFY2_WITH_TIMEOUT(printedSoFar().contains(text), out.constData(), 10000);
        sim.closeWriteChannel();
        QTRY_COMPARE_WITH_TIMEOUT(sim.state(), QProcess::NotRunning, 60000);
        QVERIFY2(sim.exitCode() == exitCode, printedSoFar().constData());
    }

private:
    // Bound but never listening: a port where nobody accepts, held for the whole run.
    QTcpSocket m_refusing;
};

QTEST_MAIN(TestSimE2e)
#include "tst_sim_e2e.moc"
