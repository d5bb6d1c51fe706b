#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QToolButton>

#include <memory>

#include "bgrcolor.h"
#include "form1.h"
#include "shapecontrol.h"

// The panel driven as an operator drives it, with a real korvan-sim process as the
// controller on the other end of a loopback connection.
class TestSimE2e : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void operatorSession();
    void exitCodes_data();
    void exitCodes();
    void exitCodesWithoutPanel_data();
    void exitCodesWithoutPanel();
    void badCheckDigitIsAnExitCode();

private:
    std::unique_ptr<QProcess> startSim(const QStringList &arguments);
    void press(const char *name);
    ShapeControl *shape(const QString &name) const;
    bool finishes(QProcess &sim, int timeoutMs = 15000);

    QPointer<Form1> m_form;
    quint16 m_port = 0;
};

std::unique_ptr<QProcess> TestSimE2e::startSim(const QStringList &arguments)
{
    auto sim = std::make_unique<QProcess>();
    sim->setProgram(QStringLiteral(KORVAN_SIM_PATH));
    sim->setArguments(arguments);
    sim->start();
    if (!sim->waitForStarted(5000))
        qWarning("korvan-sim did not start: %s", qPrintable(sim->errorString()));
    return sim;
}

void TestSimE2e::press(const char *name)
{
    auto *button = m_form->findChild<QAbstractButton *>(QLatin1String(name));
    QVERIFY2(button, name);
    QTest::mouseClick(button, Qt::LeftButton);
}

ShapeControl *TestSimE2e::shape(const QString &name) const
{
    return m_form->findChild<ShapeControl *>(name);
}

bool TestSimE2e::finishes(QProcess &sim, int timeoutMs)
{
    // The panel must keep handling events while the simulator runs: never block here.
    QDeadlineTimer deadline(timeoutMs);
    while (sim.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(10);
    return sim.state() == QProcess::NotRunning;
}

void TestSimE2e::init()
{
    m_form = new Form1(0);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    press("Command1");
    QTRY_VERIFY_WITH_TIMEOUT(m_form->controls().Winsock1->LocalPort() != 0, 5000);
    m_port = quint16(m_form->controls().Winsock1->LocalPort());
}

void TestSimE2e::cleanup()
{
    delete m_form;
}

void TestSimE2e::operatorSession()
{
    auto sim = startSim({QStringLiteral("--port"), QString::number(m_port),
                         QStringLiteral("--timeout"), QStringLiteral("60")});
    QByteArray out;
    auto waitForOutput = [&](const QByteArray &text) {
        QDeadlineTimer deadline(10000);
        while (!out.contains(text) && !deadline.hasExpired()) {
            QTest::qWait(10);
            out += sim->readAllStandardOutput();
        }
        return out.contains(text);
    };

    // Identification: the link indicator turns green, every input reads 0.
    QTRY_COMPARE_WITH_TIMEOUT(shape(QStringLiteral("Shape2"))->backColor(), Bgr::Green, 10000);
    for (int k = 1; k <= 8; ++k)
        QCOMPARE(shape(QStringLiteral("I%1").arg(k))->backColor(), Bgr::Red);

    // Inputs, panel side: input 8 is the text's first character, input 1 its last.
    sim->write("00000001\n");
    QTRY_COMPARE(shape(QStringLiteral("I1"))->backColor(), Bgr::Green);
    for (int k = 2; k <= 8; ++k)
        QCOMPARE(shape(QStringLiteral("I%1").arg(k))->backColor(), Bgr::Red);
    sim->write("in 8=on\n");
    QTRY_COMPARE(shape(QStringLiteral("I8"))->backColor(), Bgr::Green);
    QCOMPARE(shape(QStringLiteral("I1"))->backColor(), Bgr::Green);
    QCOMPARE(shape(QStringLiteral("I7"))->backColor(), Bgr::Red);
    sim->write("in 1=off\n");
    QTRY_COMPARE(shape(QStringLiteral("I1"))->backColor(), Bgr::Red);
    QCOMPARE(shape(QStringLiteral("I8"))->backColor(), Bgr::Green);

    // Outputs, controller side: frames in wire order, check digits, decoded per section.
    press("S13");
    QVERIFY2(waitForOutput("<< frame 1  00000100 00000000 00000000 F  (check digit OK)"),
             out.constData());
    press("S18");
    QVERIFY2(waitForOutput("<< frame 2  10000100 00000000 00000000 D  (check digit OK)\n"
                           "   output    1 2 3 4 5 6 7 8\n"
                           "   section 1 . . # . . . . #   on: 3 8\n"),
             out.constData());
    press("S31");
    press("S13");
    QVERIFY2(waitForOutput("<< frame 4  10000000 00000000 00000001 D  (check digit OK)"),
             out.constData());
    QVERIFY2(out.contains("   section 3 # . . . . . . .   on: 1\n"), out.constData());
    QVERIFY(!out.contains("!!!"));

    sim->closeWriteChannel();
    QVERIFY(finishes(*sim));
    QCOMPARE(sim->exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim->exitCode(), 0);
}

void TestSimE2e::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("presses");
    QTest::addColumn<int>("exitCode");

    const QString expect = QStringLiteral("--expect");
    QTest::newRow("expect-match") << QStringList {expect,
                                                  QStringLiteral("00000100 00000000 00000000 F")}
                                  << QStringList {QStringLiteral("S13")} << 0;
    QTest::newRow("expect-two-in-order")
        << QStringList {expect, QStringLiteral("000000000000000000000001F"), expect,
                        QStringLiteral("000000000000000000000000")}
        << QStringList {QStringLiteral("S31"), QStringLiteral("S31")} << 0;
    QTest::newRow("expect-mismatch")
        << QStringList {expect, QStringLiteral("00000001 00000000 00000000 F")}
        << QStringList {QStringLiteral("S13")} << 5;
    QTest::newRow("expect-swapped-sections")
        << QStringList {expect, QStringLiteral("00000000 00000000 00000100 F")}
        << QStringList {QStringLiteral("S13")} << 5;
    QTest::newRow("wait-frames-met")
        << QStringList {QStringLiteral("--send"), QStringLiteral("in 2=on"),
                        QStringLiteral("--wait-frames"), QStringLiteral("2")}
        << QStringList {QStringLiteral("S21"), QStringLiteral("S38")} << 0;
    QTest::newRow("wait-frames-timeout")
        << QStringList {QStringLiteral("--wait-frames"), QStringLiteral("1"),
                        QStringLiteral("--timeout"), QStringLiteral("1")}
        << QStringList {} << 4;
}

