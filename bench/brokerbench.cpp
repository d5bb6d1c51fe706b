// make bench, the broker's part: the panel's figures while it publishes to the plant's
// broker, each beside the same figure without a broker.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QToolButton>

#include <mosquitto.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "brokerprocess.h"
#include "controllerthread.h"
#include "form1.h"
#include "panelrun.h"
#include "plantpublisher.h"
#include "procstats.h"

using namespace Qt::StringLiterals;

namespace {

// The benchmarks' shared steps, and the clock they all read.
using namespace PanelRun;

// Press -> message: each press past the publisher's 100 ms coalescing gap, so that each is
// a message of its own.
constexpr int MessagePresses = 300;
constexpr int MessageWarmUp = 20;
constexpr int MessageGapMs = 110;
constexpr int FloodSeconds = 60;

// A consumer of the plant on its own thread: when each message on the topic arrived.
class TimingSubscriber
{
public:
    TimingSubscriber(const QString &socketPath, const QByteArray &topic)
        : m_topic(topic)
    {
        m_mosq = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(m_mosq,
                                       [](mosquitto *, void *self, const mosquitto_message *) {
                                           auto *s = static_cast<TimingSubscriber *>(self);
                                           {
                                               const std::lock_guard lock(s->m_mutex);
                                               s->m_arrivals.push_back(Clock::now());
                                           }
                                           s->m_arrived.release();
                                       });
        mosquitto_connect(m_mosq, qPrintable(socketPath), 0, 60);
        mosquitto_subscribe(m_mosq, nullptr, m_topic.constData(), 1);
        mosquitto_loop_start(m_mosq);
    }
    ~TimingSubscriber()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, true);
        mosquitto_destroy(m_mosq);
    }
    bool take(int timeoutMs, Clock::time_point *arrival)
    {
        if (!m_arrived.tryAcquire(1, timeoutMs))
            return false;
        const std::lock_guard lock(m_mutex);
        *arrival = m_arrivals.front();
        m_arrivals.pop_front();
        return true;
    }
    void drop()
    {
        while (m_arrived.tryAcquire(1, 200)) {
            const std::lock_guard lock(m_mutex);
            m_arrivals.pop_front();
        }
    }

private:
    QByteArray m_topic;
    mosquitto *m_mosq = nullptr;
    std::mutex m_mutex;
    std::deque<Clock::time_point> m_arrivals;
    QSemaphore m_arrived;
};

enum class Broker { None, Connected, Down };

QString nameOf(Broker broker)
{
    switch (broker) {
    case Broker::None:
        return QStringLiteral("no broker");
    case Broker::Connected:
        return QStringLiteral("broker connected");
    case Broker::Down:
        return QStringLiteral("broker down");
    }
    return {};
}

// One panel of the run: its window, its publisher to the broker (none, a running one or one
// that is down), its controller timing the frames and, with a running broker, a subscriber
// timing the outputs/O11 messages.
class Station
{
public:
    Station(Broker broker, const BrokerProcess &process)
        : m_broker(broker)
        , m_form(0)
    {
        const QString base = QStringLiteral("korvan/bench-") + nameOf(broker).section(u' ', -1);
        if (broker != Broker::None)
            m_publisher = std::make_unique<PlantPublisher>(process.settings(base), m_form);
        if (broker == Broker::Connected)
            m_subscriber = std::make_unique<TimingSubscriber>(
                process.socketPath(), (base + QStringLiteral("/outputs/O11")).toUtf8());
        m_controller = PanelRun::letControllerIn(m_form, ControllerThread::Mode::TimeFrames);
    }

    Broker broker() const { return m_broker; }
    const std::vector<double> &frames() const { return m_frames; }

    // A press of O11, the event loop run after it. Always the same button: a press on
    // another one moves the focus, which only the one active window of the three handles in
    // full, and that made the last window shown a sixth slower than the others.
    void pressForFrame(bool counted)
    {
        PanelRun::timePress(*m_controller, pressO11(), counted ? &m_frames : nullptr);
        QCoreApplication::processEvents();
    }

    // Presses of O11, each past the coalescing gap: click -> message at the subscriber.
    std::vector<double> messageLatencies(int warmUp, int presses)
    {
        std::vector<double> latencies;
        m_subscriber->drop();
        const auto afterPress = [&](int i, Clock::time_point pressed) {
            // The window's thread hands the value over: its event loop must run meanwhile.
            Clock::time_point published;
            QElapsedTimer waited;
            waited.start();
            while (!m_subscriber->take(0, &published)) {
                if (waited.elapsed() > 5000)
                    qFatal("no message for press %d", i);
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            }
            if (i >= warmUp)
                latencies.push_back(micros(published - pressed));
            QTest::qWait(MessageGapMs);
        };
        PanelRun::timePresses(
            *m_controller, warmUp, presses, [press = pressO11()](int) { press(); }, afterPress);
        return latencies;
    }

private:
    Broker m_broker;
    Form1 m_form;
    std::unique_ptr<PlantPublisher> m_publisher;
    std::unique_ptr<TimingSubscriber> m_subscriber;
    std::unique_ptr<ControllerThread> m_controller;
    std::vector<double> m_frames;

