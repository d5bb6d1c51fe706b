#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>

#include <optional>

#ifdef Q_OS_WIN
#    include <mosquitto.h>
#endif

#include "brokersettings.h"
#include "waituntil.h"

// What a plant's consumer of the topics sees: mosquitto_sub on the broker's socket or port.
// Under Wine, which cannot start the Linux mosquitto_sub, the library itself subscribes; it
// is driven each time the messages are read.
class BrokerSubscriber
{
public:
    struct Message
    {
        QString topic;
        QByteArray payload;
        bool retained = false;
    };

#ifdef Q_OS_WIN
    BrokerSubscriber(const BrokerSettings &broker, const QString &filter)
    {
        mosquitto_lib_init();
        m_client = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(
            m_client, [](mosquitto *, void *self, const mosquitto_message *m) {
                static_cast<BrokerSubscriber *>(self)->m_messages.append(
                    {QString::fromUtf8(m->topic),
                     QByteArray(static_cast<const char *>(m->payload), m->payloadlen), m->retain});
            });
        mosquitto_subscribe_callback_set(
            m_client, [](mosquitto *, void *self, int, int, const int *) {
                static_cast<BrokerSubscriber *>(self)->m_subscribed = true;
            });
        if (mosquitto_connect(m_client, qPrintable(broker.host), broker.port, 60)
                == MOSQ_ERR_SUCCESS
            && mosquitto_subscribe(m_client, nullptr, qPrintable(filter), 1) == MOSQ_ERR_SUCCESS)
            waitUntil([this] { return !messages().isEmpty() || m_subscribed; }, 20000);
        if (!m_subscribed)
            qWarning("the subscriber for %s did not subscribe", qPrintable(filter));
    }
    ~BrokerSubscriber()
    {
        mosquitto_destroy(m_client);
    }

    const QList<Message> &messages()
    {
        // Until a turn of the library's loop brings nothing new.
        for (int turn = 0; turn < 1000; ++turn) {
            const qsizetype before = m_messages.size();
            if (mosquitto_loop(m_client, 0, 1) != MOSQ_ERR_SUCCESS || m_messages.size() == before)
                break;
        }
        return m_messages;
    }
#else
    BrokerSubscriber(const BrokerSettings &broker, const QString &filter)
    {
        const QStringList where = broker.port == 0
            ? QStringList {QStringLiteral("--unix"), broker.host}
            : QStringList {QStringLiteral("-h"), broker.host, QStringLiteral("-p"),
                           QString::number(broker.port)};
        m_process.start(QStringLiteral("mosquitto_sub"),
                        where
                            + QStringList {QStringLiteral("-q"), QStringLiteral("1"),
                                           QStringLiteral("-t"), filter, QStringLiteral("-F"),
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
#endif

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

private:
#ifdef Q_OS_WIN
    mosquitto *m_client = nullptr;
    bool m_subscribed = false;
#else
    QProcess m_process;
    QByteArray m_pending;
#endif
    QList<Message> m_messages;
    qsizetype m_eventsSeen = 0;
};
