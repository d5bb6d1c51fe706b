#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <thread>

#include "brokerhistory.h"
#include "brokerlink.h"
#include "brokeroutbox.h"
#include "brokerprocess.h"
#include "brokersubscriber.h"
#include "connectedpanel.h"
#include "panelhome.h"
#include "plantpublisher.h"
#include "stressrun.h"

using namespace Qt::StringLiterals;

// What a row does to the panel, in order.
enum class Step { Identify, Input1On, PressS13, ControllerCloses, StopSupervision };
Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(QList<Step>)

enum class Ca { Good, Wrong };
Q_DECLARE_METATYPE(Ca)

enum class Ending { Killed, Terminated };
Q_DECLARE_METATYPE(Ending)

namespace {

// Under Wine the test shares one broker that it did not start (see brokerprocess.h).
#ifdef Q_OS_WIN
constexpr bool OwnBroker = false;
#else
constexpr bool OwnBroker = true;
#endif
const char *const NeedsOwnBroker = "needs a mosquitto of its own, which a test under Wine "
                                   "cannot start";

bool run(const QString &program, const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(60000) && process.exitCode() == 0;
    if (!ok)
        qInfo("%s failed: %s", qPrintable(program), process.readAll().constData());
    return ok;
}

// What the window shows, as the topics carry it.
QHash<QString, QByteArray> windowValues(const Form1 &form)
{
    const Form1::Controls &ui = form.controls();
    QHash<QString, QByteArray> values;
    values.insert(u"link"_s, ui.Shape2->backColor() == Bgr::Green ? "up" : "down");
    values.insert(u"supervision"_s, ui.Command2->isEnabled() ? "on" : "off");
    for (int k = 1; k <= 8; ++k)
        values.insert(u"inputs/I%1"_s.arg(k),
                      ui.I[size_t(k - 1)]->backColor() == Bgr::Green ? "1" : "0");
    for (int s = 1; s <= 3; ++s) {
        for (int n = 1; n <= 8; ++n)
            values.insert(u"outputs/O%1%2"_s.arg(s).arg(n),
                          ui.O[size_t(s - 1)][size_t(n - 1)]->shape() == 1 ? "1" : "0");
    }
    return values;
}

// Every retained topic at the subscriber holds what the window shows.
bool showsWindow(BrokerSubscriber &subscriber, const QString &base, const Form1 &form)
{
    const auto values = windowValues(form);
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (subscriber.latest(base + u'/' + it.key()) != it.value())
            return false;
    }
    const QJsonObject state
        = QJsonDocument::fromJson(subscriber.latest(base + u"/state"_s).value_or(QByteArray()))
              .object();
    return state.value(u"link"_s).toString().toLatin1() == values.value(u"link"_s)
        && state.value(u"inputs"_s).toObject().value(u"I1"_s).toInt()
        == values.value(u"inputs/I1"_s).toInt()
        && state.value(u"outputs"_s).toObject().value(u"O13"_s).toInt()
        == values.value(u"outputs/O13"_s).toInt();
}

qint64 residentKilobytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

