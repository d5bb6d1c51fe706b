#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <vector>

#include "controllerpeer.h"
#include "form1.h"
#include "shapecontrol.h"
#include "stressrun.h"

enum class Kind { CleanClose, Reset, Silent, Simultaneous, Unaccepted, Panel };
Q_DECLARE_METATYPE(Kind)

// Storms of connections, one way of ending per row, against the socket control used as the
// panel uses it (every request accepted, newest wins) and through the running panel.
class TestStorm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void storm_data()
    {
        QTest::addColumn<Kind>("kind");
        for (int kind = 0; const char *name : {"clean close", "reset", "silent", "simultaneous",
                                               "unaccepted", "through the panel"})
            QTest::newRow(name) << Kind(kind++);
    }
    void storm()
    {
        QFETCH(Kind, kind);
        const bool panelRow = kind == Kind::Panel;
        const int cycles = panelRow ? (stressRun() ? 300 : 60) : (stressRun() ? 2000 : 200);

        Form1 form(0);
        const Form1::Controls &ui = form.controls();
        SocketControl standalone;
        SocketControl &socket = panelRow ? *ui.Winsock1 : standalone;
        socket.setLocalPort(0);
        QSignalSpy reports(form.errorReporter(), &ErrorReporter::reported);
        QSignalSpy errors(&socket, &SocketControl::errorOccurred);
        QSignalSpy ended(&socket, &SocketControl::connectionEnded);
        QVERIFY(reports.isValid() && errors.isValid() && ended.isValid());
        QString received;
        bool accepting = true;
        if (panelRow) {
            ui.Timer1->setInterval(stressRun() ? 500 : 50); // the everyday suite ticks faster
            ui.Command1->click();
        } else {
            connect(&socket, &SocketControl::connectionRequest, this, [&](qint32 requestID) {
                if (accepting) {
                    socket.Close();
                    socket.Accept(requestID);
                }
            });
            connect(&socket, &SocketControl::dataArrival, this, [&] {
                socket.GetData(received);
                socket.SendData(QStringLiteral("OK\r\n"));
            });
        }
        const auto listening = [&] {
            if (!panelRow && socket.State() != SocketControl::sckListening) {
                socket.Close();
                socket.Listen();
            }
            return waitUntil([&] { return socket.State() == SocketControl::sckListening; }, 10000);
        };
        int survived = 0, resets = 0;
        const auto cycle = [&](Kind how) {
            QVERIFY(listening());
            accepting = how != Kind::Unaccepted;
            resets += how == Kind::Reset;
            std::vector<ControllerPeer> peers(how == Kind::Simultaneous ? 3 : 1);
            for (ControllerPeer &peer : peers) {
                // One byte taken at most: the answer stays unread, so aborting resets.
                peer.socket().setReadBufferSize(how == Kind::Reset ? 1 : 0);
                QVERIFY(peer.connectTo(quint16(socket.LocalPort())));
            }
            if (how == Kind::Unaccepted) {
                QVERIFY(peers[0].waitForDisconnect());
                return;
            }
            // The newest of simultaneous attempts wins, the others are dropped, not left pending.
            QVERIFY(waitUntil([&] {
                return socket.State() == SocketControl::sckConnected
                    && std::ranges::count(
                           peers, QTcpSocket::ConnectedState,
                           [](ControllerPeer &peer) { return peer.socket().state(); })
                    == 1;
            }));
            // Earlier attempts of the same cycle ended as replaced; this counts from the winner.
            const qsizetype endedBefore = ended.size();
            if (how == Kind::CleanClose || how == Kind::Reset) {
                peers[0].send("STEROWNIK");
                if (panelRow) {
                    QVERIFY(waitUntil([&] { return ui.Shape2->backColor() == Bgr::Green; }));
                    ui.S[0][0]->click();
                }
                QVERIFY(waitUntil([&] { return peers[0].socket().bytesAvailable() > 0; }));
            }
            for (ControllerPeer &peer : peers)
                how == Kind::CleanClose ? peer.close() : peer.abort();
            QVERIFY(waitUntil([&] { return ended.size() > endedBefore; }));
            QCOMPARE(ui.Shape2->backColor(), Bgr::Red); // the panel no longer shows the link up
        };

        cycle(panelRow ? Kind::CleanClose : kind);
        QVERIFY(listening());
        // Deletions the control left for later, done now, so descriptors can be counted.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const int descriptorsBefore = openDescriptorCount();
        const qsizetype objectsBefore = socket.findChildren<QObject *>().size();
        for (; survived < cycles && !QTest::currentTestFailed(); ++survived)
            cycle(panelRow ? Kind(survived % 4) : kind); // the panel takes each in turn
        QVERIFY(listening());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const int descriptorsAfter = openDescriptorCount();
        qInfo("storm (%s): %d of %d cycles survived, descriptors %d before %d after",
              QTest::currentDataTag(), survived - int(QTest::currentTestFailed()), cycles,
              descriptorsBefore, descriptorsAfter);
        QCOMPARE(descriptorsAfter, descriptorsBefore);
        QCOMPARE(socket.findChildren<QObject *>().size(), objectsBefore); // no old connection kept
        QCOMPARE(errors.size(), resets); // one per reset, none otherwise
        QCOMPARE(reports.size(), 0);
        cycle(Kind::CleanClose); // and still serves a controller
    }
};

QTEST_MAIN(TestStorm)
#include "tst_storm.moc"
