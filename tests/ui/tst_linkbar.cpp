#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "bgrcolor.h"
#include "connectedpanel.h"
#include "errorreporter.h"

namespace {

enum class End { PeerCloses, Reset, NewerRequest, StopPressed };

const QList<int> LastInputs {1, 0, 0, 0, 0, 0, 1, 0}; // I1 … I8 after "01000001"

QList<int> inputColours(const Form1::Controls &ui)
{
    QList<int> shown;
    for (const ShapeControl *indicator : ui.I)
        shown.append(indicator->backColor() == Bgr::Green ? 1 : 0);
    return shown;
}

// A client from another loopback address: a second host on the plant network.
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
    void endedLinkTurnsRed_data();
    void endedLinkTurnsRed();
    void strangerDisturbsNothing();
};

void TestLinkBar::endedLinkTurnsRed_data()
{
    QTest::addColumn<End>("end");
    QTest::newRow("controller closes") << End::PeerCloses;
    QTest::newRow("connection reset") << End::Reset;
    QTest::newRow("replaced by a newer request") << End::NewerRequest;
    QTest::newRow("stop pressed") << End::StopPressed;
}

// The bar says "linked" only between an identification and the end of that connection;
// nothing else on the window changes with the end.
void TestLinkBar::endedLinkTurnsRed()
{
    QFETCH(End, end);
    ConnectedPanel panel;
    const Form1::Controls &ui = panel.ui();
    QSignalSpy reports(panel.form->errorReporter(), &ErrorReporter::reported);
    QVERIFY(reports.isValid());
    // Takes one byte at most: a frame stays unread in the kernel, so aborting resets.
    panel.peer.socket().setReadBufferSize(end == End::Reset ? 1 : 0);
    QVERIFY(panel.startConnected());
    panel.peer.send("STEROWNIK");
    QVERIFY(waitUntil([&] { return ui.Shape2->backColor() == Bgr::Green; }));
    panel.peer.send("01000001");
    QVERIFY(waitUntil([&] { return ui.Label3->text() == QLatin1String("01000001"); }));

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
        // The request handler closes the connection before it takes the newcomer; this one
        // is gone already, so only the close happens and the watchdog listens again.
        Q_EMIT ui.Winsock1->connectionRequest(12345);
        break;
    case End::StopPressed:
        ui.Command2->click();
        break;
    }
    QVERIFY(waitUntil([&] { return ui.Shape2->backColor() == Bgr::Red; }));
    QCOMPARE(inputColours(ui), LastInputs);
    QCOMPARE(ui.IP->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(ui.Label3->text(), QStringLiteral("01000001"));

    // Green again only when the next controller identifies itself.
    ControllerPeer next;
    if (end == End::StopPressed) {
        // The connection stays up after stop; the same controller identifies again.
        panel.peer.send("STEROWNIK");
    } else {
        QVERIFY(panel.waitForSocketState(SocketControl::sckListening));
        QVERIFY(next.connectTo(quint16(ui.Winsock1->LocalPort())));
        QVERIFY(panel.waitForSocketState(SocketControl::sckConnected));
        next.send("01000001");
        QVERIFY(waitUntil([&] { return ui.Label3->text() == QLatin1String("01000001"); }));
        QCOMPARE(ui.Shape2->backColor(), Bgr::Red);
        next.send("STEROWNIK");
    }
    QVERIFY(waitUntil([&] { return ui.Shape2->backColor() == Bgr::Green; }));
    QCOMPARE(reports.size(), 0);
}

// A host not on the allow-list, knocking every 100 ms for 10 s, while the allow-listed
// controller is connected and served: no frame, input, label or indicator is touched. First
// it knocks while the panel listens, where it is refused without taking the slot.
void TestLinkBar::strangerDisturbsNothing()
{
    ConnectedPanel panel;
    const Form1::Controls &ui = panel.ui();
    SocketControl &socket = *ui.Winsock1;
    socket.setAllowedPeers({*SocketControl::parsePeer(QStringLiteral("127.0.0.1"))});
    QSignalSpy refused(&socket, &SocketControl::strangerRefused);
    QSignalSpy requests(&socket, &SocketControl::connectionRequest);
    QSignalSpy reports(panel.form->errorReporter(), &ErrorReporter::reported);
    QVERIFY(refused.isValid() && requests.isValid() && reports.isValid());

    panel.form->show();
    ui.Command1->click();
    QVERIFY(panel.waitForSocketState(SocketControl::sckListening));
    const QString labelBefore = ui.Label3->text();
    QTcpSocket early;
    connectFrom(early, "127.0.0.2", quint16(socket.LocalPort()));
    QVERIFY(waitUntil([&] { return refused.size() == 1; }));
    QCOMPARE(refused[0][0].toString(), QStringLiteral("127.0.0.2"));
    QCOMPARE(socket.State(), SocketControl::sckListening);
    QCOMPARE(requests.size(), 0);
    QCOMPARE(ui.Label3->text(), labelBefore);

    QVERIFY(panel.peer.connectTo(quint16(socket.LocalPort())));
    QVERIFY(panel.waitForSocketState(SocketControl::sckConnected));
    panel.peer.send("STEROWNIK");
    QVERIFY(waitUntil([&] { return ui.Shape2->backColor() == Bgr::Green; }));

    // The stranger keeps knocking at the panel's port from its own address.
    const quint16 port = quint16(socket.LocalPort());
    int knocks = 0;
    QTimer knocker;
    QList<QTcpSocket *> strangers;
    connect(&knocker, &QTimer::timeout, this, [&] {
        auto *stranger = new QTcpSocket(&knocker);
        connectFrom(*stranger, "127.0.0.2", port);
        strangers.append(stranger);
        ++knocks;
    });
    knocker.start(100);

    // Meanwhile the controller is served: a press, an answer, every frame and input exact.
    QDeadlineTimer tenSeconds(10000);
    int frames = 0;
    for (bool on = true; !tenSeconds.hasExpired(); on = !on) {
        panel.press(11);
        const QByteArray expected = on ? "000000010000000000000000F" : "0000000000000000000000000";
        QCOMPARE(panel.peer.waitForLine(), expected);
        ++frames;
        const QByteArray inputs = on ? "00000001" : "10000000";
        panel.peer.send(inputs);
        QVERIFY(waitUntil([&] { return ui.Label3->text() == QLatin1String(inputs); }));
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

QTEST_MAIN(TestLinkBar)
#include "tst_linkbar.moc"