// The panel's state on a real mosquitto, as a subscriber of the plant sees it.
class TestPublisher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        BrokerHistory::install();
        QVERIFY(m_certificates.isValid());
        if (OwnBroker)
            makeCertificates();
    }
    void init() { BrokerHistory::clear(); }

    // The window's changes, each on its topic, the state document and the events.
    void followsTheWindow_data()
    {
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("event");
        QTest::newRow("start-up: supervision on")
            << QList<Step>() << u"supervision"_s << QByteArray("on") << u"connection accepted"_s;
        QTest::newRow("identification: link up")
            << QList<Step> {Step::Identify} << u"link"_s << QByteArray("up") << u"identification"_s;
        QTest::newRow("00000001: I1 on") << QList<Step> {Step::Identify, Step::Input1On}
                                         << u"inputs/I1"_s << QByteArray("1") << QString();
        QTest::newRow("press S13: O13 on")
            << QList<Step> {Step::Identify, Step::PressS13} << u"outputs/O13"_s << QByteArray("1")
            << u"output switched"_s;
        QTest::newRow("controller closes: link down")
            << QList<Step> {Step::Identify, Step::ControllerCloses} << u"link"_s
            << QByteArray("down") << u"connection ended"_s;
        QTest::newRow("stop: supervision off")
            << QList<Step> {Step::StopSupervision} << u"supervision"_s << QByteArray("off")
            << QString();
    }
    void followsTheWindow()
    {
        QFETCH(QList<Step>, steps);
        QFETCH(QString, topic);
        QFETCH(QByteArray, payload);
        QFETCH(QString, event);
        BrokerProcess broker;
        QVERIFY(broker.start());
        const QString base = freshTopic(u"korvan/row"_s);
        BrokerSubscriber subscriber(broker.settings(), base + u"/#"_s);
        ConnectedPanel panel;
        PlantPublisher publisher(broker.settings(base), *panel.form);
        // The whole state first, each topic once, as the window shows it.
        QVERIFY(subscriber.waitFor(base + u"/status"_s, "online"));
        QVERIFY(waitUntil([&] { return showsWindow(subscriber, base, *panel.form); }, 20000));
        QSet<QString> topics;
        for (const auto &message : subscriber.messages())
            topics << message.topic;
        QCOMPARE(topics.size(), BrokerOutbox::retainedTopics().size() + 1);
        QCOMPARE(subscriber.messages().size(), topics.size());

        QVERIFY(panel.startConnected());
        for (const Step step : std::as_const(steps)) {
            switch (step) {
            case Step::Identify:
                QVERIFY(panel.identify(panel.peer));
                break;
            case Step::Input1On:
                panel.peer.send("00000001");
                QVERIFY(panel.arrived("00000001"));
                break;
            case Step::PressS13:
                panel.press(13);
                QCOMPARE(panel.peer.waitForLine(), QByteArray("000001000000000000000000F"));
                break;
            case Step::ControllerCloses:
                panel.peer.close();
                break;
            case Step::StopSupervision:
                QTest::mouseClick(panel.ui().Command2, Qt::LeftButton);
                break;
            }
        }
        QVERIFY2(subscriber.waitFor(base + u'/' + topic, payload),
                 qPrintable(BrokerHistory::text()));
        QVERIFY(waitUntil([&] { return showsWindow(subscriber, base, *panel.form); }, 20000));
        // A consumer that comes late has the same from the retained messages.
        BrokerSubscriber late(broker.settings(), base + u'/' + topic);
        QVERIFY(late.waitFor(base + u'/' + topic, payload));
        QVERIFY(late.messages().constFirst().retained);
        if (event.isEmpty())
            return;
        const auto published = subscriber.waitForEvent(base + u"/event"_s, event);
        QVERIFY2(published, qPrintable(event));
        QVERIFY(published->value(u"time"_s).toString().contains(u'T'));
        if (event == u"output switched") {
            QCOMPARE(published->value(u"output"_s).toString(), u"O13"_s);
            QCOMPARE(published->value(u"frame"_s).toString(), u"000001000000000000000000F"_s);
            // The state document follows the event within its topic's gap.
            const auto frame = [&] {
                return QJsonDocument::fromJson(subscriber.latest(base + u"/state"_s).value_or(""))
                    .object()
                    .value(u"frame"_s)
                    .toString();
            };
            QVERIFY2(waitUntil([&] { return frame() == u"000001000000000000000000F"; }, 20000),
                     qPrintable(frame()));
        }
    }

    // A press in the same turn of the event loop as the panel's end: its event and the
    // output's new value still go out, ahead of "offline", the value although its topic was
    // published less than the coalescing gap before.
    void lastPressBeforeTheEnd()
    {
        BrokerProcess broker;
        QVERIFY(broker.start());
        const QString base = freshTopic(u"korvan/last"_s);
        BrokerSubscriber subscriber(broker.settings(), base + u"/#"_s);
        ConnectedPanel panel;
        auto publisher = std::make_unique<PlantPublisher>(broker.settings(base), *panel.form);
        QVERIFY(subscriber.waitFor(base + u"/status"_s, "online"));
        QVERIFY(panel.startConnected());
        QVERIFY(subscriber.waitForEvent(base + u"/event"_s, u"connection accepted"_s));
        panel.press(13);
        QCOMPARE(panel.peer.waitForLine(), QByteArray("000001000000000000000000F"));
        QVERIFY(subscriber.waitFor(base + u"/outputs/O13"_s, "1"));
        // Delivered straight to the button: nothing else of the event loop runs in between.
        QTest::mouseClick(panel.ui().S[0][2], Qt::LeftButton);
        publisher.reset();
        QCOMPARE(panel.peer.waitForLine(), QByteArray("0000000000000000000000000"));
        QVERIFY(subscriber.waitFor(base + u"/status"_s, "offline"));
        QCOMPARE(subscriber.messages().constLast().topic, base + u"/status"_s);
        QCOMPARE(subscriber.latest(base + u"/outputs/O13"_s).value_or("none"), QByteArray("0"));
        const QJsonObject lastEvent
            = QJsonDocument::fromJson(subscriber.latest(base + u"/event"_s).value_or("")).object();
        QCOMPARE(lastEvent.value(u"event"_s).toString(), u"output switched"_s);
        QCOMPARE(lastEvent.value(u"frame"_s).toString(), u"0000000000000000000000000"_s);
    }

    // The real program ends: killed, the broker's will says offline; ended, it says so itself.
    void panelEnds_data()
    {
        QTest::addColumn<Ending>("ending");
        QTest::addColumn<int>("keepAlive");
        QTest::newRow("SIGKILL: the will") << Ending::Killed << 5;
        // A keep-alive of an hour: "offline" within the test cannot be the will.
        QTest::newRow("SIGTERM: offline at once") << Ending::Terminated << 3600;
    }
    void panelEnds()
    {
        if (!OwnBroker)
            QSKIP(NeedsOwnBroker);
        QFETCH(Ending, ending);
        QFETCH(int, keepAlive);
        BrokerProcess broker;
        QVERIFY(broker.start(tlsOptions(false)));
        const PanelHome home;
        const QString base = u"korvan/ends"_s;
        QVERIFY(home.isValid()
                && writeFile(home.userSettings(),
                             "[Broker]\nUrl=mqtts://localhost:"
                                 + QByteArray::number(broker.tlsPort()) + "\nTopic=" + base.toUtf8()
                                 + "\nCaFile=" + QFile::encodeName(file("ca.crt"))
                                 + "\nKeepAlive=" + QByteArray::number(keepAlive) + '\n'));
        BrokerSubscriber subscriber(broker.settings(), base + u"/status"_s);
        QProcess panel;
        panel.setProcessEnvironment(home.environment());
        panel.setProcessChannelMode(QProcess::MergedChannels);
        panel.start(QStringLiteral(KORVAN_EXECUTABLE),
                    {u"--log-file"_s, home.filePath(u"history.log"_s)});
        QVERIFY2(subscriber.waitFor(base + u"/status"_s, "online", 60000),
                 panel.readAll().constData());
        QElapsedTimer clock;
        clock.start();
        if (ending == Ending::Killed)
            panel.kill();
        else
            panel.terminate();
        QVERIFY(panel.waitForFinished(30000));
        QVERIFY(subscriber.waitFor(base + u"/status"_s, "offline", 60000));
        qInfo("%s: offline %lld ms after the signal (keep-alive %d s)", QTest::currentDataTag(),
              static_cast<long long>(clock.elapsed()), keepAlive);
    }

    // A broker that comes back empty gets the whole state again, the latest values included.
    void brokerRestarts()
    {
        if (!OwnBroker)
            QSKIP(NeedsOwnBroker);
        BrokerProcess broker;
        QVERIFY(broker.start());
        const QString base = u"korvan/restart"_s;
        ConnectedPanel panel;
        PlantPublisher publisher(broker.settings(base), *panel.form);
        QVERIFY(panel.startConnected() && panel.identify(panel.peer));
        {
            BrokerSubscriber before(broker.settings(), base + u"/#"_s);
            QVERIFY(before.waitFor(base + u"/link"_s, "up"));
        }
        broker.kill();
        QVERIFY(BrokerHistory::says(u"connection to unix:"_s));
        panel.press(13);
        QCOMPARE(panel.peer.waitForLine(), QByteArray("000001000000000000000000F"));
        panel.peer.send("10000000");
        QVERIFY(panel.arrived("10000000"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(broker.restart());
        BrokerSubscriber after(broker.settings(), base + u"/#"_s);
        QVERIFY(waitUntil([&] { return showsWindow(after, base, *panel.form); }, 70000));
        QCOMPARE(after.latest(base + u"/outputs/O13"_s), QByteArray("1"));
        QCOMPARE(after.latest(base + u"/inputs/I8"_s), QByteArray("1"));
        QCOMPARE(after.latest(base + u"/status"_s), QByteArray("online"));
        qInfo("broker restart: whole state back %lld ms after the broker started",
              static_cast<long long>(clock.elapsed()));
        // The frame press while the broker was away is an event it never got: counted.
        const auto lost = after.waitForEvent(base + u"/event"_s, u"events not published"_s);
        QVERIFY(lost);
        QVERIFY(lost->value(u"count"_s).toInt() >= 1);
        QVERIFY(BrokerHistory::says(u"could not be published"_s));
    }

    // No broker at start-up: the panel works, and connects once the broker is there.
    void noBrokerAtStart()
    {
        if (!OwnBroker)
            QSKIP(NeedsOwnBroker);
        BrokerProcess broker;
        const QString base = u"korvan/late"_s;
        ConnectedPanel panel;
        PlantPublisher publisher(broker.settings(base), *panel.form);
        QVERIFY(panel.startConnected() && panel.identify(panel.peer));
        panel.press(13);
        QCOMPARE(panel.peer.waitForLine(), QByteArray("000001000000000000000000F"));
        QVERIFY(BrokerHistory::says(u"cannot connect to unix:"_s));
        QVERIFY(broker.start());
        BrokerSubscriber subscriber(broker.settings(), base + u"/#"_s);
        QVERIFY(subscriber.waitFor(base + u"/status"_s, "online", 70000));
        QVERIFY(waitUntil([&] { return showsWindow(subscriber, base, *panel.form); }, 20000));
    }

    // mqtts: the broker's certificate and its host name verified, a client certificate given.
    void tls_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<Ca>("ca");
        QTest::addColumn<bool>("clientCertificate");
        QTest::addColumn<bool>("required");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("good CA") << u"localhost"_s << Ca::Good << false << false << QString();
        QTest::newRow("wrong CA") << u"localhost"_s << Ca::Wrong << false << false
                                  << u"not signed by a trusted CA"_s;
        QTest::newRow("wrong host name")
            << u"127.0.0.1"_s << Ca::Good << false << false << u"is not for host 127.0.0.1"_s;
        QTest::newRow("client certificate where one is required")
            << u"localhost"_s << Ca::Good << true << true << QString();
        QTest::newRow("no client certificate where one is required")
            << u"localhost"_s << Ca::Good << false << true << u"cannot connect to mqtts"_s;
    }
    void tls()
    {
        QFETCH(QString, host);
        QFETCH(Ca, ca);
        QFETCH(bool, clientCertificate);
        QFETCH(bool, required);
        QFETCH(QString, refusal);
        BrokerProcess broker;
        QVERIFY(broker.start(tlsOptions(required)));
        const QString base = freshTopic(u"korvan/tls"_s);
        BrokerSettings settings = broker.settings(base);
        settings.host = host;
        settings.port = broker.tlsPort();
        settings.tls = true;
        settings.caFile = file(ca == Ca::Good ? "ca.crt" : "other-ca.crt");
        if (clientCertificate) {
            settings.certFile = file("client.crt");
            settings.keyFile = file("client.key");
        }
        BrokerSubscriber subscriber(broker.settings(), base + u"/status"_s);
        ConnectedPanel panel;
        PlantPublisher publisher(settings, *panel.form);
        if (refusal.isEmpty()) {
            QVERIFY2(subscriber.waitFor(base + u"/status"_s, "online"),
                     qPrintable(BrokerHistory::text()));
        } else {
            QVERIFY2(BrokerHistory::says(refusal), qPrintable(BrokerHistory::text()));
            QVERIFY(!subscriber.latest(base + u"/status"_s));
        }
        qInfo("%s", qPrintable(BrokerHistory::text()));
    }

    // A user and password under an ACL: refusals in the history, and the panel goes on.
    void authentication_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("said");
        QTest::newRow("wrong password")
            << u"wrong"_s << u"korvan/panel/"_s << u"refused: authentication failed"_s;
        QTest::newRow("denied topic") << QString::fromLatin1(BrokerProcess::Password)
                                      << u"korvan/other"_s << u"the broker refused korvan/other"_s;
    }
    void authentication()
    {
        QFETCH(QString, password);
        QFETCH(QString, topic);
        QFETCH(QString, said);
        BrokerProcess::Options options;
        options.users = true;
        BrokerProcess broker;
        QVERIFY(broker.start(options));
        BrokerSettings settings = broker.settings(freshTopic(topic));
        settings.username = QString::fromLatin1(BrokerProcess::User);
        settings.password = password;
        ConnectedPanel panel;
        PlantPublisher publisher(settings, *panel.form);
        QVERIFY2(BrokerHistory::says(said), qPrintable(BrokerHistory::text()));
        QVERIFY(panel.startConnected() && panel.identify(panel.peer));
        panel.press(13);
        QCOMPARE(panel.peer.waitForLine(), QByteArray("000001000000000000000000F"));
    }

    // Input changes faster than anyone can use: the latest value wins, a topic at most
    // every 100 ms, and the subscriber ends with what the window shows.
    void inputFlood()
    {
        const int seconds = stressRun() ? 10 : 2;
        BrokerProcess broker;
        QVERIFY(broker.start());
        const QString base = freshTopic(u"korvan/flood"_s);
        BrokerSubscriber subscriber(broker.settings(), base + u"/#"_s);
        ConnectedPanel panel;
        PlantPublisher publisher(broker.settings(base), *panel.form);
        QVERIFY(subscriber.waitFor(base + u"/status"_s, "online"));
        QVERIFY(panel.startListening());
        int changes = 0;
        connect(panel.ui().I[0], &ShapeControl::backColorChanged, this, [&] { ++changes; });
        const qint64 before = residentKilobytes();
        const qsizetype messagesBefore = subscriber.count(base + u"/inputs/I1"_s);
        std::atomic<bool> connected {false};
        // Its own thread and a blocking socket: 10,000 texts a second, each its own segment.
        std::thread controller([port = panel.port(), seconds, &connected] {
            QTcpSocket socket;
            socket.setProxy(QNetworkProxy::NoProxy);
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (!socket.waitForConnected(10000))
                return;
            socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connected = true;
            using namespace std::chrono;
            auto next = steady_clock::now();
            const auto end = next + std::chrono::seconds(seconds);
            for (qint64 i = 0; next < end; ++i, next += microseconds(100)) {
                socket.write(i % 2 ? "00000000" : "00000001");
                socket.waitForBytesWritten(1000);
                std::this_thread::sleep_until(next);
            }
            // Alone in its segment, so the window's last text is this one.
            std::this_thread::sleep_for(milliseconds(300));
            socket.write("00000101");
            socket.waitForBytesWritten(1000);
            socket.waitForReadyRead(500);
        });
        const auto joined = qScopeGuard([&] { controller.join(); });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(waitUntil([&] { return panel.ui().Label3->text() == u"00000101"; },
                          (seconds + 60) * 1000));
        const qint64 floodMs = clock.elapsed();
        QVERIFY(connected);
        QVERIFY(waitUntil([&] { return showsWindow(subscriber, base, *panel.form); }, 20000));
        QCOMPARE(subscriber.latest(base + u"/inputs/I1"_s), QByteArray("1"));
        QCOMPARE(subscriber.latest(base + u"/inputs/I3"_s), QByteArray("1"));
        const qsizetype messages = subscriber.count(base + u"/inputs/I1"_s) - messagesBefore;
        // One message per 100 ms at most, the last value besides.
        QVERIFY2(messages <= floodMs / BrokerLink::MinGapMs + 2,
                 qPrintable(u"%1 messages in %2 ms"_s.arg(messages).arg(floodMs)));
        qInfo("input flood: %d changes of I1 in %lld ms, %lld messages on inputs/I1; resident "
              "memory %lld kB before, %lld kB after",
              changes, static_cast<long long>(floodMs), static_cast<long long>(messages),
              static_cast<long long>(before), static_cast<long long>(residentKilobytes()));
    }

    // The window never waits for the broker: a silent one, or a name that does not resolve.
    void unresponsiveBroker_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("broker accepts and never answers") << true;
        QTest::newRow("host name that does not resolve") << false;
    }
    void unresponsiveBroker()
    {
        QFETCH(bool, silent);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        BrokerSettings settings;
        settings.host = silent ? u"127.0.0.1"_s : u"korvan-broker.invalid"_s;
        settings.port = silent ? server.serverPort() : 1883;
        settings.topic = u"korvan/silent"_s;
        settings.clientId = u"panel-silent"_s;
        settings.keepAliveSeconds = 3600;
        ConnectedPanel panel;
        PlantPublisher publisher(settings, *panel.form);
        QVERIFY(panel.startConnected() && panel.identify(panel.peer));
        if (silent)
            QVERIFY(waitUntil([&] { return server.hasPendingConnections(); }, 20000));
        QElapsedTimer clock;
        qint64 slowest = 0;
        for (int press = 0; press < 20; ++press) {
            clock.start();
            panel.press(13);
            QVERIFY(!panel.peer.waitForLine().isEmpty());
            slowest = std::max(slowest, clock.nsecsElapsed() / 1000);
        }
        qInfo("%s: slowest of 20 presses framed in %lld us", QTest::currentDataTag(),
              static_cast<long long>(slowest));
        if (!silent)
            QVERIFY(BrokerHistory::says(u"does not resolve"_s));
    }

    // make stress: twenty panels, each with its own korvan-sim on its own loopback address
    // and its own base topic, on one broker; every panel's topics end as its window shows.
    void twentyPanels()
    {
        if (!stressRun())
            QSKIP("twenty panels on one broker run under make stress");
        if (!OwnBroker)
            QSKIP(NeedsOwnBroker);
        constexpr int Panels = 20;
        BrokerProcess broker;
        QVERIFY(broker.start());
        BrokerSubscriber subscriber(broker.settings(), u"korvan/#"_s);
        std::vector<std::unique_ptr<ConnectedPanel>> panels;
        std::vector<std::unique_ptr<PlantPublisher>> publishers;
        std::vector<std::unique_ptr<QProcess>> simulators;
        for (int i = 1; i <= Panels; ++i) {
            auto &panel = panels.emplace_back(std::make_unique<ConnectedPanel>());
            const QString address = u"127.0.1.%1"_s.arg(i);
            panel->ui().Winsock1->setListenAddress(QHostAddress(address));
            publishers.push_back(std::make_unique<PlantPublisher>(
                broker.settings(u"korvan/panel%1"_s.arg(i)), *panel->form));
            QVERIFY(panel->startListening());
            auto &simulator = simulators.emplace_back(std::make_unique<QProcess>());
            simulator->start(QStringLiteral(KORVAN_SIM),
                             {u"--host"_s, address, u"--port"_s, QString::number(panel->port()),
                              u"--send"_s, u"in %1=on"_s.arg((i - 1) % 8 + 1), u"--send"_s,
                              u"in %1=on"_s.arg((i + 2) % 8 + 1), u"--timeout"_s, u"60"_s});
        }
        // The panels take the simulators' connections meanwhile: the event loop runs.
        QVERIFY(waitUntil(
            [&] {
                return std::all_of(simulators.cbegin(), simulators.cend(), [](const auto &s) {
                    return s->state() == QProcess::NotRunning;
                });
            },
            120000));
        for (const auto &simulator : simulators)
            QCOMPARE(simulator->exitCode(), 0);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < Panels; ++i) {
            const QString base = u"korvan/panel%1"_s.arg(i + 1);
            QVERIFY2(
                waitUntil([&] { return showsWindow(subscriber, base, *panels[size_t(i)]->form); },
                          60000),
                qPrintable(base));
            QCOMPARE(subscriber.latest(base + u"/status"_s), QByteArray("online"));
        }
        qInfo("twenty panels: every base topic shows its window %lld ms after the last "
              "simulator ended; %lld messages in all",
              static_cast<long long>(clock.elapsed()),
              static_cast<long long>(subscriber.messages().size()));
    }

