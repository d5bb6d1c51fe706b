#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QToolButton>

#include <atomic>

#include "controllerpeer.h"
#include "form1.h"
#include "processfigures.h"
#include "shapecontrol.h"

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 BurstSize = 256 * 1024;
constexpr int PressEveryMs = 20;
// Generous: sanitizer quarantine alone keeps up to 256 MiB of freed memory.
constexpr qint64 PeakGrowthLimitKiB = 400 * 1024;
constexpr int PressAfterFloodMs = 1500;
constexpr int PressDeadlineMs = 200;
const QByteArray FinalText = QByteArrayLiteral("10000000");

// Bursts of arbitrary bytes laced with what a careless or hostile peer might send: NUL,
// bytes above 127, line ends, markup and the identification text itself. Most bursts
// make one endless line of printable ASCII: the hardest text to lay out.
QList<QByteArray> makeBursts()
{
    static const QByteArray tokens[] = {
        QByteArrayLiteral("\r\n"),
        QByteArray(1, '\0'),
        QByteArrayLiteral("<b>bold</b><img src=x>"),
        QByteArrayLiteral("STEROWNIK"),
        QByteArrayLiteral("&amp;&#0;"),
        QByteArrayLiteral("\xff\xfe\x80\xc3\xa9"),
        QByteArrayLiteral("01010101"),
    };
    QRandomGenerator random(7);
    QList<QByteArray> bursts;
    for (int b = 0; b < 8; ++b) {
        const bool oneLine = b != 0;
        QByteArray burst;
        burst.reserve(BurstSize);
        while (burst.size() < BurstSize) {
            if (oneLine) {
                burst += char(random.bounded(0x20, 0x7f));
            } else if (random.bounded(8) == 0) {
                burst += tokens[random.bounded(int(std::size(tokens)))];
            } else {
                for (int i = 0; i < 64; ++i)
                    burst += char(random.bounded(256));
            }
        }
        burst.truncate(BurstSize);
        bursts.append(burst);
    }
    return bursts;
}

// A controller on its own thread: it floods the panel and, meanwhile, "presses" an output
// button by posting a click to the window, then times how long until the frame arrives.
// Measuring from here keeps the clock running while the window is busy.
class FloodingController : public QThread
{
public:
    FloodingController(quint16 port, QPushButton *button, qint64 floodBytes)
        : m_port(port)
        , m_button(button)
        , m_floodBytes(floodBytes)
    {
    }

    std::atomic<bool> identified {false};
    // Bytes the panel has taken in so far: the flood lasts until it has taken them all.
    std::atomic<qint64> taken {0};
    std::atomic<bool> finished {false};

    // Results, read after the thread has ended.
    qint64 bytesFlooded = 0;
    qint64 worstDuringMs = -1;
    qint64 worstAfterMs = -1;
    int pressesDuring = 0;
    int pressesAfter = 0;
    int lostPresses = 0;
    QString failure;

protected:
    void run() override
    {
        QTcpSocket socket;
        socket.setProxy(QNetworkProxy::NoProxy);
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (!socket.waitForConnected(5000)) {
            failure = QStringLiteral("no connection: ") + socket.errorString();
            return;
        }
        socket.write("STEROWNIK");
        socket.waitForBytesWritten(1000);
        while (!identified.load())
            socket.waitForReadyRead(5);

        const QList<QByteArray> bursts = makeBursts();
        QElapsedTimer clock;
        clock.start();
        qint64 pressedAt = -1;
        qint64 floodEndedAt = -1;
        qint64 nextPress = 0;
        bool pressDuringFlood = false;
        int burstIndex = 0;
        for (;;) {
            if (bytesFlooded < m_floodBytes && socket.bytesToWrite() < 2 * BurstSize) {
                const QByteArray &burst = bursts.at(burstIndex++ % bursts.size());
                const qint64 part = qMin<qint64>(burst.size(), m_floodBytes - bytesFlooded);
                socket.write(burst.constData(), part);
                bytesFlooded += part;
            }
            if (floodEndedAt < 0 && taken.load() >= m_floodBytes)
                floodEndedAt = clock.elapsed();

            if (socket.bytesToWrite() > 0)
                socket.waitForBytesWritten(5);
            else
                socket.waitForReadyRead(5);
            if (socket.state() != QAbstractSocket::ConnectedState) {
                failure = QStringLiteral("the panel dropped the connection");
                return;
            }

            while (socket.canReadLine()) {
                socket.readLine();
                if (pressedAt < 0)
                    continue;
                const qint64 latency = clock.elapsed() - pressedAt;
                qint64 &worst = pressDuringFlood ? worstDuringMs : worstAfterMs;
                worst = qMax(worst, latency);
                (pressDuringFlood ? pressesDuring : pressesAfter) += 1;
                pressedAt = -1;
            }
            const qint64 now = clock.elapsed();
            if (pressedAt >= 0 && now - pressedAt > 10 * PressDeadlineMs) {
                // Counted as lost; the worst latency shows the wait.
                ++lostPresses;
                qint64 &worst = pressDuringFlood ? worstDuringMs : worstAfterMs;
                worst = qMax(worst, now - pressedAt);
                pressedAt = -1;
            }
            if (pressedAt < 0 && now >= nextPress) {
                if (floodEndedAt >= 0 && now - floodEndedAt > PressAfterFloodMs)
                    break;
                pressDuringFlood = floodEndedAt < 0;
                pressedAt = now;
                nextPress = now + PressEveryMs;
                QMetaObject::invokeMethod(m_button, &QAbstractButton::click, Qt::QueuedConnection);
            }
        }

        // One last input text on its own, once the panel has had time to drain the flood.
        QThread::msleep(300);
        socket.write(FinalText);
        socket.waitForBytesWritten(1000);
        while (!finished.load())
            socket.waitForReadyRead(5);
    }

private:
    quint16 m_port;
    QPushButton *m_button;
    qint64 m_floodBytes;
};

} // namespace

