#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include <QToolButton>

#include "bgrcolor.h"
#include "controllerpeer.h"
#include "errorreporter.h"
#include "form1.h"
#include "shapecontrol.h"

namespace {

constexpr int WaitMs = 10000;
constexpr qint16 Closed = SocketControl::sckClosed, Listening = SocketControl::sckListening;
constexpr qint16 Connected = SocketControl::sckConnected, Failed = SocketControl::sckError;

// Qt's complaints about sockets, notifiers or objects mean the link misuses them.
const QRegularExpression Misuse(QStringLiteral("Socket|QIODevice|QTcpServer|QObject::"));

// The main window with a record of its ticks and reports. Start and stop are clicked
// through press(), which counts any moment both or neither are offered.
struct Window
{
    Form1 form;
    const Form1::Controls &c = form.controls();
    QList<qint16> seen; // the socket state each tick found when it moved the heartbeat
    QList<BgrColor> heartbeats;
    QSignalSpy reports {form.errorReporter(), &ErrorReporter::reported};
    QSignalSpy requests {c.Winsock1, &SocketControl::connectionRequest};
    int clashes = 0;

    explicit Window(quint16 port = 0)
        : form(port)
    {
        QObject::connect(c.Shape1, &ShapeControl::backColorChanged, &form, [this](BgrColor b) {
            seen << state();
            heartbeats << b;
        });
    }
    bool valid() const { return reports.isValid() && requests.isValid(); }
    qint16 state() const { return c.Winsock1->State(); }
    bool reaches(qint16 wanted)
    {
        return waitUntil([&] { return state() == wanted; }, WaitMs);
    }
    // Waits for more ticks: what a tick would do to the socket is done by then.
    bool ticks(qsizetype more)
    {
        const qsizetype target = heartbeats.size() + more;
        return waitUntil([&] { return heartbeats.size() >= target; }, WaitMs);
    }
    // The cycle does not depend on the interval; a short one keeps the tests quick.
    void start(int intervalMs = 20)
    {
        c.Timer1->setInterval(intervalMs);
        press(c.Command1);
    }
    void press(QAbstractButton *button)
    {
        button->click();
        clashes += c.Command1->isEnabled() == c.Command2->isEnabled();
    }
    bool takes(ControllerPeer &peer)
    {
        return reaches(Listening) && peer.connectTo(quint16(c.Winsock1->LocalPort()))
            && reaches(Connected);
    }
    bool identifies(ControllerPeer &peer)
    {
        peer.send("STEROWNIK");
        return waitUntil([&] { return c.Shape2->backColor() == Bgr::Green; });
    }
    // Into state 9 with supervision stopped, so no tick clears it: a frame the controller
    // never reads makes its abort a reset.
    bool failsWith(ControllerPeer &peer)
    {
        peer.socket().setReadBufferSize(1);
        c.S[0][0]->click();
        if (!waitUntil([&] { return peer.socket().bytesAvailable() > 0; }))
            return false;
        press(c.Command2);
        peer.abort();
        return reaches(Failed);
    }
};

} // namespace

class WatchdogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(Misuse); }
    void nothingListensBeforeStart();
    void firstTicks();
    void leavesSocketAlone_data();
    void leavesSocketAlone();
    void errorClosedThenListens();
    void stopKeepsConnection();
    void stoppedListenerStillAccepts();
    void newestRequestWins();
    void requestInErrorState();
    void sameHeldPortAfterReconnects();
    void failingListenStopsTickAndReports();
};

void WatchdogTest::nothingListensBeforeStart()
{
    Window w;
    QVERIFY(w.valid());
    QVERIFY(w.c.Timer2->isActive());
    QSignalSpy clock(w.c.Timer2, &QTimer::timeout);
    QVERIFY(clock.isValid());
    QVERIFY(clock.wait(WaitMs)); // a second has passed: a tick would have come by now
    QCOMPARE(w.state(), Closed);
    QVERIFY(w.heartbeats.isEmpty());
}

