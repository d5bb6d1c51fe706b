#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <vector>

#include "controllerpeer.h"
#include "eventwait.h"
#include "processfigures.h"
#include "winsock.h"

namespace {

// The socket control's users as the panel has them: accept every request on the same
// socket (newest wins), take every arrival, answer the identification so the peer has
// something left unread when it resets.
class StormPanel : public QObject
{
public:
    StormPanel()
    {
        socket.setLocalPort(0);
        connect(&socket, &Winsock::connectionRequest, this, [this](qint32 requestID) {
            ++requests;
            try {
                if (socket.State() != Winsock::sckClosed)
                    socket.Close();
                socket.Accept(requestID);
            } catch (const std::exception &) {
                ++failedAccepts;
            }
        });
        connect(&socket, &Winsock::dataArrival, this, [this](qint32) {
            socket.GetData(received);
            ++arrivals;
            if (received == QLatin1String("STEROWNIK"))
                socket.SendData(QStringLiteral("000000000000000000000000F\r\n"));
        });
        connect(&socket, &Winsock::errorOccurred, this,
                [this](Winsock::ErrorEvent &) { ++errors; });
    }

    // What the watchdog does over its ticks: clear an error, listen when closed.
    void rearm()
    {
        if (socket.State() == Winsock::sckError)
            socket.Close();
        if (socket.State() == Winsock::sckClosed)
            socket.Listen();
    }

    Winsock socket;
    QString received;
    int requests = 0;
    int failedAccepts = 0;
    int arrivals = 0;
    int errors = 0;
};

std::unique_ptr<QTcpSocket> connectedPeer(quint16 port, bool leaveUnread = false)
{
    auto peer = std::make_unique<QTcpSocket>();
    peer->setProxy(QNetworkProxy::NoProxy);
    // Taking one byte at most leaves the rest unread in the kernel: closing then resets
    // the connection instead of closing it.
    if (leaveUnread)
        peer->setReadBufferSize(1);
    peer->connectToHost(QHostAddress::LocalHost, port);
    return peer;
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

class TestStorm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectIdentifyDisconnect();

private:
    bool cycle(StormPanel &panel, int kind);
};

bool TestStorm::cycle(StormPanel &panel, int kind)
{
    Winsock &socket = panel.socket;
    panel.rearm();
    if (socket.State() != Winsock::sckListening)
        return false;
    const auto port = quint16(socket.LocalPort());

    if (kind == 3) {
        // Attempts arriving together: the newest accepted request wins, no descriptor of
        // the others stays behind.
        std::vector<std::unique_ptr<QTcpSocket>> peers;
        for (int i = 0; i < 3; ++i)
            peers.push_back(connectedPeer(port));
        // Settled: one peer connected and accepted, the others refused or dropped.
        const auto settled = [&] {
            int connected = 0;
            for (const auto &peer : peers) {
                const auto state = peer->state();
                if (state == QAbstractSocket::ConnectedState)
                    ++connected;
                else if (state != QAbstractSocket::UnconnectedState)
                    return false;
            }
            return connected == 1 && socket.State() == Winsock::sckConnected
                && socket.pendingRequestCount() == 0;
        };
        if (!waitUntil(settled, 5000))
            return false;
        peers.clear();
        return waitUntil([&] { return socket.State() == Winsock::sckClosed; }, 5000);
    }

    auto peer = connectedPeer(port, kind == 1);
    if (!waitUntil([&] { return socket.State() == Winsock::sckConnected; }, 5000))
        return false;
    if (kind == 0 || kind == 1) {
        const int arrivals = panel.arrivals;
        peer->write("STEROWNIK");
        if (!waitUntil([&] { return panel.arrivals > arrivals; }, 5000)
            || panel.received != QLatin1String("STEROWNIK"))
            return false;
        const qint64 answer = kind == 1 ? 1 : 27;
        if (!waitUntil([&] { return peer->bytesAvailable() >= answer; }, 5000))
            return false;
    }
    const int errors = panel.errors;
    if (kind == 1) {
        peer->abort();
        // A reset is a fault: error state and one Error event.
        return waitUntil([&] { return panel.errors > errors; }, 5000)
            && socket.State() == Winsock::sckError;
    }
    peer->disconnectFromHost();
    // An orderly close: closed, no Error event.
    return waitUntil([&] { return socket.State() == Winsock::sckClosed; }, 5000)
        && panel.errors == errors;
}

void TestStorm::connectIdentifyDisconnect()
{
    const int cycles = stressRun() ? 10000 : 1000;
    StormPanel panel;
    QVERIFY(cycle(panel, 0));
    panel.rearm();
    flushDeletes();
    const int descriptorsBefore = openDescriptorCount();

    QElapsedTimer clock;
    clock.start();
    int survived = 0;
    for (int i = 0; i < cycles; ++i) {
        const int kind = i % 4;
        if (!cycle(panel, kind))
            QFAIL(qPrintable(QStringLiteral("cycle %1 (kind %2) failed in state %3")
                                 .arg(i)
                                 .arg(kind)
                                 .arg(panel.socket.State())));
        ++survived;
    }
    panel.rearm();
    flushDeletes();
    const int descriptorsAfter = openDescriptorCount();
    qInfo("storm (socket control): %d of %d cycles survived in %lld ms, %d requests, "
          "%d arrivals, %d errors, %d failed accepts",
          survived, cycles, clock.elapsed(), panel.requests, panel.arrivals, panel.errors,
          panel.failedAccepts);
    qInfo("storm (socket control): descriptors %d before, %d after; peak memory %lld KiB",
          descriptorsBefore, descriptorsAfter, peakMemoryKiB());
    QVERIFY(descriptorsAfter <= descriptorsBefore);

    // Still serves a controller.
    ControllerPeer controller;
    QVERIFY(controller.connectTo(quint16(panel.socket.LocalPort())));
    QTRY_COMPARE(panel.socket.State(), qint16(Winsock::sckConnected));
    controller.send("STEROWNIK");
    QCOMPARE(controller.waitForLine(), QByteArray("000000000000000000000000F"));
}

QTEST_MAIN(TestStorm)
#include "tst_storm.moc"