private:
    QString file(const char *name) const
    {
#ifdef Q_OS_WIN
        return BrokerProcess::certificates() + u'/' + QLatin1String(name);
#else
        return m_certificates.filePath(QLatin1String(name));
#endif
    }

    // Each row's own base topic: under Wine the rows share a broker and its retained topics.
    QString freshTopic(const QString &base)
    {
        return base + QString::number(++m_rows);
    }

    BrokerProcess::Options tlsOptions(bool requireCertificate) const
    {
        BrokerProcess::Options options;
        options.caFile = file("ca.crt");
        options.certFile = file("server.crt");
        options.keyFile = file("server.key");
        options.requireCertificate = requireCertificate;
        return options;
    }

    // A CA, another CA the panel must not trust, a server certificate for localhost and a
    // client certificate, all signed for this run only.
    void makeCertificates()
    {
        const QString folder = m_certificates.path();
        const auto openssl = [&](const QStringList &arguments) {
            return run(u"openssl"_s, arguments, folder);
        };
        for (const QString &ca : {u"ca"_s, u"other-ca"_s}) {
            QVERIFY(openssl({u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s,
                             u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=Korvan test "_s + ca,
                             u"-keyout"_s, ca + u".key"_s, u"-out"_s, ca + u".crt"_s}));
        }
        QVERIFY(
            writeFile(m_certificates.filePath(u"server.ext"_s), "subjectAltName=DNS:localhost\n"));
        for (const QString &name : {u"server"_s, u"client"_s}) {
            QVERIFY(openssl({u"req"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-subj"_s,
                             name == u"server" ? u"/CN=localhost"_s : u"/CN=panel"_s, u"-keyout"_s,
                             name + u".key"_s, u"-out"_s, name + u".csr"_s}));
            QStringList sign {
                u"x509"_s,   u"-req"_s,   u"-in"_s,        name + u".csr"_s,     u"-CA"_s,
                u"ca.crt"_s, u"-CAkey"_s, u"ca.key"_s,     u"-CAcreateserial"_s, u"-days"_s,
                u"2"_s,      u"-out"_s,   name + u".crt"_s};
            if (name == u"server")
                sign << u"-extfile"_s << u"server.ext"_s;
            QVERIFY(openssl(sign));
        }
    }

    QTemporaryDir m_certificates;
    int m_rows = 0;
};

QTEST_MAIN(TestPublisher)
#include "tst_publisher.moc"
