#pragma once

#include <QHash>
#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QTimer>

#include <chrono>

// One kind of history line that a storm could repeat without end: refused connections, input
// changes. The first lines of a burst are written as they come; after that the events are
// counted and summarised once an interval while the burst goes on, so that the capped history
// keeps what came before the storm. An interval with no event ends the burst; written lines
// and summarised counts always add up to the events.
class HistoryBurst
{
public:
    // What a summary names besides the count: the sources with their counts (the busiest
    // first), or the last event's own line.
    enum class Detail { Sources, LastEvent };

    static constexpr int FirstLines = 10;
    static constexpr int NamedSources = 5;

    HistoryBurst(QMessageLogger::CategoryFunction category, QString kind, Detail detail,
                 std::chrono::milliseconds interval = std::chrono::seconds(1));
    // What is still counted is written, so that the last event is never lost.
    ~HistoryBurst();
    HistoryBurst(const HistoryBurst &) = delete;
    HistoryBurst &operator=(const HistoryBurst &) = delete;

    // One event: its own line early in a burst, later a count under its source.
    void add(const QString &line, const QString &source = {});
    bool bursting() const { return m_timer.isActive(); }
    // Writes what is counted now, so that the summary comes before a line it must precede.
    void summarise();

private:
    void tick();

    QMessageLogger::CategoryFunction m_category;
    QString m_kind;
    Detail m_detail;
    QTimer m_timer;
    int m_linesWritten = 0;
    bool m_eventSinceTick = false;
    qint64 m_counted = 0;
    // Counts by source in the order first seen; the index finds a source's entry.
    QList<std::pair<QString, qint64>> m_sources;
    QHash<QString, qsizetype> m_sourceIndex;
    QString m_lastLine;
};