// The first tick closes the closed socket once more and listens; the heartbeat steps
// red, blue, green, red.
void WatchdogTest::firstTicks()
{
    Window w;
    QVERIFY(w.valid());
    w.start();
    QVERIFY(w.ticks(4));
    QCOMPARE(w.seen.first(4), (QList<qint16> {Closed, Listening, Listening, Listening}));
    QCOMPARE(w.heartbeats.first(4), (QList<BgrColor> {Bgr::Blue, Bgr::Green, Bgr::Red, Bgr::Blue}));
    QCOMPARE(w.clashes, 0);
}

// A listening or connected socket is never closed or reopened by a tick: the same
// listener, or the same connection, is there three ticks later.
void WatchdogTest::leavesSocketAlone_data()
{
    QTest::addColumn<bool>("connected");
    QTest::newRow("listening") << false;
    QTest::newRow("connected") << true;
}

void WatchdogTest::leavesSocketAlone()
{
    QFETCH(bool, connected);
    Window w;
    QVERIFY(w.valid());
    ControllerPeer peer;
    w.start();
    QVERIFY(w.reaches(Listening));
    if (connected)
        QVERIFY(w.takes(peer));
    const QPointer<QObject> endpoint = connected
        ? static_cast<QObject *>(w.c.Winsock1->findChild<QTcpSocket *>())
        : static_cast<QObject *>(w.c.Winsock1->findChild<QTcpServer *>());
    QVERIFY(endpoint);
    const qint32 port = w.c.Winsock1->LocalPort();
    const qsizetype before = w.seen.size();
    QVERIFY(w.ticks(3));
    QCOMPARE(w.seen.mid(before, 3), QList<qint16>(3, connected ? Connected : Listening));
    QCOMPARE(w.seen.size(), w.heartbeats.size());
    QCOMPARE(w.c.Winsock1->findChildren<QTcpServer *>().size(), connected ? 0 : 1);
    QVERIFY2(endpoint, "the tick replaced the socket");
    QCOMPARE(w.c.Winsock1->LocalPort(), port);
    if (connected) {
        w.c.S[0][0]->click();
        QCOMPARE(peer.waitForLine(), QByteArray("000000010000000000000000F"));
    }
    QCOMPARE(w.reports.size(), 0);
}

// A reset only refreshes the address, with no message. The first tick that finds the
// error closes it, the next one listens.
void WatchdogTest::errorClosedThenListens()
{
    Window w;
    QVERIFY(w.valid());
    ControllerPeer peer;
    w.start();
    QVERIFY(w.takes(peer));
    w.c.IP->clear();
    QVERIFY(w.failsWith(peer));
    QTRY_COMPARE(w.c.IP->text(), QStringLiteral("127.0.0.1"));
    const qsizetype before = w.seen.size();
    w.press(w.c.Command1);
    QVERIFY(w.ticks(3));
    QCOMPARE(w.seen.mid(before, 3), (QList<qint16> {Failed, Closed, Listening}));
    QCOMPARE(w.reports.size(), 0);
    QCOMPARE(w.clashes, 0);
}

// Stop paints the link red but keeps the connection; identification paints it green.
void WatchdogTest::stopKeepsConnection()
{
    Window w;
    QVERIFY(w.valid());
    ControllerPeer peer;
    w.start();
    QVERIFY(w.takes(peer) && w.identifies(peer));
    w.press(w.c.Command2);
    QVERIFY(!w.c.Timer1->isActive());
    QCOMPARE(w.c.Shape2->backColor(), Bgr::Red);
    w.c.S[0][0]->click();
    QCOMPARE(peer.waitForLine(), QByteArray("000000010000000000000000F"));
    QCOMPARE(w.state(), Connected);
    QVERIFY(w.identifies(peer));
    QCOMPARE(w.clashes, 0);
}

void WatchdogTest::stoppedListenerStillAccepts()
{
    Window w;
    QVERIFY(w.valid());
    ControllerPeer peer;
    w.start();
    QVERIFY(w.reaches(Listening));
    w.press(w.c.Command2);
    QVERIFY(w.takes(peer) && w.identifies(peer));
}

