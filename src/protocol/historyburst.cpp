#include "historyburst.h"

#include <algorithm>

HistoryBurst::HistoryBurst(QMessageLogger::CategoryFunction category, QString kind, Detail detail,
                           std::chrono::milliseconds interval)
    : m_category(category)
    , m_kind(std::move(kind))
    , m_detail(detail)
{
    m_timer.setInterval(interval);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
}

HistoryBurst::~HistoryBurst()
{
    summarise();
}

void HistoryBurst::add(const QString &line, const QString &source)
{
    if (!m_timer.isActive()) {
        m_linesWritten = 0;
        m_timer.start();
    }
    m_eventSinceTick = true;
    if (m_linesWritten < FirstLines) {
        ++m_linesWritten;
        qCInfo(m_category).noquote() << line;
        return;
    }
    ++m_counted;
    m_lastLine = line;
    if (m_detail != Detail::Sources)
        return;
    auto found = m_sourceIndex.constFind(source);
    if (found == m_sourceIndex.cend()) {
        found = m_sourceIndex.insert(source, m_sources.size());
        m_sources.append({source, 0});
    }
    ++m_sources[found.value()].second;
}

void HistoryBurst::tick()
{
    summarise();
    // A whole interval without an event: the next one starts a burst of its own.
    if (!m_eventSinceTick)
        m_timer.stop();
    m_eventSinceTick = false;
}

void HistoryBurst::summarise()
{
    if (m_counted == 0)
        return;
    QString text = QStringLiteral("%1: %2 more").arg(m_kind).arg(m_counted);
    if (m_detail == Detail::LastEvent) {
        text += QStringLiteral(", last ") + m_lastLine;
    } else {
        // The busiest sources by name, the rest as one count: a storm from many addresses
        // still makes one short line.
        std::stable_sort(m_sources.begin(), m_sources.end(),
                         [](const auto &a, const auto &b) { return a.second > b.second; });
        const qsizetype named = std::min<qsizetype>(m_sources.size(), NamedSources);
        QStringList parts;
        for (qsizetype i = 0; i < named; ++i)
            parts << QStringLiteral("%1 (%2)").arg(m_sources[i].first).arg(m_sources[i].second);
        text += QStringLiteral(", from ") + parts.join(QStringLiteral(", "));
        if (const qsizetype others = m_sources.size() - named; others > 0) {
            qint64 rest = 0;
            for (qsizetype i = named; i < m_sources.size(); ++i)
                rest += m_sources[i].second;
            text += QStringLiteral(" and %1 others (%2)").arg(others).arg(rest);
        }
    }
    qCInfo(m_category).noquote() << text;
    m_counted = 0;
    m_sources.clear();
    m_sourceIndex.clear();
    m_lastLine.clear();
}
