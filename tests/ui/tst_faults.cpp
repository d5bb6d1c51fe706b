#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "controllerpeer.h"
#include "form1.h"
#include "processfigures.h"
#include "waituntil.h"

class TestFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void controllerThatNeverReads();
};

void TestFaults::controllerThatNeverReads()
{
    const int extraPresses = stressRun() ? 100000 : 5000;
    Form1 form(0);
    form.show();
    const Form1::Controls &ui = form.controls();
    // Stalled this long, a controller would be given up as dead; here it must stay.
    ui.Winsock1->setDeadPeerTimeouts(10, 3600);
    ui.Command1->click();
    QVERIFY(waitUntil([&] { return ui.Winsock1->State() == SocketControl::sckListening; }));
    ControllerPeer peer;
    peer.socket().setReadBufferSize(1); // takes one byte, then leaves everything in the kernel
    QVERIFY(peer.connectTo(quint16(ui.Winsock1->LocalPort())));
    QVERIFY(waitUntil([&] { return ui.Winsock1->State() == SocketControl::sckConnected; }));
    const auto *connection = ui.Winsock1->findChild<QTcpSocket *>();
    QVERIFY(connection);

    // Presses until the kernel's buffers are full and Qt keeps frames itself, then many more.
    int presses = 0, pressesToFill = -1;
    while (presses < 400000 && (pressesToFill < 0 || presses < pressesToFill + extraPresses)) {
        ui.S[0][size_t(presses % 8)]->click();
        if (++presses % 200 == 0)
            QCoreApplication::processEvents();
        if (pressesToFill < 0 && connection->bytesToWrite() >= 4096)
            pressesToFill = presses;
    }
    const qint64 buffered = connection->bytesToWrite();
    qInfo("never-reading controller: kernel full after %d presses; %d more leave %lld bytes in "
          "the panel's write buffer",
          pressesToFill, extraPresses, buffered);
    QVERIFY(pressesToFill > 0);
    QVERIFY(buffered <= qint64(presses) * 27); // bounded: no more than the frames themselves

    // Reading again, the controller gets every frame, the last one the state on screen, and
    // the panel's buffer empties.
    peer.socket().setReadBufferSize(0);
    QVERIFY(waitUntil([&] { return peer.received().size() >= qint64(presses) * 27; }, 60000));
    QCOMPARE(peer.received().size(), qint64(presses) * 27);
    QCOMPARE(peer.received().right(27), (ui.Label2->text() + QStringLiteral("\r\n")).toLatin1());
    QVERIFY(waitUntil([&] { return connection->bytesToWrite() == 0; }));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
