#include <QTimer>

#include "connectedpanel.h"
#include "errorreporter.h"

enum class End { PeerCloses, Reset, NewerRequest, StopPressed };
Q_DECLARE_METATYPE(End)

class TestLinkBar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_arrivals.isValid() && m_panel.startConnected()); }

    void arrival_data()
    {
        QTest::addColumn<QByteArray>("before"); // sets the colours the row starts from
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("colours"); // I1 … I8 and the link
        const auto row = [](const char *name, const char *before, const QByteArray &text,
                            const char *colours) {
            QTest::newRow(name) << QByteArray(before) << text << QByteArray(colours);
        };
        row("STEROWNIK CR LF", "11111111", "STEROWNIK\r\n", "RRRRRRRRR");
        row("sterownik", "11111111", "sterownik", "RRRRRRRRR");
        row("STEROWNIK00000001", "11111111", "STEROWNIK00000001", "RRRRRRRRR");
        row("00000001 CR LF", "11111110", "00000001\r\n", "GRRRRRRRR");
        row("1", "01111111", "1", "RRRRRRRGR");
        row("23456789", "11110000", "23456789", "RRRRGGGGR"); // 2 … 9 keep colours
        row("x, blank, tab, 5, 9", "11111111", "05x 9\t10", "RGRGRRGRR");
        row("<b>1</b>", "11111111", "<b>1</b>", "RRRRGRRRR");
        // One character per byte: superscript digits, accented letters and NUL are no digits.
        row("bytes 0x80 and up, NUL", "11111111", QByteArray("\xB9\xB2\x31\xE9\x80\xFF\x00\x31", 8),
            "GRRRRGRRR");
        // Last: until the controller identifies itself, the link indicator stays red.
        row("STEROWNIK", "11111111", "STEROWNIK", "RRRRRRRRG");
    }

    void arrival()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, colours);
        QVERIFY(arrive(before) && arrive(text));
        QCOMPARE(m_panel.ui().Label3->text(), QString::fromLatin1(text));
        QCOMPARE(m_panel.ui().IP->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(m_panel.lights(), colours);
    }

    void endedLinkTurnsRed_data()
    {
        QTest::addColumn<End>("end");
        QTest::newRow("controller closes") << End::PeerCloses;
        QTest::newRow("connection reset") << End::Reset;
        QTest::newRow("replaced by a newer request") << End::NewerRequest;
        QTest::newRow("stop pressed") << End::StopPressed;
    }

    // "Linked" only between an identification and the end of that connection; nothing else
    // on the window changes with the end. The next controller comes to the same port.
    void endedLinkTurnsRed()
    {
        QFETCH(End, end);
        ConnectedPanel panel;
        const Form1::Controls &ui = panel.ui();
        QSignalSpy reports(panel.form->errorReporter(), &ErrorReporter::reported);
        // One byte at most: a frame stays unread in the kernel, so aborting resets.
        panel.peer.socket().setReadBufferSize(end == End::Reset ? 1 : 0);
        QVERIFY(reports.isValid() && panel.startConnected() && panel.identify(panel.peer));
        const quint16 port = panel.port();
        ui.Winsock1->setLocalPort(port);
        panel.peer.send("01000001");
        QVERIFY(panel.arrived("01000001"));

        if (end == End::PeerCloses) {
            panel.peer.close();
        } else if (end == End::Reset) {
            panel.press(11);
            QVERIFY(waitUntil([&] { return panel.peer.socket().bytesAvailable() > 0; }));
            panel.peer.abort();
        } else if (end == End::NewerRequest) {
            // The handler closes the connection before taking the newcomer, who is gone
            // already: only the close happens and the watchdog listens again.
            Q_EMIT ui.Winsock1->connectionRequest(12345);
        } else {
            ui.Command2->click();
        }
        QVERIFY(waitUntil([&] { return ui.Shape2->backColor() == Bgr::Red; }));
        QCOMPARE(panel.lights(), QByteArray("GRRRRRGRR")); // I1 … I8 kept from "01000001"
        QCOMPARE(ui.IP->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(ui.Label3->text(), QStringLiteral("01000001"));

        ControllerPeer next;
        if (end == End::StopPressed) { // stop keeps the connection: it is still served
            panel.press(11);
            QCOMPARE(panel.peer.waitForLine(), QByteArray("000000010000000000000000F"));
        } else {
            QVERIFY(next.connectTo(port) && panel.waitForSocketState(SocketControl::sckConnected));
            next.send("01000001");
            QVERIFY(panel.arrived("01000001"));
            QCOMPARE(ui.Shape2->backColor(), Bgr::Red); // green only on identification
        }
        QCOMPARE(panel.socketState(), SocketControl::sckConnected);
        QVERIFY(panel.identify(end == End::StopPressed ? panel.peer : next));
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

        const QHostAddress stranger(QStringLiteral("127.0.0.2"));
        ControllerPeer early;
        QVERIFY(panel.startListening() && early.connectTo(panel.port(), 5000, stranger));
        QVERIFY(waitUntil([&] { return refused.size() == 1; }));
        QCOMPARE(refused[0][0].toString(), stranger.toString());
        QCOMPARE(socket.State(), SocketControl::sckListening);
        QCOMPARE(requests.size(), 0);
        QVERIFY(panel.peer.connectTo(panel.port()));
        QVERIFY(panel.waitForSocketState(SocketControl::sckConnected));
        QCOMPARE(ui.Label3->text(), QString::number(requests.value(0).value(0).toInt()));
        QVERIFY(panel.identify(panel.peer));

        const quint16 port = panel.port();
        int knocks = 0;
        QTimer knocker;
        connect(&knocker, &QTimer::timeout, this, [&] {
            auto *knock = new QTcpSocket(&knocker);
            knock->setProxy(QNetworkProxy::NoProxy);
            knock->bind(stranger);
            knock->connectToHost(QHostAddress::LocalHost, port);
            ++knocks;
        });
        knocker.start(100);
        for (bool on = true; knocks < 100; on = !on) {
            panel.press(11);
            QCOMPARE(panel.peer.waitForLine(),
                     QByteArray(on ? "000000010000000000000000F" : "0000000000000000000000000"));
            const QByteArray inputs = on ? "00000001" : "10000000";
            panel.peer.send(inputs);
            QVERIFY(panel.arrived(inputs));
            QCOMPARE(panel.lights(), QByteArray(on ? "GRRRRRRRG" : "RRRRRRRGG"));
        }
        knocker.stop();
        QCOMPARE(socket.State(), SocketControl::sckConnected);
        QCOMPARE(ui.IP->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(requests.size(), 1);
        QVERIFY(panel.peer.received().isEmpty());
        QCOMPARE(reports.size(), 0);
    }

private:
    // Sends one text and waits until the panel has handled it as exactly one arrival.
    bool arrive(const QByteArray &text)
    {
        const qsizetype before = m_arrivals.size();
        m_panel.peer.send(text);
        return waitUntil([&] { return m_arrivals.size() > before; }, 10000)
            && m_arrivals.size() == before + 1;
    }

    ConnectedPanel m_panel;
    QSignalSpy m_arrivals {m_panel.ui().Winsock1, &SocketControl::dataArrival};
};

QTEST_MAIN(TestLinkBar)
#include "tst_linkbar.moc"
