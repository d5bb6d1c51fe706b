#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

// What the window shows, handed from the window's thread to the broker link's: the latest
// value of each retained topic and the events not yet sent. Fixed in size however fast the
// window changes and however long the broker is away: a value overwrites its predecessor,
// and events beyond a bound, or while the link is down, are only counted.
class BrokerOutbox
{
public:
    // Topic names under the base topic, in the order a snapshot publishes them.
    static QStringList retainedTopics();
    // The topics of input k (1 to 8) and of output designId (11 to 38), named as the window
    // names its indicators.
    static QString inputTopic(int k);
    static QString outputTopic(int designId);
    static constexpr qsizetype MaxQueuedEvents = 1000;
    // The local time in ISO 8601 with milliseconds and its UTC offset, "+00:00" included.
    static QString now();
    static QString timeText(qint64 msecsSinceEpoch);

    // The window's side. setValue and setFrame return whether the link must be woken.
    bool setValue(const QString &topic, const QByteArray &payload);
    bool setFrame(const QString &frame);
    bool postEvent(const QByteArray &event);

    // The link's side.
    void setConnected(bool connected);
    // Called first thing when woken: a change after this wakes the link again.
    void woken() { m_wakePending.store(false); }
    // The topics changed since the last call.
    QSet<QString> takeChanged();
    // What goes out on a retained topic now; the state document is stamped with this time.
    QByteArray payload(const QString &topic) const;
    QList<QByteArray> takeEvents();
    // Events that were never handed to the link since the last call.
    qint64 takeDropped();

private:
    // The whole state as one JSON object, with the time given; the mutex is held.
    QByteArray stateDocument(const QString &time) const;
    bool wake();

    mutable std::mutex m_mutex;
    QHash<QString, QByteArray> m_values;
    QString m_frame;
    QSet<QString> m_changed;
    QList<QByteArray> m_events;
    qint64 m_dropped = 0;
    bool m_connected = false;
    std::atomic<bool> m_wakePending {false};
};
