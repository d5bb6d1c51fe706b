#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

#include "brokersettings.h"

class BrokerOutbox;
class QEventLoop;
class QSocketNotifier;
class QTimer;
struct mosquitto;
struct mqtt5__property;

// The panel's connection to the plant's broker. It lives in a thread of its own, driven by
// that thread's event loop: name resolution, connecting and TLS handshakes hold up only
// this thread, never the window. Each attempt is a new client, so nothing of a session
// that ended is sent again over a later one; the snapshot on each connection carries the
// latest values instead.
class BrokerLink : public QObject
{
    Q_OBJECT

public:
    // A retained topic is sent at most once in this many milliseconds; its latest value
    // always goes out.
    static constexpr int MinGapMs = 100;
    // Messages sent and not yet acknowledged; past this, values wait and events are counted.
    static constexpr int MaxUnacknowledged = 200;
    static constexpr int MaxBackoffSeconds = 60;
    // How long a clean end waits for the broker to acknowledge "offline".
    static constexpr int FinishMs = 1500;

    BrokerLink(BrokerSettings settings, std::shared_ptr<BrokerOutbox> outbox);
    ~BrokerLink() override;

    // Each runs in the link's thread.
    void start();
    // Sends what the outbox holds, within the limits.
    void drain();
    // Says "offline", disconnects, and ends the thread's event loop.
    void finish();

private:
    static void onConnect(mosquitto *, void *self, int reason, int flags, const mqtt5__property *);
    static void onPublish(mosquitto *, void *self, int mid, int reason, const mqtt5__property *);
    static void onLog(mosquitto *, void *self, int level, const char *text);

    void connectNow();
    QString configure();
    void watchSocket();
    void write();
    void writeSoon();
    void afterLoop(int rc);
    void endSession(const QString &why);
    void publishSnapshot();
    void publishChanged();
    void reportLost();
    bool publish(const QString &topic, const QByteArray &payload, bool retain, bool event);
    QString failure(int rc) const;
    QString refusal(int reason) const;

    BrokerSettings m_settings;
    std::shared_ptr<BrokerOutbox> m_outbox;
    mosquitto *m_mosq = nullptr;
    QSocketNotifier *m_read = nullptr;
    QSocketNotifier *m_write = nullptr;
    bool m_writeQueued = false;
    QTimer *m_misc = nullptr;
    QTimer *m_retry = nullptr;
    QTimer *m_due = nullptr;
    int m_protocol;
    int m_backoffSeconds = 1;
    bool m_connected = false;
    bool m_finishing = false;
    std::optional<int> m_connack;
    // The library's error lines of this attempt: they name what TLS found wrong.
    QStringList m_errors;
    QElapsedTimer m_clock;
    QHash<QString, qint64> m_lastSent;
    QSet<QString> m_pending;
    QHash<int, QString> m_unacknowledged;
    QSet<int> m_unacknowledgedEvents;
    QSet<QString> m_refused;
    qint64 m_lostEvents = 0;
    int m_lastMid = 0;
    int m_offlineMid = -1;
    QEventLoop *m_acknowledged = nullptr;
};
