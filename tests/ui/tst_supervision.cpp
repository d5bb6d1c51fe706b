#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTimer>

#include <list>

#include "connectedpanel.h"
#include "errorreporter.h"

namespace {

constexpr qint16 Closed = SocketControl::sckClosed, Listening = SocketControl::sckListening;
constexpr qint16 Connected = SocketControl::sckConnected, Failed = SocketControl::sckError;
enum class End { PeerCloses, Reset, NewerRequest, StopPressed };

// The panel, supervising from the start, with a record of its ticks and reports.
struct Window : ConnectedPanel
{
    const Form1::Controls &c = ui();
    QByteArray seen; // the state code (one digit) each tick found when it moved the heartbeat
    QByteArray heartbeats; // B blue, G green, R red
    QSignalSpy reports {form->errorReporter(), &ErrorReporter::reported};

    explicit Window(quint16 port = 0)
        : ConnectedPanel(port)
    {
        QObject::connect(c.Shape1, &ShapeControl::backColorChanged, form.get(), [this](BgrColor b) {
            seen += char('0' + socketState());
            heartbeats += b == Bgr::Blue ? 'B' : b == Bgr::Green ? 'G' : b == Bgr::Red ? 'R' : '?';
        });
        c.Timer1->setInterval(20); // the cycle does not depend on it; short keeps tests quick
        c.Command1->click();
    }
    // Start and stop are never both offered, nor neither.
    bool offersOne() const { return c.Command1->isEnabled() != c.Command2->isEnabled(); }
    bool takes()
    {
        return waitForSocketState(Listening) && peer.connectTo(port())
            && waitForSocketState(Connected);
    }
    // With the controller reading one byte at most, a frame stays unread in its kernel, so
    // its abort is a reset.
    bool resets()
    {
        c.S[0][0]->click();
        const bool unread = waitUntil([&] { return peer.socket().bytesAvailable() > 0; });
        peer.abort();
        return unread;
    }
    // Into state 9 with supervision stopped, so no tick clears it; the reset only refreshes
    // the address.
    bool fails()
    {
        peer.socket().setReadBufferSize(1);
        c.IP->clear();
        const bool reset = takes() && resets();
        c.Command2->click();
        return reset && waitForSocketState(Failed)
            && waitUntil([&] { return c.IP->text() == u"127.0.0.1"; });
    }
};

} // namespace

Q_DECLARE_METATYPE(End)

