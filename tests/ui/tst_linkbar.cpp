#include <QTimer>

#include "connectedpanel.h"
#include "errorreporter.h"

namespace {

enum class End { PeerCloses, Reset, NewerRequest, StopPressed };

// A second host on the plant network, from another loopback address.
void connectFrom(QTcpSocket &socket, const char *address, quint16 port)
{
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.bind(QHostAddress(QLatin1String(address)));
    socket.connectToHost(QHostAddress::LocalHost, port);
}

} // namespace

Q_DECLARE_METATYPE(End)

class TestLinkBar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void endedLinkTurnsRed_data()
    {
        QTest::addColumn<End>("end");
        QTest::newRow("controller closes") << End::PeerCloses;
        QTest::newRow("connection reset") << End::Reset;
        QTest::newRow("replaced by a newer request") << End::NewerRequest;
        QTest::newRow("stop pressed") << End::StopPressed;
    }

    // "Linked" only between an identification and the end of that connection; nothing else
    // on the window changes with the end.
    void endedLinkTurnsRed()
    {
        QFETCH(End, end);
        ConnectedPanel panel;
        const Form1::Controls &ui = panel.ui();
        QSignalSpy reports(panel.form->errorReporter(), &ErrorReporter::reported);
        QVERIFY(reports.isValid());
        // One byte at most: a frame stays unread in the kernel, so aborting resets.
        panel.peer.socket().setReadBufferSize(end == End::Reset ? 1 : 0);
        QVERIFY(panel.startConnected() && panel.identify(panel.peer));
        panel.peer.send("01000001");
        QVERIFY(panel.arrived("01000001"));

        switch (end) {
        case End::PeerCloses:
            panel.peer.close();
            break;
        case End::Reset:
            panel.press(11);
            QVERIFY(waitUntil([&] { return panel.peer.socket().bytesAvailable() > 0; }));
            panel.peer.abort();
            break;
        case End::NewerRequest:
            // The handler closes the connection before taking the newcomer, who is gone
            // already: only the close happens and the watchdog listens again.
            Q_EMIT ui.Winsock1->connectionRequest(12345);
            break;
        case End::StopPressed:
            ui.Command2->click();
            break;
        }
        QVERIFY(waitUntil([&] { return ui.Shape2->backColor() == Bgr::Red; }));
        QString inputs;
        for (const ShapeControl *indicator : ui.I)
            inputs += indicator->backColor() == Bgr::Green ? u'1' : u'0';
        QCOMPARE(inputs, QStringLiteral("10000010")); // I1 … I8, kept from "01000001"
        QCOMPARE(ui.IP->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(ui.Label3->text(), QStringLiteral("01000001"));

        ControllerPeer next;
        if (end == End::StopPressed) { // stop keeps the connection: it is still served
            panel.press(11);
            QCOMPARE(panel.peer.waitForLine(), QByteArray("000000010000000000000000F"));
            QCOMPARE(panel.socketState(), SocketControl::sckConnected);
            QVERIFY(panel.identify(panel.peer));
        } else {
            QVERIFY(panel.waitForSocketState(SocketControl::sckListening));
            QVERIFY(next.connectTo(panel.port()));
            QVERIFY(panel.waitForSocketState(SocketControl::sckConnected));
            next.send("01000001");
            QVERIFY(panel.arrived("01000001"));
            QCOMPARE(ui.Shape2->backColor(), Bgr::Red); // green only on identification
            QVERIFY(panel.identify(next));
        }
        QCOMPARE(reports.size(), 0);
    }

    // A host off the allow-list knocks every 100 ms for 10 s while the controller is served:
    // no frame, input, label or indicator is touched. First it knocks while the panel
    // listens, and is refused without taking the slot.
    void strangerDisturbsNothing()
    {
        ConnectedPanel panel;
        const Form1::Controls &ui = panel.ui();
        SocketControl &socket = *ui.Winsock1;
        socket.setAllowedPeers({*SocketControl::parsePeer(QStringLiteral("127.0.0.1"))});
        QSignalSpy refused(&socket, &SocketControl::strangerRefused);
        QSignalSpy requests(&socket, &SocketControl::connectionRequest);
        QSignalSpy reports(panel.form->errorReporter(), &ErrorReporter::reported);
        QVERIFY(refused.isValid() && requests.isValid() && reports.isValid());

        QVERIFY(panel.startListening());
        const QString labelBefore = ui.Label3->text();
        QTcpSocket early;
        connectFrom(early, "127.0.0.2", panel.port());
        QVERIFY(waitUntil([&] { return refused.size() == 1; }));
        QCOMPARE(refused[0][0].toString(), QStringLiteral("127.0.0.2"));
        QCOMPARE(socket.State(), SocketControl::sckListening);
        QCOMPARE(requests.size(), 0);
        QCOMPARE(ui.Label3->text(), labelBefore);

        QVERIFY(panel.peer.connectTo(panel.port()));
        QVERIFY(panel.waitForSocketState(SocketControl::sckConnected));
        QVERIFY(panel.identify(panel.peer));

        const quint16 port = panel.port();
        int knocks = 0, frames = 0;
        QTimer knocker;
        connect(&knocker, &QTimer::timeout, this, [&] {
            connectFrom(*new QTcpSocket(&knocker), "127.0.0.2", port);
            ++knocks;
        });
        knocker.start(100);
        for (bool on = true; knocks < 100; on = !on, ++frames) {
            panel.press(11);
            QCOMPARE(panel.peer.waitForLine(),
                     QByteArray(on ? "000000010000000000000000F" : "0000000000000000000000000"));
            const QByteArray inputs = on ? "00000001" : "10000000";
            panel.peer.send(inputs);
            QVERIFY(panel.arrived(inputs));
            QCOMPARE(ui.I[0]->backColor(), on ? Bgr::Green : Bgr::Red);
            QCOMPARE(ui.I[7]->backColor(), on ? Bgr::Red : Bgr::Green);
        }
        knocker.stop();
        qInfo("stranger: %d knocks while %d frames were served", knocks, frames);
        QCOMPARE(socket.State(), SocketControl::sckConnected);
        QCOMPARE(ui.Shape2->backColor(), Bgr::Green);
        QCOMPARE(ui.IP->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(requests.size(), 1);
        QVERIFY(panel.peer.received().isEmpty());
        QCOMPARE(reports.size(), 0);
    }
};

QTEST_MAIN(TestLinkBar)
#include "tst_linkbar.moc"
