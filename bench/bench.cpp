// make bench: the panel's figures, each beside a baseline measured in the same run.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "controllerthread.h"
#include "form1.h"
#include "historysink.h"
#include "inboundtext.h"
#include "panelrun.h"
#include "shapecontrol.h"

namespace {

// The benchmarks' shared steps, and the clock they all read.
using namespace PanelRun;

constexpr int ThroughputMs = 2000;
constexpr int StartupRuns = 9;
constexpr int IdleSeconds = 10;

struct Row
{
    QString figure;
    QString korvan;
    QString baseline;
    QString ratio;
    QString target;
    bool met;
};
std::vector<Row> rows;

void addRow(const char *figure, double value, double base, const char *unit, int decimals,
            const QString &target, bool met)
{
    auto fmt = [&](double v) -> QString {
        return QString::number(v, 'f', decimals) + QLatin1String(unit);
    };
    rows.push_back({QLatin1String(figure), fmt(value), fmt(base),
                    base > 0 ? QString(QString::number(value / base, 'f', 2) + QLatin1Char('x'))
                             : QStringLiteral("-"),
                    target, met});
}

// Every output button of the panel, in the order the presses visit them.
QList<QPushButton *> outputButtons(Form1 &form)
{
    QList<QPushButton *> buttons;
    for (const auto &section : form.controls().S)
        buttons.append(QList<QPushButton *>(section.cbegin(), section.cend()));
    return buttons;
}

// Press -> frame: a mouse click on an output button until the controller thread has the
// frame's 27th byte.
std::vector<double> panelPressLatencies()
{
    Form1 form(0);
    const auto controller = PanelRun::letControllerIn(form, ControllerThread::Mode::TimeFrames);
    const QList<QPushButton *> buttons = outputButtons(form);
    const auto press = [&buttons](int i) {
        QTest::mouseClick(buttons.at(i % buttons.size()), Qt::LeftButton);
    };
    // Repaints and the rest of the turn happen between presses, as they would.
    return PanelRun::timePresses(*controller, WarmUpPresses, Presses, press,
                                 [](int, Clock::time_point) { QCoreApplication::processEvents(); });
}

// The baseline: the same 27 bytes written by a plain socket, each timed to its arrival.
std::vector<double> baselinePressLatencies()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    ControllerThread controller(server.serverPort(), ControllerThread::Mode::TimeFrames);
    server.waitForNewConnection(5000);
    QTcpSocket *sender = server.nextPendingConnection();
    sender->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    controller.waitConnected(5000);
    const QByteArray frame = QByteArrayLiteral("0000000000000000000000000\r\n");
    const auto send = [sender, &frame](int) {
        sender->write(frame);
        sender->flush();
    };
    return PanelRun::timePresses(controller, WarmUpPresses, Presses, send,
                                 [](int, Clock::time_point) { QCoreApplication::processEvents(); });
}

// The same presses with the history kept, as the program keeps it: one line each.
std::vector<double> historyPressLatencies()
{
    QTemporaryDir historyDir;
    HistorySink::Options options;
    options.path = historyDir.filePath(QStringLiteral("history.log"));
    std::vector<double> kept;
    {
        HistorySink history(options);
        history.install();
        QLoggingCategory::setFilterRules(QString());
        kept = panelPressLatencies();
        QLoggingCategory::setFilterRules(WithoutHistory);
    }
    say(QStringLiteral("  history: %1 bytes written; capped at %2 x %3 KiB")
            .arg(QFileInfo(options.path).size())
            .arg(options.oldFiles + 1)
            .arg(options.fileBytes / 1024));
    return kept;
}

void measurePressLatency()
{
    say(QStringLiteral("press -> frame latency (%1 presses)...").arg(Presses));
    const std::vector<double> panel = panelPressLatencies();
    const std::vector<double> base = baselinePressLatencies();
    const double med = percentile(panel, 0.5), p99 = percentile(panel, 0.99);
    addRow("press -> frame, median", med, percentile(base, 0.5), " us", 1,
           QStringLiteral("< 300 us"), med < 300);
    addRow("press -> frame, p99", p99, percentile(base, 0.99), " us", 1,
           QStringLiteral("< 1000 us"), p99 < 1000);

    say(QStringLiteral("press -> frame latency with the history (%1 presses)...").arg(Presses));
    const std::vector<double> kept = historyPressLatencies();
    const double keptMed = percentile(kept, 0.5), keptP99 = percentile(kept, 0.99);
    addRow("press -> frame, median, history", keptMed, med, " us", 1,
           QStringLiteral("<= 1.2x without"), keptMed <= 1.2 * med);
    addRow("press -> frame, p99, history", keptP99, p99, " us", 1,
           QStringLiteral("<= 1.2x without"), keptP99 <= 1.2 * p99);
}

