#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QThread>
#include <QToolButton>

#include <atomic>
#include <memory>

#include "controllerpeer.h"
#include "form1.h"
#include "processfigures.h"
#include "shapecontrol.h"

class TestFlood : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void floodLeavesPressesFlowing();
};

void TestFlood::floodLeavesPressesFlowing()
{
    constexpr qint64 FloodBytes = 20 * 1024 * 1024, BurstSize = 256 * 1024, DeadlineMs = 200;
    Form1 form(0);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Form1::Controls &ui = form.controls();
    ui.Command1->click();
    QTRY_COMPARE_WITH_TIMEOUT(ui.Winsock1->State(), qint16(SocketControl::sckListening), 3000);
    const auto port = quint16(ui.Winsock1->LocalPort());
    std::atomic<bool> identified = false, finished = false;
    std::atomic<qint64> taken = 0; // by the panel: the flood lasts until it has taken it all
    connect(ui.Winsock1, &SocketControl::dataArrival, this, [&](qint32 bytes) { taken += bytes; });
    qint64 flooded = 0, worstMs[2] = {0, 0}; // presses during the flood and after it
    int presses[2] = {0, 0};

    // A controller on its own thread floods the panel and meanwhile presses an output button
    // every 20 ms by posting a click to the window, timing each press until its frame
    // arrives. Timed from here, the clock runs on while the window is busy.
    const std::unique_ptr<QThread> controller(QThread::create([&] {
        // Arbitrary bytes laced with markup and the identification, and the same as one
        // endless printable line: the hardest text to lay out.
        QByteArray arbitrary(BurstSize, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(arbitrary.data()), BurstSize / 4);
        for (qsizetype at = 0; at < BurstSize; at += 4096)
            arbitrary.replace(at, 24, "\r\n<b>x</b>&amp;STEROWNIK", 24);
        const QByteArray line = arbitrary.toBase64().first(BurstSize);
        QTcpSocket socket;
        socket.setProxy(QNetworkProxy::NoProxy);
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write("STEROWNIK");
        while (!identified && !finished)
            socket.waitForReadyRead(5);
        QElapsedTimer clock;
        clock.start();
        qint64 pressedAt = -1, nextPress = 0, floodEndedAt = -1;
        bool after = false;
        for (int b = 0; !finished && socket.state() == QAbstractSocket::ConnectedState; ++b) {
            if (flooded < FloodBytes && socket.bytesToWrite() < 2 * BurstSize)
                flooded += socket.write(
                    (b % 8 ? line : arbitrary).first(qMin(BurstSize, FloodBytes - flooded)));
            socket.waitForReadyRead(5); // and writes
            const qint64 now = clock.elapsed();
            if (floodEndedAt < 0 && taken >= FloodBytes)
                floodEndedAt = now;
            // A frame ends the press it answers; one ten times late counts with that wait.
            if (pressedAt >= 0 && (socket.canReadLine() || now - pressedAt > 10 * DeadlineMs)) {
                worstMs[after] = qMax(worstMs[after], now - pressedAt);
                ++presses[after];
                pressedAt = -1;
                socket.readAll();
            }
            if (pressedAt < 0 && now >= nextPress) {
                if (floodEndedAt >= 0 && now - floodEndedAt > 1500)
                    break;
                after = floodEndedAt >= 0;
                pressedAt = now;
                nextPress = now + 20;
                QMetaObject::invokeMethod(ui.S[0][0], &QAbstractButton::click,
                                          Qt::QueuedConnection);
            }
        }
        socket.write("10000000"); // on its own, once the panel has drained the flood
        socket.waitForBytesWritten(1000);
    }));
    const auto stop = qScopeGuard([&] {
        finished = true;
        controller->wait();
    });
    const qint64 residentBefore = memoryKiB("VmRSS");
    controller->start();
    QTRY_COMPARE_WITH_TIMEOUT(ui.Shape2->backColor(), Bgr::Green, 5000);
    identified = true;
    QTRY_VERIFY_WITH_TIMEOUT(controller->isFinished(), 240000);
    qInfo("flood: %lld bytes; worst press %lld ms during (%d presses), %lld ms after (%d "
          "presses); resident %lld KiB before, peak %lld KiB",
          flooded, worstMs[0], presses[0], worstMs[1], presses[1], residentBefore,
          memoryKiB("VmHWM"));
    QCOMPARE(flooded, FloodBytes);
    // Generous: sanitizer quarantine alone keeps up to 256 MiB of freed memory.
    QVERIFY(memoryKiB("VmHWM") - residentBefore < 400 * 1024);
    QVERIFY(presses[0] > 0 && presses[1] > 0);
    QVERIFY(qMax(worstMs[0], worstMs[1]) <= DeadlineMs);
    // And the panel still reads its controller truthfully.
    QTRY_COMPARE(ui.Label3->text(), QStringLiteral("10000000"));
    QCOMPARE(ui.I[7]->backColor(), Bgr::Green);
    QCOMPARE(ui.I[0]->backColor(), Bgr::Red);
}

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
