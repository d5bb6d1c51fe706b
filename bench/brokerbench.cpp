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
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "brokerprocess.h"
#include "controllerthread.h"
#include "form1.h"
#include "panelrun.h"
#include "plantpublisher.h"
#include "procstats.h"

namespace {

// The benchmarks' shared steps, and the clock they all read.
using namespace PanelRun;

// Presses per run; each of the three runs is taken this many times, in turns.
constexpr int Presses = 100;
constexpr int Rounds = 3;
constexpr int WarmUpPresses = 50;
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

struct Latencies
{
    std::vector<double> frame;
    std::vector<double> message;
};

enum class Broker { None, Connected, Down };

// Presses of O11 while the controller thread times each frame's last byte and, with a
// broker, a subscriber times each outputs/O11 message: both from the click.
Latencies pressLatencies(Broker broker, BrokerProcess *process)
{
    Latencies result;
    Form1 form(0);
    std::unique_ptr<PlantPublisher> publisher;
    const QString base = QStringLiteral("korvan/bench");
    if (broker != Broker::None)
        publisher = std::make_unique<PlantPublisher>(process->settings(base), form);
    std::unique_ptr<TimingSubscriber> subscriber;
    if (broker == Broker::Connected) {
        subscriber = std::make_unique<TimingSubscriber>(
            process->socketPath(), (base + QStringLiteral("/outputs/O11")).toUtf8());
        QTest::qWait(500);
        subscriber->drop();
    }
    ControllerThread controller(PanelRun::startPanel(form), ControllerThread::Mode::TimeFrames);
    if (!controller.waitConnected(5000))
        qFatal("the controller could not connect");
    PanelRun::waitConnected(form);
    QPushButton *button = form.controls().S[0][0];
    const auto afterPress = [&subscriber, &result](int i, Clock::time_point pressed) {
        if (subscriber) {
            // The window's thread hands the value over: its event loop must run meanwhile.
            Clock::time_point published;
            QElapsedTimer waited;
            waited.start();
            while (!subscriber->take(0, &published)) {
                if (waited.elapsed() > 5000)
                    qFatal("no message for press %d", i);
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            }
            if (i >= WarmUpPresses)
                result.message.push_back(micros(published - pressed));
        }
        // Past the coalescing gap, so each press is its own message; the same pace in
        // every run, so the runs compare.
        QTest::qWait(110);
    };
    result.frame = PanelRun::timePresses(
        controller, WarmUpPresses, Presses,
        [button](int) { QTest::mouseClick(button, Qt::LeftButton); }, afterPress);
    return result;
}

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

// The three runs take turns, each round in another order, so that whatever the machine does
// meanwhile falls on all three alike. The broker is left down.
std::map<Broker, Latencies> takeTurns(BrokerProcess &broker)
{
    std::map<Broker, Latencies> runs;
    bool brokerUp = true;
    const Broker order[] = {Broker::None, Broker::Connected, Broker::Down};
    for (int round = 0; round < Rounds; ++round) {
        for (int turn = 0; turn < 3; ++turn) {
            const Broker kind = order[(round + turn) % 3];
            if (kind == Broker::Connected && !brokerUp) {
                if (!broker.restart())
                    qFatal("mosquitto did not start again");
                brokerUp = true;
            }
            if (kind == Broker::Down && brokerUp) {
                broker.kill();
                brokerUp = false;
            }
            say(QStringLiteral("broker: round %1 of %2, %3...")
                    .arg(round + 1)
                    .arg(Rounds)
                    .arg(nameOf(kind)));
            const Latencies taken = pressLatencies(kind, &broker);
            Latencies &all = runs[kind];
            all.frame.insert(all.frame.end(), taken.frame.begin(), taken.frame.end());
            all.message.insert(all.message.end(), taken.message.begin(), taken.message.end());
        }
    }
    broker.kill();
    return runs;
}

qint64 floodResidentKb(BrokerProcess &process)
{
    Form1 form(0);
    PlantPublisher publisher(process.settings(QStringLiteral("korvan/flood")), form);
    ControllerThread controller(PanelRun::startPanel(form), ControllerThread::Mode::Blast);
    if (!controller.waitConnected(5000))
        qFatal("the controller could not connect");
    const qint64 before = ProcStats::residentKb();
    QTest::qWait(FloodSeconds * 1000);
    controller.stop();
    const qint64 after = ProcStats::residentKb();
    std::printf("input flood %d s, broker down: %lld texts sent; resident memory %lld kB "
                "before, %lld kB after\n",
                FloodSeconds, static_cast<long long>(controller.textsSent()),
                static_cast<long long>(before), static_cast<long long>(after));
    return after;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir runtimeDir;
    PanelRun::useRuntimeFolder(runtimeDir);
    QApplication app(argc, argv);
    PanelRun::lookAsThePanel(QStringLiteral("korvan.*=false"));
    mosquitto_lib_init();

    BrokerProcess broker;
    if (!broker.start())
        qFatal("mosquitto did not start");
    std::map<Broker, Latencies> runs = takeTurns(broker);
    const Latencies &none = runs[Broker::None];
    const Latencies &connected = runs[Broker::Connected];
    const Latencies &down = runs[Broker::Down];

    const double base = percentile(none.frame, 0.5);
    const auto line = [](const char *figure, double value, const QString &besides) {
        std::printf("%-40s %10.1f us  %s\n", figure, value, qPrintable(besides));
    };
    std::printf("\n");
    line("press -> frame, median, no broker", base, QString());
    for (const auto &[name, figures] :
         {std::pair {"press -> frame, median, broker connected", &connected},
          std::pair {"press -> frame, median, broker down", &down}}) {
        const double median = percentile(figures->frame, 0.5);
        line(name, median,
             QStringLiteral("%1x no broker (aim <= 1.1x: %2)")
                 .arg(median / base, 0, 'f', 2)
                 .arg(median <= 1.1 * base ? QStringLiteral("met") : QStringLiteral("NOT met")));
    }
    line("press -> frame, p99, no broker", percentile(none.frame, 0.99), QString());
    line("press -> frame, p99, broker connected", percentile(connected.frame, 0.99), QString());
    line("press -> frame, p99, broker down", percentile(down.frame, 0.99), QString());
    line("press -> MQTT message, median", percentile(connected.message, 0.5),
         QStringLiteral("(subscriber on loopback)"));
    line("press -> MQTT message, p99", percentile(connected.message, 0.99), QString());
    std::fflush(stdout);
    say(QStringLiteral("broker: 60 s input flood with the broker down..."));
    floodResidentKb(broker);
    mosquitto_lib_cleanup();
    return 0;
}