// The socket's events are queued calls to it: the handler's time runs from that call's
// delivery to the end of the panel's own slot, which runs first.
struct DeliveryWatch : QObject
{
    Clock::time_point delivered;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::MetaCall)
            delivered = Clock::now();
        return false;
    }
};

struct InboundFigures
{
    qint64 arrivals = 0;
    qint64 wrongIndicators = 0;
    double handlerUs = 0;
    qint64 textsSent = 0;
};

// Counts the arrivals, and those that left the indicators not showing what they said.
void watchArrivals(Form1 &form, const DeliveryWatch &watch, InboundFigures &figures)
{
    QObject::connect(form.controls().Winsock1, &SocketControl::dataArrival, &form,
                     [&form, &watch, &figures](qint32) {
                         figures.handlerUs += micros(Clock::now() - watch.delivered);
                         ++figures.arrivals;
                         const QString &text = form.state().ReceivedText;
                         for (int k : {1, 8}) {
                             const auto colour = Inbound::indicatorColour(
                                 Inbound::stateOf(Inbound::inputChar(text, k)));
                             if (colour && form.controls().I[size_t(k - 1)]->backColor() != *colour)
                                 ++figures.wrongIndicators;
                         }
                     });
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Inbound: the controller sends input texts as fast as it can for a while.
InboundFigures panelInbound()
{
    InboundFigures figures;
    Form1 form(0);
    const quint16 port = PanelRun::startPanel(form);
    SocketControl *socket = form.controls().Winsock1;
    DeliveryWatch watch;
    socket->installEventFilter(&watch);
    watchArrivals(form, watch, figures);
    ControllerThread controller(port, ControllerThread::Mode::Blast);
    controller.waitConnected(5000);
    PanelRun::waitConnected(form);
    figures.arrivals = 0;
    figures.handlerUs = 0;
    runFor(ThroughputMs);
    figures.textsSent = controller.textsSent();
    controller.stop();
    socket->removeEventFilter(&watch);
    return figures;
}

// The baseline: the same texts read by a plain socket.
qint64 baselineInbound()
{
    qint64 arrivals = 0;
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    ControllerThread controller(server.serverPort(), ControllerThread::Mode::Blast);
    server.waitForNewConnection(5000);
    QTcpSocket *reader = server.nextPendingConnection();
    QObject::connect(reader, &QTcpSocket::readyRead, reader, [&] {
        reader->readAll();
        ++arrivals;
    });
    controller.waitConnected(5000);
    runFor(ThroughputMs);
    controller.stop();
    return arrivals;
}

void measureInbound()
{
    say(QStringLiteral("inbound throughput (%1 ms each)...").arg(ThroughputMs));
    const InboundFigures panel = panelInbound();
    const double seconds = ThroughputMs / 1000.0;
    const double rate = double(panel.arrivals) / seconds;
    const double baseRate = double(baselineInbound()) / seconds;
    addRow("inbound arrivals handled", rate / 1000, baseRate / 1000, " k/s", 1,
           QStringLiteral(">= 100 k/s"), rate >= 100000);
    const double perArrival = panel.arrivals ? panel.handlerUs / double(panel.arrivals) : 0;
    rows.push_back({QStringLiteral("handler cost per arrival"),
                    QString::number(perArrival, 'f', 2) + QStringLiteral(" us"),
                    QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("< 10 us"),
                    perArrival < 10});
    say(QStringLiteral("  controller sent %1 texts (%2 k/s); %3 arrivals; %4 with indicators "
                       "not matching their text")
            .arg(panel.textsSent)
            .arg(double(panel.textsSent) / seconds / 1000, 0, 'f', 0)
            .arg(panel.arrivals)
            .arg(panel.wrongIndicators));
}

struct Launch
{
    double startupMs = 0;
    double rssKb = 0;
};

Launch launchOnce(const QString &program)
{
    QProcess process;
    process.setProgram(program);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const auto started = Clock::now();
    process.start();
    if (!process.waitForFinished(20000))
        qFatal("%s did not report its window", qPrintable(program));
    const QList<QByteArray> fields = process.readAllStandardOutput().simplified().split(' ');
    if (fields.size() < 4 || fields.at(0) != "shown_ns")
        qFatal("%s: unexpected report", qPrintable(program));
    const Clock::time_point shown {std::chrono::nanoseconds(fields.at(1).toLongLong())};
    return {micros(shown - started) / 1000, fields.at(3).toDouble()};
}

void measureStartup(const QString &panel, const QString &plain)
{
    say(QStringLiteral("start-up (%1 runs each)...").arg(StartupRuns));
    launchOnce(panel); // warm the file and font caches for both
    launchOnce(plain);
    std::vector<double> pt, pr, bt, br;
    for (int i = 0; i < StartupRuns; ++i) {
        const Launch p = launchOnce(panel);
        const Launch b = launchOnce(plain);
        pt.push_back(p.startupMs);
        pr.push_back(p.rssKb);
        bt.push_back(b.startupMs);
        br.push_back(b.rssKb);
    }
    const double t = percentile(pt, 0.5), tb = percentile(bt, 0.5);
    const double r = percentile(pr, 0.5) / 1024, rb = percentile(br, 0.5) / 1024;
    addRow("start-up to window shown, median", t, tb, " ms", 1, QStringLiteral("<= 1.3x plain"),
           t <= 1.3 * tb);
    addRow("resident memory after start-up", r, rb, " MiB", 1, QStringLiteral("<= 1.3x plain"),
           r <= 1.3 * rb);
}

void measureIdle(const QString &panel, const QString &plain)
{
    say(QStringLiteral("idle CPU over %1 s, supervision on, controller connected...")
            .arg(IdleSeconds));
    QProcess p, b;
    for (QProcess *process : {&p, &b})
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(panel, {QStringLiteral("idle"), QString::number(IdleSeconds)});
    b.start(plain, {QStringLiteral("idle"), QString::number(IdleSeconds)});
    if (!p.waitForReadyRead(10000))
        qFatal("the panel did not start listening");
    const QByteArray portLine = p.readLine().trimmed();
    QTcpSocket controller;
    controller.connectToHost(QHostAddress::LocalHost, portLine.mid(5).toUShort());
    if (!controller.waitForConnected(5000))
        qFatal("could not connect to the idle panel");
    controller.write("STEROWNIK");
    controller.flush();
    controller.waitForBytesWritten(1000);
    auto cpuPercent = [](QProcess &process) {
        if (!process.waitForFinished((IdleSeconds + 15) * 1000))
            qFatal("idle run did not finish");
        const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() == 4 && f.at(0) == "cpu_ns")
                return 100.0 * f.at(1).toDouble() / f.at(3).toDouble();
        }
        qFatal("idle run gave no figure");
    };
    const double pc = cpuPercent(p);
    const double bc = cpuPercent(b);
    addRow("idle CPU, % of one core", pc, bc, " %", 4, QStringLiteral("< 0.05 %"), pc < 0.05);
}

