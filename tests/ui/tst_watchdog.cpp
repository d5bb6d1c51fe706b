#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTimer>

#include "connectedpanel.h"
#include "errorreporter.h"

namespace {

constexpr qint16 Closed = SocketControl::sckClosed, Listening = SocketControl::sckListening;
constexpr qint16 Connected = SocketControl::sckConnected, Failed = SocketControl::sckError;

// The panel with a record of its ticks and reports. press() counts any moment both start
// and stop, or neither, are offered.
struct Window : ConnectedPanel
{
    const Form1::Controls &c = ui();
    QList<qint16> seen; // the socket state each tick found when it moved the heartbeat
    QList<BgrColor> heartbeats;
    QSignalSpy reports {form->errorReporter(), &ErrorReporter::reported};
    QSignalSpy requests {c.Winsock1, &SocketControl::connectionRequest};
    int clashes = 0;

    explicit Window(quint16 port = 0)
        : ConnectedPanel(port)
    {
        QObject::connect(c.Shape1, &ShapeControl::backColorChanged, form.get(), [this](BgrColor b) {
            seen << socketState();
            heartbeats << b;
        });
    }
    bool valid() const { return reports.isValid() && requests.isValid(); }
    // Waits for more ticks: what a tick would do to the socket is done by then.
    bool ticks(qsizetype more)
    {
        const qsizetype target = heartbeats.size() + more;
        return waitUntil([&] { return heartbeats.size() >= target; }, 10000);
    }
    void start() // the cycle does not depend on the interval; a short one keeps tests quick
    {
        c.Timer1->setInterval(20);
        press(c.Command1);
    }
    void press(QAbstractButton *button)
    {
        button->click();
        clashes += c.Command1->isEnabled() == c.Command2->isEnabled();
    }
    bool takes()
    {
        return waitForSocketState(Listening) && peer.connectTo(port())
            && waitForSocketState(Connected);
    }
    // Into state 9 with supervision stopped, so no tick clears it: a frame the controller
    // never reads makes its abort a reset.
    bool failsWith()
    {
        peer.socket().setReadBufferSize(1);
        c.S[0][0]->click();
        if (!waitUntil([&] { return peer.socket().bytesAvailable() > 0; }))
            return false;
        press(c.Command2);
        peer.abort();
        return waitForSocketState(Failed);
    }
};

} // namespace

class WatchdogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Qt's complaints about sockets, notifiers or objects mean the link misuses them.
    void init()
    {
        QTest::failOnWarning(QRegularExpression(u"Socket|QIODevice|QTcpServer|QObject::"_qs));
    }

    // The first tick closes the closed socket once more and listens; the heartbeat steps
    // blue, green, red, blue.
    void firstTicks()
    {
        Window w;
        QVERIFY(w.valid());
        w.start();
        QVERIFY(w.ticks(4));
        QCOMPARE(w.seen.first(4), (QList<qint16> {Closed, Listening, Listening, Listening}));
        QCOMPARE(w.heartbeats.first(4),
                 (QList<BgrColor> {Bgr::Blue, Bgr::Green, Bgr::Red, Bgr::Blue}));
        QCOMPARE(w.clashes, 0);
    }

    void leavesSocketAlone_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("listening") << false;
        QTest::newRow("connected") << true;
    }

    // No tick closes or reopens a listening or connected socket: the same listener, or the
    // same connection, is there three ticks later.
    void leavesSocketAlone()
    {
        QFETCH(bool, connected);
        Window w;
        QVERIFY(w.valid());
        w.start();
        QVERIFY(connected ? w.takes() : w.waitForSocketState(Listening));
        const QPointer<QObject> endpoint = connected
            ? static_cast<QObject *>(w.c.Winsock1->findChild<QTcpSocket *>())
            : static_cast<QObject *>(w.c.Winsock1->findChild<QTcpServer *>());
        QVERIFY(endpoint);
        const qsizetype before = w.seen.size();
        QVERIFY(w.ticks(3));
        QCOMPARE(w.seen.mid(before, 3), QList<qint16>(3, connected ? Connected : Listening));
        QCOMPARE(w.c.Winsock1->findChildren<QTcpServer *>().size(), connected ? 0 : 1);
        QVERIFY2(endpoint, "the tick replaced the socket");
        if (connected) {
            w.c.S[0][0]->click();
            QCOMPARE(w.peer.waitForLine(), QByteArray("000000010000000000000000F"));
        }
        QCOMPARE(w.reports.size(), 0);
    }

    // A reset only refreshes the address, with no message. The first tick that finds the
    // error closes it, the next one listens.
    void errorClosedThenListens()
    {
        Window w;
        QVERIFY(w.valid());
        w.start();
        QVERIFY(w.takes());
        w.c.IP->clear();
        QVERIFY(w.failsWith());
        QTRY_COMPARE(w.c.IP->text(), QStringLiteral("127.0.0.1"));
        const qsizetype before = w.seen.size();
        w.press(w.c.Command1);
        QVERIFY(w.ticks(3));
        QCOMPARE(w.seen.mid(before, 3), (QList<qint16> {Failed, Closed, Listening}));
        QCOMPARE(w.reports.size(), 0);
        QCOMPARE(w.clashes, 0);
    }

    // Of two requests at once the newest wins, even with supervision stopped (no tick
    // listens behind the first); Label3 shows its identifier exactly.
    void newestRequestWins()
    {
        Window w;
        QVERIFY(w.valid());
        ControllerPeer first, second;
        w.start();
        QVERIFY(w.waitForSocketState(Listening));
        w.press(w.c.Command2);
        // Both wait in the listener's queue before the panel handles either.
        QVERIFY(first.connectTo(w.port()) && second.connectTo(w.port()));
        QVERIFY(w.waitForSocketState(Connected) && first.waitForDisconnect());
        QCOMPARE(w.requests.size(), 2);
        QCOMPARE(w.c.Label3->text(), QString::number(w.requests.last().at(0).toInt()));
        w.c.S[0][0]->click();
        QCOMPARE(second.waitForLine(), QByteArray("000000010000000000000000F"));
    }

    // A request in state 9 closes the socket first. This one's connection is gone, so the
    // accept fails silently and the socket stays closed.
    void requestInErrorState()
    {
        Window w;
        QVERIFY(w.valid());
        w.start();
        QVERIFY(w.takes() && w.failsWith());
        const QString label3 = w.c.Label3->text();
        Q_EMIT w.c.Winsock1->connectionRequest(1);
        QCOMPARE(w.socketState(), Closed);
        QCOMPARE(w.c.Label3->text(), label3);
        QCOMPARE(w.reports.size(), 0);
    }

    // The controller comes back to the port where it was, held by the panel all along.
    void sameHeldPortAfterReconnects()
    {
        Window w;
        QVERIFY(w.valid());
        w.start();
        QVERIFY(w.waitForSocketState(Listening));
        const quint16 port = w.port();
        w.c.Winsock1->setLocalPort(port);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(w.peer.connectTo(port) && w.waitForSocketState(Connected));
            w.peer.close();
            QVERIFY(w.waitForSocketState(Listening));
            QCOMPARE(w.port(), port);
        }
        QCOMPARE(w.reports.size(), 0);
    }

    // A failing Listen ends the tick there (heartbeat moved, Timer1 off) and tells the
    // operator in words what happened and what to do.
    void failingListenStopsTickAndReports()
    {
        QTcpServer holder; // another program on the panel's port
        QVERIFY(holder.listen(QHostAddress::Any, 0));
        Window w(holder.serverPort());
        QVERIFY(w.valid());
        w.start();
        QVERIFY(waitUntil([&] { return w.reports.size() == 1; }, 10000));
        QCOMPARE(w.reports[0][0].toString(), QStringLiteral("Timer1_Timer"));
        QVERIFY(!w.c.Timer1->isActive());
        QCOMPARE(w.heartbeats, QList<BgrColor> {Bgr::Blue});

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
        w.press(w.c.Command2);
        w.press(w.c.Command1);
        QVERIFY(w.takes());
        QCOMPARE(w.reports.size(), 1);
        QCOMPARE(w.clashes, 0);
    }
};

QTEST_MAIN(WatchdogTest)
#include "tst_watchdog.moc"
