#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLabel>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include "bgrcolor.h"
#include "controllerpeer.h"
#include "errorreporter.h"
#include "form1.h"
#include "shapecontrol.h"
#include "waituntil.h"
#include "winsock.h"

namespace {

constexpr int TickMs = 500;
constexpr qsizetype FrameLength = 25; // 24 output states and the check digit

// One watchdog tick as seen from outside: the socket state when the heartbeat moved (the
// tick's first step) and after the tick, and the heartbeat colour it left.
struct Tick
{
    qint16 before = -1;
    qint16 after = -1;
    BgrColor heartbeat = 0;
};

// The main window with the controls the link uses, found by their names, and a record
// of every watchdog tick.
class Window
{
public:
    explicit Window(quint16 port = 0)
        : form(port)
    {
        command1 = form.findChild<QAbstractButton *>(QStringLiteral("Command1"));
        command2 = form.findChild<QAbstractButton *>(QStringLiteral("Command2"));
        shape1 = form.findChild<ShapeControl *>(QStringLiteral("Shape1"));
        shape2 = form.findChild<ShapeControl *>(QStringLiteral("Shape2"));
        label3 = form.findChild<QLabel *>(QStringLiteral("Label3"));
        ip = form.findChild<QLabel *>(QStringLiteral("IP"));
        s11 = form.findChild<QAbstractButton *>(QStringLiteral("S11"));
        timer1 = form.findChild<QTimer *>(QStringLiteral("Timer1"));
        winsock = form.findChild<Winsock *>(QStringLiteral("Winsock1"));
        Q_ASSERT(command1 && command2 && shape1 && shape2 && label3 && ip && s11 && timer1
                 && winsock);

        QObject::connect(shape1, &ShapeControl::backColorChanged, &form,
                         [this] { m_before = winsock->State(); });
        // Connected after the window's own handler, so this runs once the tick is done.
        QObject::connect(timer1, &QTimer::timeout, &form, [this] {
            ticks.append({m_before, winsock->State(), shape1->backColor()});
            m_before = -1;
        });
    }

    qint16 state() const { return winsock->State(); }
    quint16 port() const { return quint16(winsock->LocalPort()); }

    bool waitForTicks(int count)
    {
        const qsizetype target = ticks.size() + count;
        return waitUntil([&] { return ticks.size() >= target; }, count * TickMs + 2000);
    }

    // Exactly one of start and stop is offered.
    bool buttonsExclusive() const { return command1->isEnabled() != command2->isEnabled(); }

    // Starts supervision, waits for the listener and takes the peer's connection.
    bool startAndConnect(ControllerPeer &peer)
    {
        command1->click();
        return peer.connectTo(port() ? port() : listeningPort())
            && waitUntil([this] { return state() == Winsock::sckConnected; });
    }

    quint16 listeningPort()
    {
        waitUntil([this] { return state() == Winsock::sckListening; }, 2 * TickMs + 2000);
        return port();
    }

    Form1 form;
    QAbstractButton *command1, *command2, *s11;
    ShapeControl *shape1, *shape2;
    QLabel *label3, *ip;
    QTimer *timer1;
    Winsock *winsock;
    QList<Tick> ticks;

private:
    qint16 m_before = -1;
};

// A port nothing listens on right now.
quint16 freePort()
{
    QTcpServer probe;
    probe.setProxy(QNetworkProxy::NoProxy);
    if (!probe.listen(QHostAddress::Any, 0))
        return 0;
    return probe.serverPort();
}

bool identify(Window &w, ControllerPeer &peer)
{
    peer.send("STEROWNIK");
    return waitUntil([&] { return w.shape2->backColor() == Bgr::Green; });
}

bool disconnected(ControllerPeer &peer)
{
    return waitUntil([&] {
        if (peer.socket().isOpen())
            peer.received();
        return peer.socket().state() == QAbstractSocket::UnconnectedState;
    });
}

// Index of the first tick at or after from that saw the socket in this state.
qsizetype tickSeeing(const QList<Tick> &ticks, qint16 state, qsizetype from = 0)
{
    for (qsizetype i = from; i < ticks.size(); ++i) {
        if (ticks[i].before == state)
            return i;
    }
    return -1;
}

} // namespace

class WatchdogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void noConnectionBeforeFirstStart();
    void heartbeatCycle();
    void connectionUntouchedAndSurvivesStop();
    void stopWhileListeningStillAccepts();
    void errorClosedOnOneTickListensOnNext();
    void newestRequestWins();
    void failedAcceptIsSilent();
    void reconnectRepeatedly();
    void failingListenStopsTickAndReports();
};

void WatchdogTest::init()
{
    // Qt's complaints about sockets, notifiers or objects mean the link misuses them.
    QTest::failOnWarning(QRegularExpression(
        QStringLiteral("QSocketNotifier|QIODevice|QAbstractSocket|QTcpServer|QObject::")));
}

void WatchdogTest::noConnectionBeforeFirstStart()
{
    const quint16 port = freePort();
    QVERIFY(port != 0);
    Window w(port);
    QVERIFY(!w.timer1->isActive());
    QVERIFY(w.command1->isEnabled());
    QVERIFY(w.buttonsExclusive());
    QCOMPARE(w.shape1->backColor(), Bgr::Red);

    ControllerPeer peer;
    QVERIFY(!peer.connectTo(port, 2 * TickMs));
    QVERIFY(w.ticks.isEmpty());
    QCOMPARE(w.state(), Winsock::sckClosed);

    w.command1->click();
    QVERIFY(w.buttonsExclusive());
    QVERIFY(w.waitForTicks(1));
    QCOMPARE(w.ticks[0].before, Winsock::sckClosed);
    QCOMPARE(w.ticks[0].after, Winsock::sckListening);
    QCOMPARE(w.ticks[0].heartbeat, Bgr::Blue);

    QVERIFY(peer.connectTo(port));
    QVERIFY(waitUntil([&] { return w.state() == Winsock::sckConnected; }));
    bool decimal = false;
    QVERIFY(w.label3->text().toInt(&decimal) >= 0 && decimal);
}

void WatchdogTest::heartbeatCycle()
{
    Window w;
    w.command1->click();
    QVERIFY(w.waitForTicks(4));
    const quint16 port = w.port();
    QList<BgrColor> colours;
    for (const Tick &t : std::as_const(w.ticks))
        colours.append(t.heartbeat);
    QCOMPARE(colours.mid(0, 4), (QList<BgrColor> {Bgr::Blue, Bgr::Green, Bgr::Red, Bgr::Blue}));
    // A listening socket is left alone: re-listening would have picked another port.
    for (qsizetype i = 1; i < w.ticks.size(); ++i) {
        QCOMPARE(w.ticks[i].before, Winsock::sckListening);
        QCOMPARE(w.ticks[i].after, Winsock::sckListening);
    }
    QCOMPARE(w.port(), port);

    // Stopped, the heartbeat keeps its colour; started again, it goes on from there.
    w.command2->click();
    QVERIFY(w.buttonsExclusive());
    const BgrColor stoppedAt = w.shape1->backColor();
    const qsizetype ticks = w.ticks.size();
    QTest::qWait(TickMs + 200);
    QCOMPARE(w.ticks.size(), ticks);
    QCOMPARE(w.shape1->backColor(), stoppedAt);
    w.command1->click();
    QVERIFY(w.buttonsExclusive());
    QVERIFY(w.waitForTicks(1));
    const BgrColor resumed = stoppedAt == Bgr::Red ? Bgr::Blue
        : stoppedAt == Bgr::Blue                   ? Bgr::Green
                                                   : Bgr::Red;
    QCOMPARE(w.ticks.last().heartbeat, resumed);

    // Any other colour is left as it is.
    constexpr BgrColor Grey = 0x808080;
    w.shape1->setBackColor(Grey);
    QVERIFY(w.waitForTicks(1));
    QCOMPARE(w.shape1->backColor(), Grey);
    QCOMPARE(w.state(), Winsock::sckListening);
}

