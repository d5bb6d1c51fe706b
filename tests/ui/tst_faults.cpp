#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "controllerpeer.h"
#include "errorreporter.h"
#include "eventwait.h"
#include "form1.h"
#include "processfigures.h"
#include "shapecontrol.h"

namespace {

constexpr int ResponsiveMs = 200;

QTcpSocket *panelConnection(const Form1 &form)
{
    const auto sockets = form.controls().Winsock1->findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets) {
        if (socket->state() == QAbstractSocket::ConnectedState)
            return socket;
    }
    return nullptr;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void portHeldByAnotherProgram();
    void controllerThatNeverReads();
};

void TestFaults::portHeldByAnotherProgram()
{
    QTcpServer holder;
    holder.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    const quint16 port = holder.serverPort();

    Form1 form(port);
    const Form1::Controls &ui = form.controls();
    QSignalSpy reports(form.errorReporter(), &ErrorReporter::reported);
    ui.Command1->click();

    // The operator is told once, in words, and the watchdog stops at the failed step.
    QTRY_COMPARE(reports.size(), 1);
    QCOMPARE(reports.at(0).at(0).toString(), QStringLiteral("Timer1_Timer"));
    const QString description = reports.at(0).at(1).toString();
    QVERIFY2(description.contains(QString::number(port))
                 && description.contains(QStringLiteral("zajęty")),
             qPrintable(description));
    QCOMPARE(form.errorReporter()->openReports(), 1);
    QCOMPARE(ui.Winsock1->State(), qint16(Winsock::sckClosed));
    QVERIFY(!ui.Timer1->isActive());
    QTest::qWait(3 * ui.Timer1->interval());
    QCOMPARE(reports.size(), 1);
    QVERIFY(!ui.Command1->isEnabled());

    // Once the port is free, stop and start bring the panel back.
    holder.close();
    ui.Command2->click();
    ui.Command1->click();
    QTRY_COMPARE(ui.Winsock1->State(), qint16(Winsock::sckListening));
    ControllerPeer controller;
    QVERIFY(controller.connectTo(port));
    controller.send("STEROWNIK");
    QTRY_COMPARE(ui.Shape2->backColor(), Bgr::Green);
    ui.S[0][0]->click();
    QCOMPARE(controller.waitForLine(), ui.Label2->text().toLatin1());
    QCOMPARE(reports.size(), 1);
}

void TestFaults::controllerThatNeverReads()
{
    const int extraPresses = stressRun() ? 100000 : 5000;
    Form1 form(0);
    form.show();
    const Form1::Controls &ui = form.controls();
    ui.Command1->click();
    QTRY_COMPARE(ui.Winsock1->State(), qint16(Winsock::sckListening));

    QTcpSocket peer;
    peer.setProxy(QNetworkProxy::NoProxy);
    peer.setReadBufferSize(1); // takes one byte, then leaves everything in the kernel
    peer.connectToHost(QHostAddress::LocalHost, quint16(ui.Winsock1->LocalPort()));
    QVERIFY(peer.waitForConnected(5000));
    peer.write("STEROWNIK");
    QTRY_COMPARE(ui.Shape2->backColor(), Bgr::Green);
    QTcpSocket *connection = panelConnection(form);
    QVERIFY(connection);

    // The event loop's own pulse: the longest gap between ticks of a 10 ms timer.
    QElapsedTimer pulse;
    qint64 worstGap = 0;
    QTimer heartbeat;
    connect(&heartbeat, &QTimer::timeout, this,
            [&] { worstGap = qMax(worstGap, pulse.restart()); });
    pulse.start();
    heartbeat.start(10);

    QElapsedTimer press;
    qint64 worstPress = 0;
    int presses = 0;
    auto pressMany = [&](int count) {
        for (int i = 0; i < count; ++i) {
            press.start();
            ui.S[0][size_t(presses % 8)]->click();
            worstPress = qMax(worstPress, press.elapsed());
            ++presses;
            if (presses % 200 == 0)
                QCoreApplication::processEvents();
        }
    };
    // Until the kernel's buffers are full and Qt starts keeping frames itself.
    while (connection->bytesToWrite() < 4096 && presses < 400000)
        pressMany(200);
    const int pressesToFill = presses;
    pressMany(extraPresses);
    QCoreApplication::processEvents();
    const qint64 buffered = connection->bytesToWrite();
    qInfo("never-reading controller: kernel full after %d presses; %d more leave %lld bytes in "
          "the panel's write buffer (%lld bytes a press); worst press %lld ms, worst event-loop "
          "gap %lld ms; peak memory %lld KiB",
          pressesToFill, extraPresses, buffered, buffered / qMax(1, presses - pressesToFill),
          worstPress, worstGap, peakMemoryKiB());
    QVERIFY(connection->bytesToWrite() >= 4096);
    QVERIFY(worstPress <= ResponsiveMs);
    QVERIFY(worstGap <= ResponsiveMs);
    // Bounded: no more than the frames themselves.
    QVERIFY(buffered <= qint64(presses) * 27);

    // When the controller reads again it gets every frame in order, the last one the
    // state on screen.
    peer.setReadBufferSize(0);
    QByteArray received;
    QVERIFY(waitUntil(
        [&] {
            received += peer.readAll();
            return received.size() >= qint64(presses) * 27;
        },
        30000));
    QCOMPARE(received.size(), qint64(presses) * 27);
    QCOMPARE(received.right(27), (ui.Label2->text() + QStringLiteral("\r\n")).toLatin1());
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
