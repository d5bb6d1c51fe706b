#include <QProcess>
#include <QTcpSocket>
#include <QTest>

#include "connectedpanel.h"

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
        for (const char *column : {"arguments", "presses", "typed", "inputs"})
            QTest::addColumn<QByteArray>(column);
        QTest::addColumn<QByteArrayList>("printed");
        QTest::addColumn<int>("exitCode");
        const auto row = [](const char *name, const QByteArray &arguments,
                            const QByteArray &presses, int exitCode, const QByteArray &typed = {},
                            const QByteArray &inputs = {}, const QByteArrayList &printed = {}) {
            QTest::newRow(name) << arguments << presses << typed << inputs << printed << exitCode;
        };
        row("inputs-and-frames", "--timeout 60", "13 18 31 13", 0, "00000011\nin 8=on\nin 1=off\n",
            "10000010",
            {"<< frame 2  10000100 00000000 00000000 D  (check digit OK)\n"
             "   output    1 2 3 4 5 6 7 8\n"
             "   section 1 . . # . . . . #   on: 3 8\n",
             "<< frame 4  10000000 00000000 00000001 D  (check digit OK)"});
        row("expect-mismatch", "--expect \"00000001 00000000 00000000 F\"", "13", 5);
        row("expect-two-in-order",
            "--expect 000000000000000000000001F --expect 000000000000000000000000", "31 31", 0);
        row("wait-frames-met", "--send \"in 2=on\" --wait-frames 2", "21 38", 0);
        row("wait-frames-timeout", "--wait-frames 1 --timeout 1", "", 4);
        row("unknown-option", "--frobnicate", "", 2);
        const QByteArray refusing = " --port " + QByteArray::number(m_refusing.localPort());
        row("no-panel", "--timeout 0.5 --send ident" + refusing, "", 3);
        // Standard input ends at once: the session must still wait for the panel, then fail.
        row("no-panel-input-ended", "--timeout 0.5" + refusing, "", 3);
        // The buttons the sample commissioning script asks the operator to press, in its order.
        row("commissioning-script",
            "--timeout 120 --script " KORVAN_SIM_EXAMPLES "/commissioning.txt",
            "11 18 21 28 31 38 38 31 28 21 18 11", 0);
    }
    void session()
    {
        QFETCH(QByteArray, arguments);
        QFETCH(QByteArray, presses);
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, inputs);
        QFETCH(QByteArrayList, printed);
        QFETCH(int, exitCode);
        ConnectedPanel panel;
        QVERIFY(panel.startListening());
        QProcess sim; // a failed row leaves no simulator behind: the destructor kills it
        // The row's own --timeout and --port come later, so they win.
        const QByteArray common = "--timeout 30 --port " + QByteArray::number(panel.port());
        sim.start(QStringLiteral(KORVAN_SIM_PATH),
                  QProcess::splitCommand(QString::fromLatin1(common + ' ' + arguments)));
        if (!presses.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(panel.ui().Shape2->backColor(), Bgr::Green, 10000);
            sim.write(typed);
            for (int k = 0; k < inputs.size(); ++k) // input 8 first, as on the wire
                QTRY_COMPARE(panel.ui().I[size_t(7 - k)]->backColor(),
                             inputs[k] == '1' ? Bgr::Green : Bgr::Red);
            for (const QByteArray &id : presses.split(' '))
                panel.press(id.toInt());
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
