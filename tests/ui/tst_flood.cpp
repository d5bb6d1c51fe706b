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
#include "shapecontrol.h"
#include "waituntil.h"

class TestFlood : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void floodLeavesPressesFlowing();
};

void TestFlood::floodLeavesPressesFlowing()
{
    constexpr qint64 FloodBytes = 20 * 1024 * 1024, BurstSize = 256 * 1024;
    constexpr int PressesAfter = 20;
    Form1 form(0);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Form1::Controls &ui = form.controls();
    ui.Command1->click();
    QVERIFY(waitUntil([&] { return ui.Winsock1->State() == SocketControl::sckListening; }));
    const auto port = quint16(ui.Winsock1->LocalPort());
    std::atomic<bool> identified = false, finished = false;
    std::atomic<qint64> taken = 0; // by the panel: the flood lasts until it has taken it all
    connect(ui.Winsock1, &SocketControl::dataArrival, this, [&](qint32 bytes) { taken += bytes; });
    qint64 flooded = 0;
    int presses[2] = {0, 0}, frames = 0; // presses during the flood and after it
    QByteArray lastFrame;

    // A controller on its own thread floods the panel and meanwhile presses an output button
    // by posting a click to the window, the next one 20 ms after the last one's frame came.
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
        QElapsedTimer clock; // paces the presses only
        clock.start();
        bool waiting = false;
        qint64 nextPress = 0;
        for (int b = 0; !finished && socket.state() == QAbstractSocket::ConnectedState; ++b) {
            if (flooded < FloodBytes && socket.bytesToWrite() < 2 * BurstSize)
                flooded += socket.write(
                    (b % 8 ? line : arbitrary).first(qMin(BurstSize, FloodBytes - flooded)));
            socket.waitForReadyRead(5); // and writes
            while (socket.canReadLine()) {
                lastFrame = socket.readLine().trimmed();
                ++frames;
                waiting = false;
                nextPress = clock.elapsed() + 20;
            }
            const bool after = taken >= FloodBytes;
            if (after && presses[1] == PressesAfter && !waiting)
                break;
            if (!waiting && clock.elapsed() >= nextPress) {
                waiting = true;
                ++presses[after];
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
    controller->start();
    QVERIFY(waitUntil([&] { return ui.Shape2->backColor() == Bgr::Green; }));
    identified = true;
    QVERIFY(waitUntil([&] { return controller->isFinished(); }, 240000));
    qInfo("flood: %lld bytes taken by the panel; %d presses during it and %d after, %d frames "
          "came back",
          qint64(taken), presses[0], presses[1], frames);
    QCOMPARE(flooded, FloodBytes);
    QVERIFY(presses[0] > 0);
    // Every press's frame arrived, and the last one is the state on screen.
    QCOMPARE(frames, presses[0] + presses[1]);
    QCOMPARE(QString::fromLatin1(lastFrame), ui.Label2->text());
    QCOMPARE(lastFrame.at(7) == '1', ui.O[0][0]->backColor() == Bgr::Green);
    // The panel still reads its controller truthfully; the flood's texts are gone with it.
    QVERIFY(waitUntil([&] { return ui.Label3->text() == QStringLiteral("10000000"); }));
    QCOMPARE(ui.I[7]->backColor(), Bgr::Green);
    QCOMPARE(ui.I[0]->backColor(), Bgr::Red);
}

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
