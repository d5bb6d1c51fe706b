#include <QRandomGenerator>

#include "connectedpanel.h"
#include "stressrun.h"

class TestFlood : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A controller floods the panel with text while it presses: every press's frame comes
    // back, and afterwards the panel reads its controller truthfully.
    void floodLeavesPressesFlowing()
    {
        constexpr qint64 FloodBytes = 20 * 1024 * 1024, BurstSize = 256 * 1024;
        ConnectedPanel panel;
        QVERIFY(panel.startConnected() && panel.identify(panel.peer));
        qint64 taken = 0, flooded = 0;
        connect(panel.ui().Winsock1, &SocketControl::dataArrival, this,
                [&](qint32 n) { taken += n; });
        // Arbitrary bytes laced with markup and the identification, and the same as one
        // endless printable line: the hardest text to lay out.
        QByteArray arbitrary(BurstSize, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(arbitrary.data()), BurstSize / 4);
        for (qsizetype at = 0; at < BurstSize; at += 4096)
            arbitrary.replace(at, 24, "\r\n<b>x</b>&amp;STEROWNIK", 24);
        const QByteArray line = arbitrary.toBase64().first(BurstSize);
        QTcpSocket &controller = panel.peer.socket();
        int presses[2] = {0, 0}; // during the flood and after the panel has taken it all
        for (bool on = true; presses[1] < 20 && presses[0] < 5000; on = !on) {
            if (flooded < FloodBytes && controller.bytesToWrite() < 2 * BurstSize)
                flooded += controller.write((presses[0] % 8 ? line : arbitrary)
                                                .first(qMin(BurstSize, FloodBytes - flooded)));
            ++presses[taken >= FloodBytes];
            panel.press(11);
            QCOMPARE(panel.peer.waitForLine(60000),
                     QByteArray(on ? "000000010000000000000000F" : "0000000000000000000000000"));
        }
        qInfo("flood: %lld bytes taken by the panel; %d presses during it and %d after", taken,
              presses[0], presses[1]);
        QCOMPARE(taken, FloodBytes);
        QVERIFY(presses[0] > 0);
        panel.peer.send("10000000"); // on its own, once the panel has drained the flood
        QVERIFY(panel.arrived("10000000"));
        QCOMPARE(panel.lights(), QByteArray("RRRRRRRGG"));
    }

    // A controller that stops reading: the panel keeps no more than the frames, and once it
    // reads again it gets every one, the last one the state on screen.
    void controllerThatNeverReads()
    {
        const int extraPresses = stressRun() ? 100000 : 5000;
        ConnectedPanel panel;
        // Stalled this long, a controller would be given up as dead; here it must stay.
        panel.ui().Winsock1->setDeadPeerTimeouts(10, 3600);
        panel.peer.socket().setReadBufferSize(1); // one byte, the rest stays in the kernel
        QVERIFY(panel.startConnected());
        const auto *connection = panel.ui().Winsock1->findChild<QTcpSocket *>();
        QVERIFY(connection);

        // Presses until the kernel's buffers are full and Qt keeps frames itself, then more.
        int presses = 0, pressesToFill = -1;
        while (presses < 400000 && (pressesToFill < 0 || presses < pressesToFill + extraPresses)) {
            panel.ui().S[0][size_t(presses % 8)]->click();
            if (++presses % 200 == 0)
                QCoreApplication::processEvents();
            if (pressesToFill < 0 && connection->bytesToWrite() >= 4096)
                pressesToFill = presses;
        }
        const qint64 sent = qint64(presses) * 27, buffered = connection->bytesToWrite();
        qInfo("never-reading controller: kernel full after %d presses; %d more leave %lld bytes "
              "in the panel's write buffer",
              pressesToFill, extraPresses, buffered);
        QVERIFY(pressesToFill > 0 && buffered <= sent); // no more than the frames

        panel.peer.socket().setReadBufferSize(0);
        QVERIFY(waitUntil([&] { return panel.peer.received().size() >= sent; }, 60000));
        QCOMPARE(panel.peer.received().size(), sent);
        QCOMPARE(panel.peer.received().right(27), (panel.ui().Label2->text() + u"\r\n").toLatin1());
    }
};

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
