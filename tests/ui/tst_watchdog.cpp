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

// The panel, supervising from the start, with a record of its ticks and reports. `clashes`
// counts the moments after a press of start or stop when both, or neither, are offered.
struct Window : ConnectedPanel
{
    const Form1::Controls &c = ui();
    QList<qint16> seen; // the socket state each tick found when it moved the heartbeat
    QList<BgrColor> heartbeats;
    QSignalSpy reports {form->errorReporter(), &ErrorReporter::reported};
    int clashes = 0;

    explicit Window(quint16 port = 0)
        : ConnectedPanel(port)
    {
        QObject::connect(c.Shape1, &ShapeControl::backColorChanged, form.get(), [this](BgrColor b) {
            seen << socketState();
            heartbeats << b;
        });
        for (QAbstractButton *button : {c.Command1, c.Command2})
            QObject::connect(button, &QAbstractButton::clicked, form.get(), [this] {
                clashes += c.Command1->isEnabled() == c.Command2->isEnabled();
            });
        c.Timer1->setInterval(20); // the cycle does not depend on it; short keeps tests quick
        c.Command1->click();
    }
    // Waits until that many ticks have moved the heartbeat, and done their work.
    bool ticked(qsizetype n)
    {
        return waitUntil([&] { return seen.size() >= n; }, 10000);
    }
    bool takes()
    {
        return waitForSocketState(Listening) && peer.connectTo(port())
            && waitForSocketState(Connected);
    }
    // Into state 9 with supervision stopped, so no tick clears it: a frame the controller
    // never reads makes its abort a reset, which only refreshes the address.
    bool fails()
    {
        if (!takes())
            return false;
        c.IP->clear();
        peer.socket().setReadBufferSize(1);
        c.S[0][0]->click();
        const bool unread = waitUntil([&] { return peer.socket().bytesAvailable() > 0; });
        c.Command2->click();
        peer.abort();
        return unread && waitForSocketState(Failed)
            && waitUntil([&] { return c.IP->text() == u"127.0.0.1"; });
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

    void ticks_data()
    {
        QTest::addColumn<qint16>("from");
        QTest::addColumn<QList<qint16>>("found"); // by the next four ticks
        QTest::newRow("first ticks")
            << Closed << QList<qint16> {Closed, Listening, Listening, Listening};
        QTest::newRow("listening") << Listening << QList<qint16>(4, Listening);
        QTest::newRow("connected") << Connected << QList<qint16>(4, Connected);
        QTest::newRow("error") << Failed << QList<qint16> {Failed, Closed, Listening, Listening};
    }

    // The first tick closes the closed socket once more and listens; the heartbeat steps
    // blue, green, red, blue. A listener or a connection is left alone: the same one is
    // there ticks later. An error is closed by one tick and listened on by the next.
    void ticks()
    {
        QFETCH(qint16, from);
        QFETCH(QList<qint16>, found);
        Window w;
        QVERIFY(w.reports.isValid());
        QVERIFY(from == Closed || from == Listening ? w.waitForSocketState(from)
                    : from == Connected             ? w.takes()
                                                    : w.fails());
        const QPointer<QObject> endpoint = from == Connected
            ? static_cast<QObject *>(w.c.Winsock1->findChild<QTcpSocket *>())
            : static_cast<QObject *>(w.c.Winsock1->findChild<QTcpServer *>());
        if (from == Failed)
            w.c.Command1->click();
        const qsizetype before = from == Closed ? 0 : w.seen.size();
        QVERIFY(w.ticked(before + 4));
        QCOMPARE(w.seen.mid(before, 4), found);
        if (from == Closed)
            QCOMPARE(w.heartbeats.first(4),
                     (QList<BgrColor> {Bgr::Blue, Bgr::Green, Bgr::Red, Bgr::Blue}));
        if (from == Listening || from == Connected)
            QVERIFY2(endpoint, "a tick replaced the socket");
        QCOMPARE(w.reports.size(), 0);
        QCOMPARE(w.clashes, 0);
    }

    // A request in state 9 closes the socket first. This one's connection is gone, so the
    // accept fails silently and the socket stays closed.
    void requestInErrorState()
    {
        Window w;
        QVERIFY(w.reports.isValid() && w.fails());
        const QString label3 = w.c.Label3->text();
        Q_EMIT w.c.Winsock1->connectionRequest(1);
        QCOMPARE(w.socketState(), Closed);
        QCOMPARE(w.c.Label3->text(), label3);
        QCOMPARE(w.reports.size(), 0);
    }

    // A failing Listen ends the tick there (heartbeat moved, Timer1 off) and tells the
    // operator in words what happened and what to do.
    void failingListenStopsTickAndReports()
    {
        QTcpServer holder; // another program on the panel's port
        QVERIFY(holder.listen(QHostAddress::Any, 0));
        Window w(holder.serverPort());
        QVERIFY(w.reports.isValid() && waitUntil([&] { return w.reports.size() == 1; }, 10000));
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
        w.c.Command2->click();
        w.c.Command1->click();
        QVERIFY(w.takes());
        QCOMPARE(w.reports.size(), 1);
        QCOMPARE(w.clashes, 0);
    }
};

QTEST_MAIN(WatchdogTest)
#include "tst_watchdog.moc"