void WatchdogTest::connectionUntouchedAndSurvivesStop()
{
    Window w;
    ControllerPeer peer;
    QVERIFY(w.startAndConnect(peer));
    QVERIFY(identify(w, peer));

    const qsizetype from = w.ticks.size();
    QVERIFY(w.waitForTicks(2));
    for (qsizetype i = from; i < w.ticks.size(); ++i) {
        QCOMPARE(w.ticks[i].before, Winsock::sckConnected);
        QCOMPARE(w.ticks[i].after, Winsock::sckConnected);
    }
    QCOMPARE(w.shape2->backColor(), Bgr::Green);

    // Stop paints the link red but leaves the connection up.
    w.command2->click();
    QVERIFY(!w.timer1->isActive());
    QCOMPARE(w.shape2->backColor(), Bgr::Red);
    QCOMPARE(w.state(), Winsock::sckConnected);
    w.s11->click();
    QCOMPARE(peer.waitForLine().size(), FrameLength);
    QVERIFY(identify(w, peer));
    QCOMPARE(w.state(), Winsock::sckConnected);
}

void WatchdogTest::stopWhileListeningStillAccepts()
{
    Window w;
    w.command1->click();
    const quint16 port = w.listeningPort();
    w.command2->click();
    QVERIFY(!w.timer1->isActive());
    QCOMPARE(w.state(), Winsock::sckListening);

    QSignalSpy requests(w.winsock, &Winsock::connectionRequest);
    ControllerPeer peer;
    QVERIFY(peer.connectTo(port));
    QVERIFY(waitUntil([&] { return w.state() == Winsock::sckConnected; }));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(w.label3->text(), QString::number(requests[0][0].toInt()));
}

void WatchdogTest::errorClosedOnOneTickListensOnNext()
{
    Window w;
    QSignalSpy reports(w.form.errorReporter(), &ErrorReporter::reported);
    ControllerPeer peer;
    QVERIFY(w.startAndConnect(peer));
    QVERIFY(identify(w, peer));

    // The error handler refreshes the address; blank it to see that happen.
    w.ip->clear();
    const qsizetype before = w.ticks.size();
    // The frame sits unread in the peer's buffer when it aborts, so it resets.
    w.s11->click();
    peer.abort();
    QVERIFY(waitUntil([&] { return w.ip->text() == QLatin1String("127.0.0.1"); }));

    // The first tick that finds the error closes it, the next one listens.
    QVERIFY(waitUntil([&] { return tickSeeing(w.ticks, Winsock::sckError, before) >= 0; },
                      2 * TickMs + 2000));
    const qsizetype i = tickSeeing(w.ticks, Winsock::sckError, before);
    QCOMPARE(w.ticks[i].after, Winsock::sckClosed);
    QVERIFY(w.waitForTicks(1));
    QCOMPARE(w.ticks[i + 1].before, Winsock::sckClosed);
    QCOMPARE(w.ticks[i + 1].after, Winsock::sckListening);

    // The error only refreshed the address: no message, the link colour as it was.
    QCOMPARE(w.shape2->backColor(), Bgr::Green);
    QCOMPARE(reports.size(), 0);
    QCOMPARE(w.form.errorReporter()->openReports(), 0);

    ControllerPeer next;
    QVERIFY(next.connectTo(w.port()));
    QVERIFY(waitUntil([&] { return w.state() == Winsock::sckConnected; }));
}

void WatchdogTest::newestRequestWins()
{
    Window w;
    w.command1->click();
    const quint16 port = w.listeningPort();
    QSignalSpy requests(w.winsock, &Winsock::connectionRequest);

    // Both connect before the panel's event loop turns: two requests at once.
    ControllerPeer first, second;
    QVERIFY(first.connectTo(port));
    QVERIFY(second.connectTo(port));
    QVERIFY(waitUntil([&] { return requests.size() == 2; }));
    QVERIFY(waitUntil([&] { return w.state() == Winsock::sckConnected; }));

    QCOMPARE(w.label3->text(), QString::number(requests[1][0].toInt()));
    QVERIFY(disconnected(first));
    w.s11->click();
    QCOMPARE(second.waitForLine().size(), FrameLength);
}