void printTable(double totalSeconds)
{
    const int w[] = {34, 12, 12, 8, 14};
    auto line = [&](const QString &a, const QString &b, const QString &c, const QString &d,
                    const QString &e, const QString &f) {
        std::printf("%s %s %s %s %s %s\n", qPrintable(a.leftJustified(w[0])),
                    qPrintable(b.rightJustified(w[1])), qPrintable(c.rightJustified(w[2])),
                    qPrintable(d.rightJustified(w[3])), qPrintable(e.leftJustified(w[4])),
                    qPrintable(f));
    };
    std::printf("\n");
    line(QStringLiteral("Figure"), QStringLiteral("Korvan"), QStringLiteral("Baseline"),
         QStringLiteral("Ratio"), QStringLiteral("  Aim"), QStringLiteral("Met"));
    line(QString(w[0], u'-'), QString(w[1], u'-'), QString(w[2], u'-'), QString(w[3], u'-'),
         QString(w[4], u'-'), QStringLiteral("---"));
    for (const Row &r : rows)
        line(r.figure, r.korvan, r.baseline, r.ratio, QStringLiteral("  ") + r.target,
             r.met ? QStringLiteral("yes") : QStringLiteral("NO"));
    std::printf("\nBaselines: plain loopback sockets (latency, arrivals); the same window built "
                "from stock Qt widgets,\nwith the panel's texts, fonts and timers (start-up, "
                "memory, idle). Aims not met say NO.\nMeasured in %.0f s on %d cores.\n",
                totalSeconds, QThread::idealThreadCount());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir runtimeDir;
    PanelRun::useRuntimeFolder(runtimeDir);
    QApplication app(argc, argv);
    PanelRun::lookAsThePanel(WithoutHistory);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: korvan-bench PANEL-LAUNCHER PLAIN-WINDOW\n");
        return 2;
    }
    // A fourth argument runs one part alone, for profiling it.
    const QString only = args.value(3);
    auto wanted = [&only](const char *part) {
        return only.isEmpty() || only == QLatin1String(part);
    };
    QElapsedTimer total;
    total.start();
    if (wanted("latency"))
        measurePressLatency();
    if (wanted("inbound"))
        measureInbound();
    if (wanted("startup"))
        measureStartup(args.at(1), args.at(2));
    if (wanted("idle"))
        measureIdle(args.at(1), args.at(2));
    printTable(double(total.elapsed()) / 1000);
    return 0;
}
