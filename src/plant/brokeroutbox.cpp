#include "brokeroutbox.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>

#include "inboundtext.h"
#include "outputframe.h"

namespace {
const QString StateTopic = QStringLiteral("state");
}

QStringList BrokerOutbox::retainedTopics()
{
    QStringList topics {QStringLiteral("link"), QStringLiteral("supervision")};
    for (int k = 1; k <= Inbound::InputCount; ++k)
        topics << inputTopic(k);
    for (int s = 1; s <= Output::Sections; ++s) {
        for (int n = 1; n <= Output::PerSection; ++n)
            topics << outputTopic(Output::designId(s, n));
    }
    return topics << StateTopic;
}

QString BrokerOutbox::inputTopic(int k)
{
    return QStringLiteral("inputs/I%1").arg(k);
}

QString BrokerOutbox::outputTopic(int designId)
{
    return QStringLiteral("outputs/O%1").arg(designId);
}

QString BrokerOutbox::now()
{
    return timeText(QDateTime::currentMSecsSinceEpoch());
}

QString BrokerOutbox::timeText(qint64 msecsSinceEpoch)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
    const int offset = time.offsetFromUtc() / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? u'-' : u'+')
        + QStringLiteral("%1:%2")
              .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
              .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}

bool BrokerOutbox::setValue(const QString &topic, const QByteArray &payload)
{
    {
        const std::lock_guard lock(m_mutex);
        QByteArray &kept = m_values[topic];
        if (kept == payload)
            return false;
        kept = payload;
        m_changed << topic << StateTopic;
    }
    return wake();
}

bool BrokerOutbox::setFrame(const QString &frame)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_frame == frame)
            return false;
        m_frame = frame;
        m_changed << StateTopic;
    }
    return wake();
}

bool BrokerOutbox::postEvent(const QByteArray &event)
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_connected || m_events.size() >= MaxQueuedEvents) {
            ++m_dropped;
            return false;
        }
        m_events << event;
    }
    return wake();
}

bool BrokerOutbox::wake()
{
    return !m_wakePending.exchange(true);
}

void BrokerOutbox::setConnected(bool connected)
{
    const std::lock_guard lock(m_mutex);
    m_connected = connected;
    // Whatever was waiting when the link went down never reaches the broker.
    if (!connected) {
        m_dropped += m_events.size();
        m_events.clear();
    }
}

QSet<QString> BrokerOutbox::takeChanged()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_changed, {});
}

QByteArray BrokerOutbox::payload(const QString &topic) const
{
    // The clock is read before the window's side is held up.
    const bool state = topic == StateTopic;
    const QString time = state ? now() : QString();
    const std::lock_guard lock(m_mutex);
    return state ? stateDocument(time) : m_values.value(topic);
}

QList<QByteArray> BrokerOutbox::takeEvents()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_events, {});
}

qint64 BrokerOutbox::takeDropped()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_dropped, 0);
}

QByteArray BrokerOutbox::stateDocument(const QString &time) const
{
    QJsonObject inputs;
    QJsonObject outputs;
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
        if (it.key().startsWith(QLatin1String("inputs/")))
            inputs.insert(it.key().mid(7), it.value().toInt());
        else if (it.key().startsWith(QLatin1String("outputs/")))
            outputs.insert(it.key().mid(8), it.value().toInt());
    }
    const QJsonObject state {
        {QStringLiteral("link"), QString::fromLatin1(m_values.value(QStringLiteral("link")))},
        {QStringLiteral("supervision"),
         QString::fromLatin1(m_values.value(QStringLiteral("supervision")))},
        {QStringLiteral("inputs"), inputs},
        {QStringLiteral("outputs"), outputs},
        {QStringLiteral("frame"), m_frame},
        {QStringLiteral("time"), time},
    };
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}