// Of two requests at once the newest wins; Label3 shows its identifier exactly.
void WatchdogTest::newestRequestWins()
{
    Window w;
    QVERIFY(w.valid());
    ControllerPeer first, second;
    w.start();
    QVERIFY(w.reaches(Listening));
    w.press(w.c.Command2); // no tick listens again behind the first connection
    const auto port = quint16(w.c.Winsock1->LocalPort());
    // Both wait in the listener's queue before the panel handles either.
    QVERIFY(first.connectTo(port) && second.connectTo(port));
    QVERIFY(w.reaches(Connected) && first.waitForDisconnect());
    QVERIFY(w.requests.isValid());
    QCOMPARE(w.requests.size(), 2);
    QCOMPARE(w.c.Label3->text(), QString::number(w.requests.last().at(0).toInt()));
    w.c.S[0][0]->click();
    QCOMPARE(second.waitForLine(), QByteArray("000000010000000000000000F"));
}

// A request that finds the socket in error closes it first. This one's connection is
// gone, so the accept fails silently and the socket is left closed.
void WatchdogTest::requestInErrorState()
{
    Window w;
    QVERIFY(w.valid());
    ControllerPeer peer;
    w.start();
    QVERIFY(w.takes(peer));
    QVERIFY(w.failsWith(peer));
    const QString label3 = w.c.Label3->text();
    Q_EMIT w.c.Winsock1->connectionRequest(1);
    QCOMPARE(w.state(), Closed);
    QCOMPARE(w.c.Label3->text(), label3);
    QCOMPARE(w.reports.size(), 0);
}

// The controller comes back to the port where it was: the watchdog listens on the same
// port again after each connection, the port held by the panel all along.
void WatchdogTest::sameHeldPortAfterReconnects()
{
    Window w;
    QVERIFY(w.valid());
    w.start();
    QVERIFY(w.reaches(Listening));
    const auto port = quint16(w.c.Winsock1->LocalPort());
    w.c.Winsock1->setLocalPort(port);
    for (int i = 0; i < 3; ++i) {
        ControllerPeer peer;
        QVERIFY(peer.connectTo(port) && w.reaches(Connected) && w.identifies(peer));
        peer.close();
        QVERIFY(w.reaches(Listening));
        QCOMPARE(w.c.Winsock1->LocalPort(), port);
    }
    QCOMPARE(w.reports.size(), 0);
}

// A failing Listen ends the tick there: the heartbeat has moved, Timer1 stays off, and
// the operator is told in words what happened and what to do.
void WatchdogTest::failingListenStopsTickAndReports()
{
    QTcpServer holder; // another program on the panel's port
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    Window w(holder.serverPort());
    QVERIFY(w.valid());
    w.start();
    QVERIFY(waitUntil([&] { return w.reports.size() == 1; }, WaitMs));
    QCOMPARE(w.reports[0][0].toString(), QStringLiteral("Timer1_Timer"));
    QVERIFY(!w.c.Timer1->isActive()); // so no tick can follow
    QCOMPARE(w.heartbeats, QList<BgrColor> {Bgr::Blue});

    const auto *box = w.form.findChild<QMessageBox *>(QStringLiteral("UnexpectedError"));
    QVERIFY(box && box->isVisible());
    QCOMPARE(box->icon(), QMessageBox::Critical);
    QCOMPARE(box->windowTitle(), QStringLiteral("Korvan"));
    const QString port = QString::number(holder.serverPort());
    QVERIFY2(box->text().contains(port), qPrintable(box->text()));
    QStringList lines = box->informativeText().split(u'\n');
    QCOMPARE(lines.takeLast(), ErrorReporter::IntegratorPrefix + QStringLiteral("Timer1_Timer"));
    const QString advice = lines.join(u'\n');
    for (const char *words : {"Nadzór łącza został wstrzymany", "„Zakończ nasłuch”",
                              "„Rozpocznij nasłuch”", "zajmuje port "}) {
        QVERIFY2(advice.contains(QString::fromUtf8(words)), qPrintable(advice));
    }
    QVERIFY(advice.contains(port));
    for (const QString &text : {box->text(), advice})
        QVERIFY2(!text.contains(QStringLiteral("Timer1")), qPrintable(text));

    // The operator frees the port, stops and starts again.
    holder.close();
    ControllerPeer peer;
    w.press(w.c.Command2);
    w.press(w.c.Command1);
    QVERIFY(w.takes(peer));
    QCOMPARE(w.reports.size(), 1);
    QCOMPARE(w.clashes, 0);
}

QTEST_MAIN(WatchdogTest)
#include "tst_watchdog.moc"
