#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <vector>

#include "connectedpanel.h"
#include "historysink.h"
#include "panelhome.h"
#include "stressrun.h"

using namespace Qt::StringLiterals;

enum class Flood { Strangers, Inputs };
Q_DECLARE_METATYPE(Flood)
using Floods = QList<Flood>;

// A storm of refused strangers and a controller flooding input changes, through the window
// into a real history with its cap: what was written before them stays, and the lines and
// summaries of each kind account for every event.
class TestHistoryStorm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_refused = m_changes = m_stormMs = m_floodMs = 0; }
    void keepsWhatCameBefore_data()
    {
        QTest::addColumn<Floods>("floods");
        QTest::newRow("stranger storm") << Floods {Flood::Strangers};
        QTest::newRow("input flood") << Floods {Flood::Inputs};
        QTest::newRow("stranger storm, then input flood")
            << Floods {Flood::Strangers, Flood::Inputs};
    }
    void keepsWhatCameBefore()
    {
        QFETCH(Floods, floods);
        const QTemporaryDir dir;
        QVERIFY(dir.isValid());
        HistorySink::Options options {.path = dir.filePath(u"history.log"_s), .warn = {}};
        // The real cap for the full storm; the everyday storm is smaller, and so is its cap.
        if (!stressRun())
            options.fileBytes = 16 * 1024;
        const qint64 cap = options.fileBytes * (options.oldFiles + 1);
        auto sink = std::make_unique<HistorySink>(options);
        sink->install();
        // Older history, about half of what the files hold.
        const QDateTime now = QDateTime::currentDateTime();
        for (qint64 bytes = 0, n = 1; bytes < cap / 2; ++n) {
            const QString text = u"older event %1"_s.arg(n);
            sink->append(QtInfoMsg, "korvan.test", text);
            bytes += HistorySink::formatLine(now, QtInfoMsg, "korvan.test", text).size();
            if (n % 1000 == 0)
                sink->flush(); // the writer's queue is not meant to hold a whole history
        }

        m_panel = std::make_unique<ConnectedPanel>();
        m_panel->ui().Winsock1->setAllowedPeers({{QHostAddress(QHostAddress::LocalHost), 32}});
        countEvents();
        // A session before the storm: the controller connects, identifies, an input and an
        // output change, and it leaves.
        QVERIFY(m_panel->startConnected() && m_panel->identify(m_panel->peer));
        QVERIFY(inputsShown("00000001"));
        m_panel->press(11);
        QCOMPARE(m_panel->peer.waitForLine(), QByteArray("000000010000000000000000F"));
        m_panel->peer.close();
        sink->flush();
        const QByteArray before = history(options);

        for (const Flood flood : floods) {
            if (flood == Flood::Strangers)
                strangerStorm();
            else
                inputFlood();
            if (QTest::currentTestFailed())
                return;
        }
        const QByteArray lastInputs = inputStates();
        m_panel.reset(); // what is still counted goes into the history now
        sink->flush();
        const QByteArray after = history(options);
        sink.reset();

        const QByteArrayList beforeLines = before.trimmed().split('\n');
        const QByteArrayList afterLines = after.trimmed().split('\n');
        const auto afterSet = QSet<QByteArray>(afterLines.cbegin(), afterLines.cend());
        const qsizetype kept
            = std::count_if(beforeLines.cbegin(), beforeLines.cend(),
                            [&](const QByteArray &l) { return afterSet.contains(l); });
        const Tally refused = tally(afterLines, m_refusedLine, m_refusedSummary);
        const Tally inputs = tally(afterLines, m_inputsLine, m_inputsSummary);
        if (floods.contains(Flood::Strangers))
            qInfo("history storm (%s): %lld refusals in %.1f s: %lld lines, %lld summaries",
                  QTest::currentDataTag(), m_refused, double(m_stormMs) / 1000, refused.lines,
                  refused.summaries);
        if (floods.contains(Flood::Inputs))
            qInfo("history storm (%s): %lld input changes in %.1f s: %lld lines, %lld summaries",
                  QTest::currentDataTag(), m_changes, double(m_floodMs) / 1000, inputs.lines,
                  inputs.summaries);
        qInfo("history storm (%s): %lld of %lld history lines from before kept; history "
              "%.2f MiB of %.2f MiB, where one line per event would have taken %.2f MiB",
              QTest::currentDataTag(), qint64(kept), qint64(beforeLines.size()),
              double(after.size()) / (1 << 20), double(cap) / (1 << 20),
              double(before.size() + refused.perEventBytes() * m_refused
                     + inputs.perEventBytes() * m_changes)
                  / (1 << 20));

        QVERIFY2(after.startsWith(before), "lines from before the storm are gone");
        QCOMPARE(refused.lines + refused.summarised, m_refused);
        QCOMPARE(inputs.lines + inputs.summarised, m_changes);
        QCOMPARE(refused.namedMismatch, 0); // each summary's own counts add up to its total
        QCOMPARE(inputs.last, lastInputs); // the window's last state is the history's last word
    }