void TestSimE2e::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, presses);
    QFETCH(int, exitCode);

    if (!arguments.contains(QStringLiteral("--timeout")))
        arguments << QStringLiteral("--timeout") << QStringLiteral("30");
    auto sim
        = startSim(QStringList {QStringLiteral("--port"), QString::number(m_port)} + arguments);
    QTRY_COMPARE_WITH_TIMEOUT(shape(QStringLiteral("Shape2"))->backColor(), Bgr::Green, 10000);
    for (const QString &name : std::as_const(presses))
        press(name.toLatin1().constData());

    QVERIFY(finishes(*sim));
    const QByteArray out = sim->readAllStandardOutput() + sim->readAllStandardError();
    QVERIFY2(sim->exitCode() == exitCode, out.constData());
}

void TestSimE2e::exitCodesWithoutPanel_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("no-panel") << QStringList {QStringLiteral("--timeout"), QStringLiteral("0.5"),
                                              QStringLiteral("--send"), QStringLiteral("ident")}
                              << 3;
    QTest::newRow("unknown-option") << QStringList {QStringLiteral("--frobnicate")} << 2;
    QTest::newRow("expect-wrong-check-digit")
        << QStringList {QStringLiteral("--expect"), QStringLiteral("000000000000000000000000F")}
        << 2;
    QTest::newRow("bad-send") << QStringList {QStringLiteral("--send"), QStringLiteral("in 9=on")}
                              << 2;
}

void TestSimE2e::exitCodesWithoutPanel()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);

    // A port nobody listens on: taken from the system, then released.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 closedPort = probe.serverPort();
    probe.close();

    auto sim
        = startSim(QStringList {QStringLiteral("--port"), QString::number(closedPort)} + arguments);
    QVERIFY(finishes(*sim, 10000));
    QCOMPARE(sim->exitCode(), exitCode);
}

void TestSimE2e::badCheckDigitIsAnExitCode()
{
    // The panel always computes its digits right, so a stand-in sends the faulty frame.
    QTcpServer standIn;
    QVERIFY(standIn.listen(QHostAddress::LocalHost));
    connect(&standIn, &QTcpServer::newConnection, &standIn, [&standIn] {
        QTcpSocket *peer = standIn.nextPendingConnection();
        peer->write("0000010000000000000000007\r\n");
    });
    auto sim = startSim({QStringLiteral("--port"), QString::number(standIn.serverPort()),
                         QStringLiteral("--wait-frames"), QStringLiteral("1"),
                         QStringLiteral("--timeout"), QStringLiteral("10")});
    QVERIFY(finishes(*sim));
    const QByteArray out = sim->readAllStandardOutput();
    QVERIFY2(out.contains("!!! BAD CHECK DIGIT: received 7, the states give F !!!"),
             out.constData());
    QCOMPARE(sim->exitCode(), 6);
}

QTEST_MAIN(TestSimE2e)
#include "tst_sim_e2e.moc"
