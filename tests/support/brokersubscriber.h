#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>

#include <optional>

#include "waituntil.h"

// mosquitto_sub on a broker's socket: what a plant's consumer of the topics sees.
class BrokerSubscriber
{
public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };

    BrokerSubscriber(const QString &socketPath, const QString &filter)
    {
        m_process.start(QStringLiteral("mosquitto_sub"),
                        {QStringLiteral("--unix"), socketPath, QStringLiteral("-q"),
                         QStringLiteral("1"), QStringLiteral("-t"), filter, QStringLiteral("-F"),
                         QStringLiteral("%r %t %p")});
    }
    ~BrokerSubscriber()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }

    const QList<Message> &messages()
    {
        m_pending += m_process.readAllStandardOutput();
        for (qsizetype end; (end = m_pending.indexOf('\n')) >= 0; m_pending.remove(0, end + 1)) {
            const QByteArray line = m_pending.left(end);
            const qsizetype space = line.indexOf(' ', 2);
            if (line.size() < 3 || space < 0)
                continue;
            m_messages.append({QString::fromUtf8(line.mid(2, space - 2)), line.mid(space + 1),
                               line.startsWith('1')});
        }
        return m_messages;
    }

    std::optional<QByteArray> latest(const QString &topic)
    {
        const QList<Message> &all = messages();
        for (auto it = all.crbegin(); it != all.crend(); ++it) {
            if (it->topic == topic)
                return it->payload;
        }
        return std::nullopt;
    }

    qsizetype count(const QString &topic)
    {
        const QList<Message> &all = messages();
        return std::count_if(all.cbegin(), all.cend(),
                             [&](const Message &m) { return m.topic == topic; });
    }

    bool waitFor(const QString &topic, const QByteArray &payload, int timeoutMs = 20000)
    {
        return waitUntil([&] { return latest(topic) == payload; }, timeoutMs);
    }

    // The first event of this name since the call before that found one.
    std::optional<QJsonObject> waitForEvent(const QString &topic, const QString &name,
                                            int timeoutMs = 20000)
    {
        std::optional<QJsonObject> found;
        waitUntil(
            [&] {
                const QList<Message> &all = messages();
                for (; m_eventsSeen < all.size() && !found; ++m_eventsSeen) {
                    if (all[m_eventsSeen].topic != topic)
                        continue;
                    const QJsonObject event
                        = QJsonDocument::fromJson(all[m_eventsSeen].payload).object();
                    if (event.value(QStringLiteral("event")).toString() == name)
                        found = event;
                }
                return found.has_value();
            },
            timeoutMs);
        return found;
    }

    void clear()
    {
        messages();
        m_messages.clear();
        m_eventsSeen = 0;
    }

private:
    QProcess m_process;
    QByteArray m_pending;
    QList<Message> m_messages;
    qsizetype m_eventsSeen = 0;
};