private:
    struct Tally
    {
        qint64 lines = 0, lineBytes = 0, summaries = 0, summarised = 0, namedMismatch = 0;
        QByteArray last;
        qint64 perEventBytes() const { return lines > 0 ? lineBytes / lines : 0; }
    };

    // Every input change the window makes, seen right after its own handler.
    void countEvents()
    {
        SocketControl *socket = m_panel->ui().Winsock1;
        connect(socket, &SocketControl::strangerRefused, this, [this] { ++m_refused; });
        m_lastInputs = inputStates();
        connect(socket, &SocketControl::dataArrival, this, [this] {
            const QByteArray states = inputStates();
            m_changes += states != m_lastInputs;
            m_lastInputs = states;
        });
    }
    // As the history writes them, input 8 first: the controller sends only 0 and 1 here.
    QByteArray inputStates() const
    {
        QByteArray states = m_panel->lights().first(8);
        std::reverse(states.begin(), states.end());
        return states.replace('G', '1').replace('R', '0');
    }
    bool inputsShown(const QByteArray &text)
    {
        m_panel->peer.send(text);
        for (const QDeadlineTimer deadline(10000);
             m_panel->ui().Label3->text() != QLatin1String(text);) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    // Strangers from many loopback addresses, a batch at a time, each refused before the next
    // batch; the full storm is spread over a minute.
    void strangerStorm()
    {
        const qint64 total = stressRun() ? 50000 : 2000, addresses = stressRun() ? 250 : 20;
        QVERIFY(m_panel->waitForSocketState(SocketControl::sckListening));
        QElapsedTimer clock;
        clock.start();
        for (qint64 made = 0; made < total;) {
            if (stressRun() && made * 60000 > total * clock.elapsed()) {
                QTest::qWait(5);
                continue;
            }
            const qint64 target = m_refused + qMin<qint64>(20, total - made);
            std::vector<ControllerPeer> batch(size_t(target - m_refused));
            for (ControllerPeer &stranger : batch) {
                const QHostAddress from(quint32(0x7f000002 + made++ % addresses));
                QVERIFY(stranger.connectTo(m_panel->port(), 10000, from));
            }
            QVERIFY(waitUntil([&] { return m_refused >= target; }, 30000));
        }
        m_stormMs = clock.elapsed();
    }
    // A controller that changes its inputs as fast as the window takes them.
    void inputFlood()
    {
        QVERIFY(m_panel->waitForSocketState(SocketControl::sckListening));
        QVERIFY(m_panel->peer.connectTo(m_panel->port()) && m_panel->identify(m_panel->peer));
        QElapsedTimer clock;
        clock.start();
        for (int sent = 0; stressRun() ? clock.elapsed() < 30000 : sent < 1500; ++sent)
            QVERIFY(inputsShown(sent % 2 ? "00000001" : "00000010"));
        m_floodMs = clock.elapsed();
        m_panel->peer.close();
    }
    Tally tally(const QByteArrayList &lines, const QRegularExpression &line,
                const QRegularExpression &summary) const
    {
        Tally t;
        static const QRegularExpression count(u"\\((\\d+)\\)"_s);
        for (const QByteArray &bytes : lines) {
            const QString text = QString::fromUtf8(bytes);
            if (const QRegularExpressionMatch m = line.match(text); m.hasMatch()) {
                ++t.lines;
                t.lineBytes += bytes.size() + 1;
                t.last = m.captured(u"last").toLatin1();
            } else if (const QRegularExpressionMatch s = summary.match(text); s.hasMatch()) {
                ++t.summaries;
                const qint64 more = s.captured(u"more").toLongLong();
                t.summarised += more;
                t.last = s.captured(u"last").toLatin1();
                // "from A (n), B (m) and 3 others (k)": the counts of a summary add up.
                const QString named = s.captured(u"named");
                qint64 sum = 0;
                for (const QRegularExpressionMatch &c : count.globalMatch(named))
                    sum += c.captured(1).toLongLong();
                t.namedMismatch += !named.isNull() && sum != more;
            }
        }
        return t;
    }
    // All the files, oldest first.
    static QByteArray history(const HistorySink::Options &options)
    {
        QByteArray all;
        for (int n = options.oldFiles; n >= 0; --n)
            all += fileBytes(n > 0 ? options.path + u'.' + QString::number(n) : options.path);
        return all;
    }

    std::unique_ptr<ConnectedPanel> m_panel;
    QByteArray m_lastInputs;
    qint64 m_refused = 0, m_changes = 0, m_stormMs = 0, m_floodMs = 0;
    const QRegularExpression m_refusedLine {u" korvan\\.link: refused connection from \\S+$"_s};
    const QRegularExpression m_refusedSummary {
        u" korvan\\.link: refused connections: (?<more>\\d+) more, from (?<named>.*)$"_s};
    const QRegularExpression m_inputsLine {u" korvan\\.panel: inputs (?<last>\\d{8}) from "_s};
    const QRegularExpression m_inputsSummary {
        u" korvan\\.panel: input changes: (?<more>\\d+) more, "
        u"last inputs (?<last>\\d{8}) from "_s};
};

QTEST_MAIN(TestHistoryStorm)
#include "tst_historystorm.moc"