class TestSupervision : public QObject
{
    Q_OBJECT

public:
    // Where the ticks start: a socket state, or the error state with a request then arriving.
    enum class Start : qint16 {
        Closed = ::Closed,
        Listening = ::Listening,
        Connected = ::Connected,
        Failed = ::Failed,
        FailedThenRequest = -1,
    };
    Q_ENUM(Start)

private Q_SLOTS:
    // Qt's complaints about sockets, notifiers or objects mean the link misuses them.
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u"Socket|QIODevice|QTcpServer|QObject::"_qs));
    }

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
        for (const QByteArray &sent : {before, text}) {
            const qsizetype arrivals = m_arrivals.size();
            m_panel.peer.send(sent);
            QVERIFY(waitUntil([&] { return m_arrivals.size() > arrivals; }, 10000));
            QCOMPARE(m_arrivals.size(), arrivals + 1); // handled as one arrival
        }
        QCOMPARE(m_panel.ui().Label3->text(), QString::fromLatin1(text));
        QCOMPARE(m_panel.lights(), colours);
    }

    void ticks_data()
    {
        QTest::addColumn<Start>("from");
        QTest::addColumn<QByteArray>("found"); // the state codes found by the next four ticks
        QTest::newRow("first ticks") << Start::Closed << QByteArray("0222");
        QTest::newRow("listening") << Start::Listening << QByteArray("2222");
        QTest::newRow("connected") << Start::Connected << QByteArray("7777");
        QTest::newRow("error") << Start::Failed << QByteArray("9022");
        QTest::newRow("request in the error state")
            << Start::FailedThenRequest << QByteArray("0222");
    }

    // The first tick closes the closed socket once more and listens. A listener or a
    // connection is left alone. An error is closed by one tick and listened on by the next.
    // A request in state 9 closes the socket first; this one's connection is gone, so the
    // accept fails silently.
    void ticks()
    {
        QFETCH(Start, from);
        QFETCH(QByteArray, found);
        Window w;
        QVERIFY(w.reports.isValid()
                && (from == Start::Closed || from == Start::Listening
                        ? w.waitForSocketState(qint16(from))
                        : from == Start::Connected ? w.takes()
                                                   : w.fails()));
        const QPointer<QObject> endpoint = from == Start::Connected
            ? static_cast<QObject *>(w.c.Winsock1->findChild<QTcpSocket *>())
            : static_cast<QObject *>(w.c.Winsock1->findChild<QTcpServer *>());
        if (from == Start::FailedThenRequest) {
            const QString label3 = w.c.Label3->text();
            Q_EMIT w.c.Winsock1->connectionRequest(1);
            QCOMPARE(w.socketState(), Closed);
            QCOMPARE(w.c.Label3->text(), label3);
        }
        if (from == Start::Failed || from == Start::FailedThenRequest)
            w.c.Command1->click();
        const qsizetype before = from == Start::Closed ? 0 : w.seen.size();
        // Four more ticks have moved the heartbeat, and done their work.
        QVERIFY(waitUntil([&] { return w.seen.size() >= before + 4; }, 10000));
        QCOMPARE(w.seen.mid(before, 4), found);
        if (from == Start::Closed)
            QCOMPARE(w.heartbeats.first(4), QByteArray("BGRB"));
        if (from == Start::Listening || from == Start::Connected)
            QVERIFY2(endpoint, "a tick replaced the socket");
        QVERIFY(w.reports.isEmpty() && w.offersOne());
    }

    // A failing Listen ends the tick there (heartbeat moved, Timer1 off) and tells the
    // operator in words what happened and what to do.
    void failingListenStopsTickAndReports()
    {
        QTcpServer holder; // another program on the panel's port
        QVERIFY(holder.listen(QHostAddress::Any, 0));
        Window w(holder.serverPort());
        QVERIFY(w.reports.isValid() && waitUntil([&] { return w.reports.size() == 1; }, 10000));
        QVERIFY(!w.c.Timer1->isActive());
        QCOMPARE(w.heartbeats, QByteArray("B"));

        const auto *box = w.form->findChild<QMessageBox *>(QStringLiteral("UnexpectedError"));
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(box->windowTitle(), QStringLiteral("Korvan"));
        QStringList lines = box->informativeText().split(u'\n');
        QCOMPARE(lines.takeLast(), ErrorReporter::IntegratorPrefix + u"Timer1_Timer"_qs);
        const QString told = box->text() + lines.join(u'\n');
        for (const char *words : {"Nadzór łącza został wstrzymany", "„Zakończ nasłuch”",
                                  "„Rozpocznij nasłuch”", "zajmuje port "})
            QVERIFY2(told.contains(QString::fromUtf8(words)), qPrintable(told));
        QVERIFY(told.contains(QString::number(holder.serverPort())) && !told.contains(u"Timer1"));

        // The operator frees the port, stops and starts again.
        holder.close();
        w.c.Command2->click();
        w.c.Command1->click();
        QVERIFY(w.takes() && w.offersOne());
        QCOMPARE(w.reports.size(), 1);
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
    // on the window changes with the end. Green again on the next identification (data
    // alone never makes it green: the inbound rows).
    void endedLinkTurnsRed()
    {
        QFETCH(End, end);
        Window panel;
        panel.peer.socket().setReadBufferSize(end == End::Reset ? 1 : 0);
        QVERIFY(panel.reports.isValid() && panel.takes() && panel.identify(panel.peer));
        panel.c.Winsock1->setLocalPort(panel.port()); // kept: the next controller comes to it
        panel.peer.send("01000001");
        QVERIFY(panel.arrived("01000001"));

        if (end == End::PeerCloses)
            panel.peer.close();
        else if (end == End::Reset)
            QVERIFY(panel.resets());
        else if (end == End::NewerRequest)
            // The handler closes the connection before taking the newcomer, who is gone
            // already: only the close happens and the watchdog listens again.
            Q_EMIT panel.c.Winsock1->connectionRequest(12345);
        else
            panel.c.Command2->click();
        QVERIFY(waitUntil([&] { return panel.c.Shape2->backColor() == Bgr::Red; }));
        QCOMPARE(panel.lights(), QByteArray("GRRRRRGRR")); // I1 … I8 kept from "01000001"
        QCOMPARE(panel.c.IP->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(panel.c.Label3->text(), QStringLiteral("01000001"));

        ControllerPeer next; // stop keeps the connection, and its controller is still read
        if (end != End::StopPressed)
            QVERIFY(next.connectTo(panel.port()) && panel.waitForSocketState(Connected));
        QVERIFY(panel.identify(end == End::StopPressed ? panel.peer : next));
        QVERIFY(panel.reports.isEmpty() && panel.offersOne());
    }

    // A host off the allow-list is refused while the panel listens, without taking the slot;
    // knocking every 100 ms for 10 s while the controller is served, it touches nothing.
    void strangerDisturbsNothing()
    {
        Window panel;
        SocketControl &socket = *panel.c.Winsock1;
        SocketControl::Settings settings;
        settings.allowedPeers = {{QHostAddress(QHostAddress::LocalHost), 32}};
        panel.form->setLinkSettings(settings);
        QSignalSpy refused(&socket, &SocketControl::strangerRefused);
        QSignalSpy requests(&socket, &SocketControl::connectionRequest);
        QVERIFY(refused.isValid() && requests.isValid() && panel.reports.isValid());

        const QHostAddress stranger(QStringLiteral("127.0.0.2"));
        std::list<ControllerPeer> knocks;
        QVERIFY(panel.waitForSocketState(Listening)
                && knocks.emplace_back().connectTo(panel.port(), 5000, stranger));
        QVERIFY(waitUntil([&] { return refused.size() == 1; }));
        QVERIFY(socket.State() == Listening && requests.isEmpty()); // the slot stays free
        QVERIFY(knocks.front().waitForDisconnect()); // and the stranger holds nothing
        QVERIFY(panel.takes());
        QCOMPARE(panel.c.Label3->text(), QString::number(requests.value(0).value(0).toInt()));
        QVERIFY(panel.identify(panel.peer));

        QTimer knocker;
        knocker.callOnTimeout([&] { knocks.emplace_back().connectTo(panel.port(), 0, stranger); });
        knocker.start(100);
        for (bool on = true; knocks.size() <= 100; on = !on) {
            panel.c.S[0][0]->click();
            QCOMPARE(panel.peer.waitForLine(),
                     QByteArray(on ? "000000010000000000000000F" : "0000000000000000000000000"));
            const QByteArray inputs = on ? "00000001" : "10000000";
            panel.peer.send(inputs);
            QVERIFY(panel.arrived(inputs));
            QCOMPARE(panel.lights(), QByteArray(on ? "GRRRRRRRG" : "RRRRRRRGG"));
        }
        knocker.stop();
        for (ControllerPeer &knock : knocks)
            QVERIFY(knock.waitForDisconnect());
        QVERIFY(socket.State() == Connected && requests.size() == 1);
        QCOMPARE(panel.c.IP->text(), QStringLiteral("127.0.0.1"));
        QVERIFY(panel.peer.received().isEmpty());
        QCOMPARE(panel.reports.size(), 0);
    }

private:
    ConnectedPanel m_panel;
    QSignalSpy m_arrivals {m_panel.ui().Winsock1, &SocketControl::dataArrival};
};

QTEST_MAIN(TestSupervision)
#include "tst_supervision.moc"