void WatchdogTest::failedAcceptIsSilent()
{
    Window w;
    QSignalSpy reports(w.form.errorReporter(), &ErrorReporter::reported);
    QSignalSpy requests(w.winsock, &Winsock::connectionRequest);
    ControllerPeer peer;
    QVERIFY(w.startAndConnect(peer));
    QVERIFY(identify(w, peer));
    const qint32 used = requests[0][0].value<qint32>();
    peer.close();
    const quint16 port = w.listeningPort();
    QVERIFY(port != 0);

    // A request whose connection is gone by the time it is handled.
    Q_EMIT w.winsock->connectionRequest(used);
    QCOMPARE(w.label3->text(), QStringLiteral("STEROWNIK"));
    QCOMPARE(w.state(), Winsock::sckClosed);
    QCOMPARE(reports.size(), 0);
    QCOMPARE(w.form.errorReporter()->openReports(), 0);

    // The watchdog makes it listen again.
    QVERIFY(w.waitForTicks(1));
    QCOMPARE(w.ticks.last().after, Winsock::sckListening);
    ControllerPeer next;
    QVERIFY(next.connectTo(w.port()));
    QVERIFY(waitUntil([&] { return w.state() == Winsock::sckConnected; }));
}

void WatchdogTest::reconnectRepeatedly()
{
    constexpr int Cycles = 300;
    // A fixed port: the controller comes back to where it was.
    Window w(freePort());
    // The cycle does not depend on the interval; a short one keeps hundreds of them fast.
    w.timer1->setInterval(2);
    ControllerPeer warmUp;
    QVERIFY(w.startAndConnect(warmUp));
    warmUp.close();
    QVERIFY(waitUntil([&] { return w.state() == Winsock::sckListening; }));
    QTest::qWait(10);
    const int before = openDescriptorCount();

    for (int i = 0; i < Cycles; ++i) {
        ControllerPeer peer;
        QVERIFY2(peer.connectTo(w.port()), qPrintable(QString::number(i)));
        QVERIFY2(waitUntil([&] { return w.state() == Winsock::sckConnected; }),
                 qPrintable(QString::number(i)));
        peer.close();
        QVERIFY2(waitUntil([&] { return w.state() == Winsock::sckListening; }),
                 qPrintable(QString::number(i)));
    }
    QTest::qWait(10);
    if (before >= 0)
        QCOMPARE(openDescriptorCount(), before);

    // At the design interval a controller is back within about a second.
    w.timer1->setInterval(TickMs);
    ControllerPeer peer;
    QVERIFY(peer.connectTo(w.port()));
    QVERIFY(waitUntil([&] { return w.state() == Winsock::sckConnected; }));
    peer.close();
    QElapsedTimer back;
    back.start();
    QVERIFY(peer.connectTo(w.port(), 3000));
    QVERIFY(waitUntil([&] { return w.state() == Winsock::sckConnected; }));
    QVERIFY2(back.elapsed() < 1500, qPrintable(QString::number(back.elapsed())));
}

void WatchdogTest::failingListenStopsTickAndReports()
{
    QTcpServer holder;
    holder.setProxy(QNetworkProxy::NoProxy);
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    const quint16 port = holder.serverPort();

    Window w(port);
    QSignalSpy reports(w.form.errorReporter(), &ErrorReporter::reported);
    w.command1->click();
    QVERIFY(waitUntil([&] { return reports.size() == 1; }, 2 * TickMs + 2000));
    QCOMPARE(reports[0][0].toString(), QStringLiteral("Timer1_Timer"));
    QVERIFY2(reports[0][1].toString().contains(QString::number(port)),
             qPrintable(reports[0][1].toString()));
    QCOMPARE(w.form.errorReporter()->openReports(), 1);
    // The tick ended at Listen: heartbeat moved, Timer1 left off, socket closed.
    QVERIFY(!w.timer1->isActive());
    QCOMPARE(w.shape1->backColor(), Bgr::Blue);
    QCOMPARE(w.state(), Winsock::sckClosed);
    QTest::qWait(TickMs + 200);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(w.shape1->backColor(), Bgr::Blue);
    QVERIFY(!w.command1->isEnabled());
    QVERIFY(w.buttonsExclusive());

    // The operator frees the port, stops and starts again.
    holder.close();
    w.command2->click();
    QVERIFY(w.buttonsExclusive());
    w.command1->click();
    QVERIFY(w.buttonsExclusive());
    ControllerPeer peer;
    QVERIFY(peer.connectTo(port, 2 * TickMs + 2000));
    QVERIFY(waitUntil([&] { return w.state() == Winsock::sckConnected; }));
    QCOMPARE(reports.size(), 1);
}

QTEST_MAIN(WatchdogTest)
#include "tst_watchdog.moc"
