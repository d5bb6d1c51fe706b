#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>
#include <vector>

#include "controllerpeer.h"
#include "errorreporter.h"
#include "eventwait.h"
#include "form1.h"
#include "processfigures.h"
#include "shapecontrol.h"

namespace {

std::unique_ptr<QTcpSocket> peerOf(quint16 port, bool leaveUnread)
{
    auto peer = std::make_unique<QTcpSocket>();
    peer->setProxy(QNetworkProxy::NoProxy);
    // One byte at most is taken: the rest of a frame stays unread, so closing resets.
    if (leaveUnread)
        peer->setReadBufferSize(1);
    peer->connectToHost(QHostAddress::LocalHost, port);
    return peer;
}

} // namespace

// Storms of controllers against the running panel: every cycle ends with the watchdog
// listening again, and afterwards the panel serves a controller as on the first day.
class TestPanelStorm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectIdentifyDisconnect();

private:
    bool cycle(Form1 &form, int kind);
};

bool TestPanelStorm::cycle(Form1 &form, int kind)
{
    const Form1::Controls &ui = form.controls();
    Winsock &socket = *ui.Winsock1;
    if (!waitUntil([&] { return socket.State() == Winsock::sckListening; }, 10000))
        return false;
    const auto port = quint16(socket.LocalPort());

    if (kind == 3) {
        std::vector<std::unique_ptr<QTcpSocket>> peers;
        peers.push_back(peerOf(port, false));
        peers.push_back(peerOf(port, false));
        if (!waitUntil([&] { return socket.State() == Winsock::sckConnected; }))
            return false;
        waitUntil([&] { return socket.pendingRequestCount() == 0; });
        peers.clear();
        return waitUntil([&] { return socket.State() != Winsock::sckConnected; });
    }

    auto peer = peerOf(port, kind == 1);
    if (!waitUntil([&] { return socket.State() == Winsock::sckConnected; }))
        return false;
    if (kind != 2) {
        peer->write("STEROWNIK");
        if (!waitUntil([&] { return ui.Label3->text() == QLatin1String("STEROWNIK"); }))
            return false;
        ui.S[0][0]->click();
        if (!waitUntil([&] { return peer->bytesAvailable() >= (kind == 1 ? 1 : 27); }))
            return false;
    }
    if (kind == 1)
        peer->abort();
    else
        peer->disconnectFromHost();
    return waitUntil([&] { return socket.State() != Winsock::sckConnected; });
}

void TestPanelStorm::connectIdentifyDisconnect()
{
    const bool stress = stressRun();
    const int cycles = stress ? 300 : 60;
    Form1 form(0);
    const Form1::Controls &ui = form.controls();
    // The everyday suite ticks faster than the design's 500 ms; stress runs keep it.
    if (!stress)
        ui.Timer1->setInterval(50);
    QSignalSpy reports(form.errorReporter(), &ErrorReporter::reported);
    ui.Command1->click();
    QVERIFY(cycle(form, 0));
    QVERIFY(waitUntil([&] { return ui.Winsock1->State() == Winsock::sckListening; }, 10000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int descriptorsBefore = openDescriptorCount();

    QElapsedTimer clock;
    clock.start();
    int survived = 0;
    for (int i = 0; i < cycles; ++i) {
        const int kind = i % 4;
        if (!cycle(form, kind))
            QFAIL(qPrintable(QStringLiteral("cycle %1 (kind %2) failed in state %3")
                                 .arg(i)
                                 .arg(kind)
                                 .arg(ui.Winsock1->State())));
        ++survived;
    }
    QVERIFY(waitUntil([&] { return ui.Winsock1->State() == Winsock::sckListening; }, 10000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int descriptorsAfter = openDescriptorCount();
    qInfo("storm (panel): %d of %d cycles survived in %lld ms, watchdog every %d ms", survived,
          cycles, clock.elapsed(), ui.Timer1->interval());
    qInfo("storm (panel): descriptors %d before, %d after; peak memory %lld KiB", descriptorsBefore,
          descriptorsAfter, peakMemoryKiB());
    QVERIFY(descriptorsAfter <= descriptorsBefore);
    QCOMPARE(reports.size(), 0);

    // The panel still accepts and serves a controller. Stop and start first, so the link
    // indicator is red again and must be turned green by this controller.
    ui.Command2->click();
    ui.Command1->click();
    QCOMPARE(ui.Shape2->backColor(), Bgr::Red);
    ControllerPeer controller;
    QVERIFY(controller.connectTo(quint16(ui.Winsock1->LocalPort())));
    controller.send("STEROWNIK");
    QTRY_COMPARE(ui.Shape2->backColor(), Bgr::Green);
    controller.send("00000001");
    QTRY_COMPARE(ui.I[0]->backColor(), Bgr::Green);
    const bool on = ui.O[0][0]->shape() == 0;
    ui.S[0][0]->click();
    const QByteArray frame = controller.waitForLine();
    QCOMPARE(frame.size(), 25);
    QCOMPARE(frame.at(4), on ? '1' : '0');
}

QTEST_MAIN(TestPanelStorm)
#include "tst_panelstorm.moc"
