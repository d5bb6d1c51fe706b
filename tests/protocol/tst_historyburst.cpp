#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTest>

#include <memory>

#include "historyburst.h"
#include "waituntil.h"

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

using Bursts = QList<QStringList>;

// Outside korvan.*, which the suite silences.
Q_LOGGING_CATEGORY(lcBurstTest, "burst.test")

namespace {

QStringList written;
QtMessageHandler testOutput = nullptr;

// The test's category into a list, the rest (the figures) to the test's own output.
void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, "burst.test") == 0)
        written << message;
    else
        testOutput(type, context, message);
}

} // namespace

// How a row's last burst comes to an end.
enum class End { Quiet, Destroyed };
Q_DECLARE_METATYPE(End)

// Events are added without the event loop running, so no interval passes inside a burst
// unless the row waits for it: every row's lines are exact.
class TestHistoryBurst : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        written.clear();
        testOutput = qInstallMessageHandler(collect);
    }
    void cleanup() { qInstallMessageHandler(testOutput); }

    void burst_data()
    {
        QTest::addColumn<HistoryBurst::Detail>("detail");
        // The sources of each burst's events; a quiet interval between bursts.
        QTest::addColumn<Bursts>("bursts");
        QTest::addColumn<End>("end");
        QTest::addColumn<QStringList>("expected");
        const auto times = [](int n, const QString &source) {
            return QStringList(n, source);
        };
        const auto lines = [](int first, int last, const QString &source) {
            QStringList numbered;
            for (int n = first; n <= last; ++n)
                numbered << u"event %1 from %2"_s.arg(n).arg(source);
            return numbered;
        };
        using D = HistoryBurst::Detail;
        QTest::newRow("fewer than the first lines")
            << D::Sources << Bursts {times(3, u"a"_s)} << End::Quiet << lines(1, 3, u"a"_s);
        QTest::newRow("one source, ended by quiet")
            << D::Sources << Bursts {times(25, u"a"_s)} << End::Quiet
            << lines(1, 10, u"a"_s) + QStringList {u"test events: 15 more, from a (15)"_s};
        QTest::newRow("the busiest sources named, the rest counted")
            << D::Sources
            << Bursts {times(10, u"x"_s) + u"a b c d b f e c d f g b d f f"_s.split(u' ')}
            << End::Quiet
            << lines(1, 10, u"x"_s)
                + QStringList {u"test events: 15 more, from f (4), b (3), d (3), c (2), a (1) "
                               u"and 2 others (2)"_s};
        QTest::newRow("the last event, when the owner goes")
            << D::LastEvent << Bursts {times(12, u"a"_s)} << End::Destroyed
            << lines(1, 10, u"a"_s) + QStringList {u"test events: 2 more, last event 12 from a"_s};
        QTest::newRow("after a quiet interval, a new burst")
            << D::LastEvent << Bursts {times(12, u"a"_s), times(11, u"b"_s)} << End::Quiet
            << lines(1, 10, u"a"_s) + QStringList {u"test events: 2 more, last event 12 from a"_s}
                + lines(13, 22, u"b"_s)
                + QStringList {u"test events: 1 more, last event 23 from b"_s};
        QTest::newRow("a burst of just the first lines, then another")
            << D::LastEvent << Bursts {times(10, u"a"_s), times(11, u"b"_s)} << End::Destroyed
            << lines(1, 10, u"a"_s) + lines(11, 20, u"b"_s)
                + QStringList {u"test events: 1 more, last event 21 from b"_s};
    }
    void burst()
    {
        QFETCH(HistoryBurst::Detail, detail);
        QFETCH(Bursts, bursts);
        QFETCH(End, end);
        QFETCH(QStringList, expected);
        auto burst = std::make_unique<HistoryBurst>(lcBurstTest, u"test events"_s, detail, 20ms);
        int n = 0;
        for (const QStringList &sources : bursts) {
            QVERIFY(waitUntil([&] { return !burst->bursting(); }, 10000));
            for (const QString &source : sources)
                burst->add(u"event %1 from %2"_s.arg(++n).arg(source), source);
        }
        if (end == End::Quiet)
            QVERIFY(waitUntil([&] { return !burst->bursting(); }, 10000));
        burst.reset();
        QCOMPARE(written, expected);
    }

    // A burst that goes on across intervals is summarised as it goes, and still adds up.
    void longBurstAddsUp()
    {
        HistoryBurst burst(lcBurstTest, u"test events"_s, HistoryBurst::Detail::Sources, 20ms);
        const QRegularExpression summary(u"^test events: (\\d+) more, from "_s);
        qint64 events = 0, summarised = 0;
        qsizetype summaries = 0;
        // One pass of the loop between events fires the timer at most once: an interval
        // always has an event, so the burst never ends inside this loop.
        while (summaries < 3) {
            burst.add(u"event"_s, QString::number(events++ % 300));
            QCoreApplication::processEvents();
            summaries = written.filter(summary).size();
        }
        QVERIFY(waitUntil([&] { return !burst.bursting(); }, 10000));
        for (const QString &line : std::as_const(written))
            summarised += summary.match(line).captured(1).toLongLong();
        const qsizetype lines = written.count(u"event"_s);
        qInfo("long burst: %lld events, %lld written as they came, %lld in %lld summaries", events,
              qint64(lines), summarised, qint64(written.size() - lines));
        QCOMPARE(lines, HistoryBurst::FirstLines);
        QCOMPARE(lines + summarised, events);
    }
};

QTEST_MAIN(TestHistoryBurst)
#include "tst_historyburst.moc"