class TestFlood : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void floodLeavesPressesFlowing();
};

void TestFlood::floodLeavesPressesFlowing()
{
    const qint64 floodBytes = 20 * MiB;
    Form1 form(0);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const Form1::Controls &ui = form.controls();
    ui.Command1->click();
    QTRY_COMPARE_WITH_TIMEOUT(ui.Winsock1->State(), qint16(Winsock::sckListening), 3000);

    qint64 largestArrival = 0;
    int arrivals = 0;
    FloodingController controller(quint16(ui.Winsock1->LocalPort()), ui.S[0][0], floodBytes);
    connect(ui.Winsock1, &Winsock::dataArrival, this, [&](qint32 bytesTotal) {
        largestArrival = qMax<qint64>(largestArrival, bytesTotal);
        ++arrivals;
        if (controller.identified.load())
            controller.taken += bytesTotal;
    });
    const qint64 residentBefore = residentMemoryKiB();

    controller.start();
    QTRY_COMPARE_WITH_TIMEOUT(ui.Shape2->backColor(), Bgr::Green, 5000);
    controller.identified = true;

    QElapsedTimer wall;
    wall.start();
    const bool drained = QTest::qWaitFor(
        [&] { return controller.isFinished() || ui.Label3->text() == QLatin1String(FinalText); },
        240000);
    const qint64 floodMs = wall.elapsed();
    controller.finished = true;
    QVERIFY(controller.wait(10000));
    QVERIFY2(controller.failure.isEmpty(), qPrintable(controller.failure));
    QVERIFY(drained);

    qInfo("flood: %lld bytes in %lld ms, %d arrivals, largest %lld bytes", controller.bytesFlooded,
          floodMs, arrivals, largestArrival);
    qInfo("flood: worst press latency %lld ms during (%d presses), %lld ms after (%d "
          "presses), %d lost",
          controller.worstDuringMs, controller.pressesDuring, controller.worstAfterMs,
          controller.pressesAfter, controller.lostPresses);
    qInfo("flood: resident %lld KiB before, %lld KiB after, peak %lld KiB", residentBefore,
          residentMemoryKiB(), peakMemoryKiB());

    QCOMPARE(controller.bytesFlooded, floodBytes);
    QVERIFY(peakMemoryKiB() - residentBefore < PeakGrowthLimitKiB);
    QCOMPARE(controller.lostPresses, 0);
    QVERIFY(controller.pressesDuring > 0);
    QVERIFY(controller.pressesAfter > 0);
    QVERIFY2(controller.worstDuringMs <= PressDeadlineMs, "a press waited too long in the flood");
    QVERIFY2(controller.worstAfterMs <= PressDeadlineMs, "a press waited too long after it");

    // The panel still reads the controller truthfully once the flood is over.
    QCOMPARE(ui.Label3->text(), QLatin1String(FinalText));
    QCOMPARE(ui.I[7]->backColor(), Bgr::Green);
    for (int k = 1; k <= 7; ++k)
        QCOMPARE(ui.I[size_t(k - 1)]->backColor(), Bgr::Red);
    QCOMPARE(ui.Label3->textFormat(), Qt::PlainText);
}

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
