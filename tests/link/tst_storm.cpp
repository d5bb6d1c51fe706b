#include <QTcpSocket>
#include <QTest>

#include <algorithm>

#include "controllerpeer.h"
#include "processfigures.h"
#include "waituntil.h"
#include "socketcontrol.h"

class TestStorm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectIdentifyDisconnect();
};

// Storms of connections against the socket control used as the panel uses it: every request
// accepted on the same socket (newest wins), listening resumed after each visit. Closes,
// resets, silent visits and simultaneous attempts take turns, so each cycle starts from
// whatever the one before left behind.
void TestStorm::connectIdentifyDisconnect()
{
    const int cycles = stressRun() ? 10000 : 1000;
    SocketControl socket;
    socket.setLocalPort(0);
    int errors = 0;
    // Newest wins: closing first drops the connection before.
    connect(&socket, &SocketControl::connectionRequest, this, [&](qint32 requestID) {
        socket.Close();
        socket.Accept(requestID);
    });
    QString received;
    connect(&socket, &SocketControl::dataArrival, this, [&] {
        socket.GetData(received);
        socket.SendData(QStringLiteral("OK\r\n"));
    });
    connect(&socket, &SocketControl::errorOccurred, this, [&] { ++errors; });

    enum Kind { Close, Reset, Silent, Simultaneous };
    const auto cycle = [&](Kind kind) {
        socket.Close();
        socket.Listen();
        QTcpSocket peers[3];
        for (int i = 0; i < (kind == Simultaneous ? 3 : 1); ++i) {
            peers[i].setProxy(QNetworkProxy::NoProxy);
            // Taking one byte at most leaves the answer unread in the kernel: aborting then
            // resets the connection instead of closing it.
            peers[i].setReadBufferSize(kind == Reset ? 1 : 0);
            peers[i].connectToHost(QHostAddress::LocalHost, quint16(socket.LocalPort()));
        }
        if (kind <= Reset)
            peers[0].write("STEROWNIK");
        // One request accepted, the others dropped rather than left pending; an identified
        // peer has had its answer.
        QVERIFY(waitUntil([&] {
            return std::ranges::count(peers, QTcpSocket::UnconnectedState, &QTcpSocket::state) == 2
                && socket.State() == SocketControl::sckConnected && socket.pendingRequestCount() == 0
                && (kind > Reset
                    || (peers[0].bytesAvailable() > 0 && received == QLatin1String("STEROWNIK")));
        }));
        for (QTcpSocket &peer : peers)
            peer.abort();
        // A reset is a fault (error state and an Error event, counted below); a close is not.
        const qint16 end = kind == Reset ? SocketControl::sckError : SocketControl::sckClosed;
        QVERIFY(waitUntil([&] { return socket.State() == end; }));
    };

    cycle(Close);
    QTest::qWait(50); // deferred deletes
    const int descriptorsBefore = openDescriptorCount();
    int survived = 0;
    for (; survived < cycles && !QTest::currentTestFailed(); ++survived)
        cycle(Kind(survived % 4));
    QTest::qWait(50);
    const int descriptorsAfter = openDescriptorCount();
    qInfo("storm (socket control): %d of %d cycles survived; descriptors %d before, %d after; "
          "peak memory %lld KiB",
          survived - QTest::currentTestFailed(), cycles, descriptorsBefore, descriptorsAfter,
          memoryKiB("VmHWM"));
    QVERIFY(descriptorsAfter <= descriptorsBefore);
    QCOMPARE(errors, cycles / 4); // one a reset, none otherwise
    cycle(Close); // and still serves a controller
}

QTEST_MAIN(TestStorm)
#include "tst_storm.moc"
