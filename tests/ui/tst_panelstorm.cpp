#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>

#include "controllerpeer.h"
#include "errorreporter.h"
#include "form1.h"
#include "processfigures.h"
#include "waituntil.h"

class TestPanelStorm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectIdentifyDisconnect();
};

// Storms of controllers against the running panel: identify-press-close, identify-press-reset,
// silent visits and two attempts at once take turns. After each the watchdog listens again;
// after the storm the panel serves a controller as on the first day.
void TestPanelStorm::connectIdentifyDisconnect()
{
    const int cycles = stressRun() ? 300 : 60;
    Form1 form(0);
    const Form1::Controls &ui = form.controls();
    SocketControl &socket = *ui.Winsock1;
    if (!stressRun())
        ui.Timer1->setInterval(50); // the everyday suite ticks faster than 500 ms
    QSignalSpy reports(form.errorReporter(), &ErrorReporter::reported);
    ui.Command1->click();
    const auto listening = [&] {
        return socket.State() == SocketControl::sckListening;
    };
    const auto cycle = [&](int kind) {
        QVERIFY(waitUntil(listening, 10000));
        ControllerPeer peers[2];
        for (int i = 0; i < (kind == 3 ? 2 : 1); ++i) {
            // One byte at most is taken: the rest of a frame stays unread, so closing resets.
            peers[i].socket().setReadBufferSize(kind == 1 ? 1 : 0);
            QVERIFY(peers[i].connectTo(quint16(socket.LocalPort())));
        }
        QVERIFY(waitUntil([&] {
            return socket.State() == SocketControl::sckConnected
                && socket.pendingRequestCount() == 0;
        }));
        if (kind < 2) {
            peers[0].send("STEROWNIK");
            ui.S[0][0]->click();
            QVERIFY(waitUntil([&] { return peers[0].socket().bytesAvailable() > 0; }));
        }
        for (ControllerPeer &peer : peers)
            peer.abort();
        QVERIFY(waitUntil([&] { return socket.State() != SocketControl::sckConnected; }));
    };

    // Descriptors are counted once a first controller has come and gone.
    cycle(0);
    QVERIFY(waitUntil(listening, 10000));
    const int descriptorsBefore = openDescriptorCount();
    int survived = 0;
    for (; survived < cycles && !QTest::currentTestFailed(); ++survived)
        cycle(survived % 4);
    QVERIFY(waitUntil(listening, 10000));
    const int descriptorsAfter = openDescriptorCount();
    qInfo("storm (panel): %d of %d cycles survived; descriptors %d before, %d after; peak memory "
          "%lld KiB",
          survived - QTest::currentTestFailed(), cycles, descriptorsBefore, descriptorsAfter,
          memoryKiB("VmHWM"));
    QVERIFY(descriptorsAfter <= descriptorsBefore);
    QCOMPARE(reports.size(), 0);
    cycle(0); // and still serves a controller
}

QTEST_MAIN(TestPanelStorm)
#include "tst_panelstorm.moc"