    std::function<void()> pressO11() const
    {
        QPushButton *button = m_form.controls().S[0][0];
        return [button] {
            QTest::mouseClick(button, Qt::LeftButton);
        };
    }
};

// Press -> frame of the three panels, side by side: they take turns press by press, each
// turn in an order of its own drawn at random, so that whatever the machine does meanwhile,
// and whatever a press leaves behind for the next, falls on all three alike. Runs one after
// another differed by a quarter from each other, broker or not; turns in a fixed rotation
// made whichever panel came third the slowest. As many presses as the panel's own
// benchmark takes, at its pace: one after another, the event loop run between them.
// Presses closer than the coalescing gap are the publisher's busiest case: every press is
// an event, and the values go out at most every 100 ms.
void framesInTurns(const std::vector<Station *> &stations)
{
    std::vector<Station *> order = stations;
    std::mt19937 random(6165);
    for (int i = 0; i < WarmUpPresses + Presses; ++i) {
        std::shuffle(order.begin(), order.end(), random);
        for (Station *station : order)
            station->pressForFrame(i >= WarmUpPresses);
    }
}

// The press figures, each panel with its publisher beside the one without.
void pressFigures(const BrokerProcess &broker, const BrokerProcess &nowhere)
{
    Station none(Broker::None, broker);
    Station connected(Broker::Connected, broker);
    Station down(Broker::Down, nowhere);
    say(QStringLiteral("broker: three panels, %1 presses each, in turns...").arg(Presses));
    framesInTurns({&none, &connected, &down});
    say(QStringLiteral("broker: %1 presses to their messages...").arg(MessagePresses));
    const std::vector<double> messages = connected.messageLatencies(MessageWarmUp, MessagePresses);

    const double base = percentile(none.frames(), 0.5);
    const auto line = [](const char *figure, double value, const QString &besides) {
        std::printf("%-40s %10.1f us  %s\n", figure, value, qPrintable(besides));
    };
    std::printf("\n");
    line("press -> frame, median, no broker", base, QString());
    for (const Station *station : {&connected, &down}) {
        const double median = percentile(station->frames(), 0.5);
        line(qPrintable(u"press -> frame, median, "_s + nameOf(station->broker())), median,
             QStringLiteral("%1x no broker (aim <= 1.1x: %2)")
                 .arg(median / base, 0, 'f', 2)
                 .arg(median <= 1.1 * base ? QStringLiteral("met") : QStringLiteral("NOT met")));
    }
    for (const Station *station : {&none, &connected, &down})
        line(qPrintable(u"press -> frame, p99, "_s + nameOf(station->broker())),
             percentile(station->frames(), 0.99), QString());
    line("press -> MQTT message, median", percentile(messages, 0.5),
         QStringLiteral("(subscriber on loopback)"));
    line("press -> MQTT message, p99", percentile(messages, 0.99), QString());
}

qint64 floodResidentKb(BrokerProcess &process)
{
    Form1 form(0);
    PlantPublisher publisher(process.settings(QStringLiteral("korvan/flood")), form);
    const auto controller = PanelRun::letControllerIn(form, ControllerThread::Mode::Blast);
    const qint64 before = ProcStats::residentKb();
    QTest::qWait(FloodSeconds * 1000);
    controller->stop();
    const qint64 after = ProcStats::residentKb();
    std::printf("input flood %d s, broker down: %lld texts sent; resident memory %lld kB "
                "before, %lld kB after\n",
                FloodSeconds, static_cast<long long>(controller->textsSent()),
                static_cast<long long>(before), static_cast<long long>(after));
    return after;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir runtimeDir;
    PanelRun::useRuntimeFolder(runtimeDir);
    QApplication app(argc, argv);
    PanelRun::lookAsThePanel(WithoutHistory);
    mosquitto_lib_init();

    BrokerProcess broker;
    // Nothing ever listens at this one's address.
    const BrokerProcess nowhere;
    if (!broker.start())
        qFatal("mosquitto did not start");
    pressFigures(broker, nowhere);
    std::fflush(stdout);
    say(QStringLiteral("broker: 60 s input flood with the broker down..."));
    broker.kill();
    floodResidentKb(broker);
    mosquitto_lib_cleanup();
    return 0;
}
