#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>
#include <QToolButton>

#include "bgrcolor.h"
#include "form1.h"
#include "shapecontrol.h"

// The panel driven as an operator drives it, with a real korvan-sim process as the
// controller on the other end of a loopback connection.
class TestSimE2e : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup() { delete m_form; }
    void session_data();
    void session();

private:
    QPointer<Form1> m_form;
    // Bound but never listening: a port where nobody accepts, held for the whole run.
    QTcpSocket m_refusing;
};

// The buttons the sample commissioning script asks the operator to press: each of its
// expected frames differs from the one before in the output pressed.
static QByteArray commissioningPresses()
{
    QFile script(QStringLiteral(KORVAN_SIM_EXAMPLES "/commissioning.txt"));
    if (!script.open(QIODevice::ReadOnly))
        return {};
    QByteArray previous(24, '0'), presses;
    for (const QByteArray &line : script.readAll().split('\n')) {
        if (!line.startsWith("expect "))
            continue;
        const QByteArray frame = line.mid(7).replace(' ', "").left(24);
        for (int p = 0; p < 24; ++p) { // position p + 1 is output 8 - p % 8 of section p / 8 + 1
            if (frame[p] != previous[p])
                presses += " S" + QByteArray::number(10 * (p / 8 + 1) + 8 - p % 8);
        }
        previous = frame;
    }
    return presses.trimmed();
}

void TestSimE2e::initTestCase()
{
    QVERIFY(m_refusing.bind(QHostAddress::LocalHost, 0));
}

void TestSimE2e::init()
{
    m_form = new Form1(0);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    QTest::mouseClick(m_form->controls().Command1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_form->controls().Winsock1->LocalPort() != 0, 5000);
}

// The simulator's arguments, what is typed to it and the inputs the panel then shows
// (input 8 first, as on the wire), the outputs pressed, what the simulator must print,
// and its exit code. A session typed on standard input ends with its end.
void TestSimE2e::session_data()
{
    for (const char *column : {"arguments", "presses", "typed", "inputs"})
        QTest::addColumn<QByteArray>(column);
    QTest::addColumn<QByteArrayList>("printed");
    QTest::addColumn<int>("exitCode");
    const auto row = [](const char *name, const QByteArray &arguments, const QByteArray &presses,
                        int exitCode, const QByteArray &typed = {}, const QByteArray &inputs = {},
                        const QByteArrayList &printed = {}) {
        QTest::newRow(name) << arguments << presses << typed << inputs << printed << exitCode;
    };
    row("inputs-and-frames", "--timeout 60", "S13 S18 S31 S13", 0, "00000011\nin 8=on\nin 1=off\n",
        "10000010",
        {"<< frame 2  10000100 00000000 00000000 D  (check digit OK)\n"
         "   output    1 2 3 4 5 6 7 8\n"
         "   section 1 . . # . . . . #   on: 3 8\n",
         "<< frame 4  10000000 00000000 00000001 D  (check digit OK)"});
    row("expect-match", "--expect \"00000100 00000000 00000000 F\"", "S13", 0);
    row("expect-mismatch", "--expect \"00000001 00000000 00000000 F\"", "S13", 5);
    row("expect-swapped-sections", "--expect \"00000000 00000000 00000100 F\"", "S13", 5);
    row("expect-two-in-order",
        "--expect 000000000000000000000001F --expect 000000000000000000000000", "S31 S31", 0);
    row("wait-frames-met", "--send \"in 2=on\" --wait-frames 2", "S21 S38", 0);
    row("wait-frames-timeout", "--wait-frames 1 --timeout 1", "", 4);
    row("unknown-option", "--frobnicate", "", 2);
    const QByteArray refusing = " --port " + QByteArray::number(m_refusing.localPort());
    row("no-panel", "--timeout 0.5 --send ident" + refusing, "", 3);
    // Standard input ends at once: the session must still wait for the panel, then fail.
    row("no-panel-input-ended", "--timeout 0.5" + refusing, "", 3);
    const QByteArray presses = commissioningPresses();
    QCOMPARE(presses.count('S'), 12);
    row("commissioning-script", "--timeout 120 --script " KORVAN_SIM_EXAMPLES "/commissioning.txt",
        presses, 0);
}

void TestSimE2e::session()
{
    QFETCH(QByteArray, arguments);
    QFETCH(QByteArray, presses);
    QFETCH(QByteArray, typed);
    QFETCH(QByteArray, inputs);
    QFETCH(QByteArrayList, printed);
    QFETCH(int, exitCode);
    const Form1::Controls &c = m_form->controls();
    QProcess sim;
    // A failed row leaves no simulator behind to hold the next one up.
    const auto stop = qScopeGuard([&] {
        sim.kill();
        sim.waitForFinished(30000);
    });
    // The row's own --timeout and --port come later, so they win.
    const QByteArray common = "--timeout 30 --port " + QByteArray::number(c.Winsock1->LocalPort());
    sim.start(QStringLiteral(KORVAN_SIM_PATH),
              QProcess::splitCommand(QString::fromLatin1(common + ' ' + arguments)));
    if (!presses.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(c.Shape2->backColor(), Bgr::Green, 10000);
        sim.write(typed);
        for (int k = 0; k < inputs.size(); ++k) // input 8 first, as on the wire
            QTRY_COMPARE(c.I[size_t(7 - k)]->backColor(), inputs[k] == '1' ? Bgr::Green : Bgr::Red);
        for (const QByteArray &name : presses.split(' '))
            QTest::mouseClick(m_form->findChild<QAbstractButton *>(QString::fromLatin1(name)),
                              Qt::LeftButton);
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

QTEST_MAIN(TestSimE2e)
#include "tst_sim_e2e.moc"
