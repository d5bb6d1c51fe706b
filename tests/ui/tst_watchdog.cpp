#include <QLabel>
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

constexpr int TickMs = 500, WaitMs = 3 * TickMs + 3000;
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
    int clashes = 0;

    explicit Window(quint16 port = 0)
        : form(port)
    {
        QObject::connect(c.Shape1, &ShapeControl::backColorChanged, &form, [this](BgrColor b) {
            seen << state();
            heartbeats << b;
        });
    }
    qint16 state() const { return c.Winsock1->State(); }
    QList<qint16> lastSeen(qsizetype count) const { return seen.mid(seen.size() - count); }
    bool reaches(qint16 wanted)
    {
        return waitUntil([&] { return state() == wanted; }, WaitMs);
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
};

} // namespace

class WatchdogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QTest::failOnWarning(Misuse); }
    void firstStartThenHundredsOfReconnects();
    void connectionLifecycle();
    void failingListenStopsTickAndReports();
};

void WatchdogTest::firstStartThenHundredsOfReconnects()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::Any, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    Window w(port); // a fixed port: the controller comes back to where it was
    ControllerPeer peer;
    QVERIFY(!peer.connectTo(port, 2 * TickMs)); // nothing listens before the first start

    // The first tick listens; a listening socket is then left alone.
    w.press(w.c.Command1);
    QTRY_VERIFY_WITH_TIMEOUT(w.seen.size() >= 4, 4 * WaitMs);
    QCOMPARE(w.seen.first(4), (QList<qint16> {Closed, Listening, Listening, Listening}));
    QCOMPARE(w.heartbeats.first(4), (QList<BgrColor> {Bgr::Blue, Bgr::Green, Bgr::Red, Bgr::Blue}));

    // The cycle does not depend on the interval; a short one keeps hundreds of them fast.
    w.c.Timer1->setInterval(2);
    QVERIFY(w.takes(peer) && w.identifies(peer));
    peer.close();
    QVERIFY(w.reaches(Listening));
    QTest::qWait(10);
    const int descriptors = openDescriptorCount();
    for (int i = 0; i < 300; ++i) {
        QVERIFY(w.takes(peer));
        peer.close();
    }
    QVERIFY(w.reaches(Listening));
    QTest::qWait(10);
    QCOMPARE(openDescriptorCount(), descriptors);
    QCOMPARE(w.clashes, 0);
}

void WatchdogTest::connectionLifecycle()
{
    Window w;
    ControllerPeer peer, first, second, third;
    w.press(w.c.Command1);
    QVERIFY(w.takes(peer) && w.identifies(peer));
    // A connection is left alone.
    QTRY_COMPARE_WITH_TIMEOUT(w.lastSeen(2), (QList<qint16> {Connected, Connected}), WaitMs);

    // Stop paints the link red but keeps the connection; identification paints it green.
    w.press(w.c.Command2);
    QCOMPARE(w.c.Shape2->backColor(), Bgr::Red);
    w.c.S[0][0]->click();
    QCOMPARE(peer.waitForLine().size(), 25);
    QVERIFY(w.identifies(peer));

    // A reset refreshes the address and ends the link: no message. The first tick that
    // finds the error closes it, the next one listens.
    w.press(w.c.Command1);
    w.c.IP->clear();
    w.c.S[0][0]->click(); // unread when the controller aborts, so it resets
    peer.abort();
    QTRY_COMPARE(w.c.IP->text(), QStringLiteral("127.0.0.1"));
    QTRY_COMPARE_WITH_TIMEOUT(w.lastSeen(3), (QList<qint16> {Failed, Closed, Listening}), WaitMs);
    QCOMPARE(w.c.Shape2->backColor(), Bgr::Red);

    // Stopped while listening it still accepts; of two requests at once the newest wins.
    w.press(w.c.Command2);
    QVERIFY(first.connectTo(quint16(w.c.Winsock1->LocalPort())));
    QVERIFY(w.takes(second) && first.waitForDisconnect());
    w.c.S[0][0]->click();
    QCOMPARE(second.waitForLine().size(), 25);
    const qint32 used = w.c.Label3->text().toInt();
    QVERIFY(used > 0 && w.identifies(second));

    // A request whose connection is gone by the time it is handled fails silently; the
    // watchdog listens again.
    second.close();
    QVERIFY(w.reaches(Closed));
    Q_EMIT w.c.Winsock1->connectionRequest(used);
    QCOMPARE(w.c.Label3->text(), QStringLiteral("STEROWNIK"));
    w.press(w.c.Command1);
    QVERIFY(w.takes(third));
    QCOMPARE(w.reports.size(), 0);
    QCOMPARE(w.clashes, 0);
}

void WatchdogTest::failingListenStopsTickAndReports()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::Any, 0));
    Window w(holder.serverPort());
    ControllerPeer peer;
    w.press(w.c.Command1);
    QTRY_COMPARE_WITH_TIMEOUT(w.reports.size(), 1, WaitMs);
    QCOMPARE(w.reports[0][0].toString(), QStringLiteral("Timer1_Timer"));
    QVERIFY(w.reports[0][1].toString().contains(QString::number(holder.serverPort())));
    // The tick ended at Listen, with the heartbeat moved, and Timer1 stays off.
    QTest::qWait(TickMs + 200);
    QVERIFY(!w.c.Timer1->isActive());
    QCOMPARE(w.heartbeats, QList<BgrColor> {Bgr::Blue});

    // The operator frees the port, stops and starts again.
    holder.close();
    w.press(w.c.Command2);
    w.press(w.c.Command1);
    QVERIFY(w.takes(peer));
    QCOMPARE(w.reports.size(), 1);
    QCOMPARE(w.clashes, 0);
}

QTEST_MAIN(WatchdogTest)
#include "tst_watchdog.moc"
