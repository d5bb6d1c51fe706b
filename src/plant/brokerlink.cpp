#include "brokerlink.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>

#include "brokeroutbox.h"
#include "logtext.h"
#include "plantlog.h"

namespace {

const QString StatusTopic = QStringLiteral("status");
const QString EventTopic = QStringLiteral("event");

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}

} // namespace

BrokerLink::BrokerLink(BrokerSettings settings, std::shared_ptr<BrokerOutbox> outbox)
    : m_settings(std::move(settings))
    , m_outbox(std::move(outbox))
    , m_protocol(MQTT_PROTOCOL_V5)
{
}

BrokerLink::~BrokerLink()
{
    delete m_read;
    delete m_write;
    if (m_mosq)
        mosquitto_destroy(m_mosq);
}

void BrokerLink::start()
{
    // Changes made before the thread ran are in the first snapshot.
    m_outbox->woken();
    m_clock.start();
    m_misc = new QTimer(this);
    // The library's keep-alive: a ping when due, and the end of a session whose broker
    // stopped answering, a new one included.
    m_misc->setInterval(1000);
    connect(m_misc, &QTimer::timeout, this, [this] {
        afterLoop(mosquitto_loop_misc(m_mosq));
        writeSoon();
    });
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &BrokerLink::connectNow);
    m_due = new QTimer(this);
    m_due->setSingleShot(true);
    connect(m_due, &QTimer::timeout, this, &BrokerLink::publishChanged);
    connectNow();
}

void BrokerLink::connectNow()
{
    m_connack.reset();
    m_errors.clear();
    m_mosq = mosquitto_new(qPrintable(m_settings.clientId), true, this);
    if (!m_mosq) {
        endSession(QStringLiteral("the MQTT library could not make a client"));
        return;
    }
    if (const QString fault = configure(); !fault.isEmpty()) {
        endSession(fault);
        return;
    }
    qCInfo(lcBroker, "connecting to %s as %s", qUtf8Printable(m_settings.url()),
           qUtf8Printable(LogText::escaped(m_settings.clientId)));
    const int rc = mosquitto_connect(m_mosq, qPrintable(m_settings.host), m_settings.port,
                                     m_settings.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        endSession(failure(rc));
        return;
    }
    watchSocket();
    m_misc->start();
}

// The will first: from here on the broker says "offline" for a panel that vanishes.
QString BrokerLink::configure()
{
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, m_protocol);
    mosquitto_connect_v5_callback_set(m_mosq, &BrokerLink::onConnect);
    mosquitto_publish_v5_callback_set(m_mosq, &BrokerLink::onPublish);
    mosquitto_log_callback_set(m_mosq, &BrokerLink::onLog);
    const QByteArray will = utf8(m_settings.topic + u'/' + StatusTopic);
    if (mosquitto_will_set(m_mosq, will.constData(), 7, "offline", 1, true) != MOSQ_ERR_SUCCESS)
        return QStringLiteral("the base topic cannot carry the last will");
    if (!m_settings.username.isEmpty()
        && mosquitto_username_pw_set(
               m_mosq, qPrintable(m_settings.username),
               m_settings.password.isEmpty() ? nullptr : qPrintable(m_settings.password))
            != MOSQ_ERR_SUCCESS)
        return QStringLiteral("the user name cannot be used");
    if (!m_settings.tls)
        return {};
    const QByteArray ca = QFile::encodeName(m_settings.caFile);
    const QByteArray cert = QFile::encodeName(m_settings.certFile);
    const QByteArray key = QFile::encodeName(m_settings.keyFile);
    // Without a CA file the system's store; the library wants a CA path beside a client
    // certificate all the same.
    if (m_settings.caFile.isEmpty())
        mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    if (!m_settings.caFile.isEmpty() || !m_settings.certFile.isEmpty()) {
        const int rc = mosquitto_tls_set(m_mosq, ca.isEmpty() ? nullptr : ca.constData(),
                                         ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
                                         cert.isEmpty() ? nullptr : cert.constData(),
                                         key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return QStringLiteral("the CA, certificate or key file cannot be used: %1")
                .arg(QString::fromUtf8(mosquitto_strerror(rc)));
    }
    // The broker's certificate and its host name are always verified: no switch turns
    // either off.
    mosquitto_tls_opts_set(m_mosq, 1, nullptr, nullptr);
    mosquitto_tls_insecure_set(m_mosq, false);
    return {};
}

void BrokerLink::watchSocket()
{
    const int socket = mosquitto_socket(m_mosq);
    m_read = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(m_read, &QSocketNotifier::activated, this, [this] {
        afterLoop(mosquitto_loop_read(m_mosq, 1));
        writeSoon();
    });
    m_write = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    connect(m_write, &QSocketNotifier::activated, this, &BrokerLink::write);
}

void BrokerLink::write()
{
    int rc = mosquitto_loop_write(m_mosq, 1);
    // A TLS handshake that waited to write goes on through the read side.
    if (rc == MOSQ_ERR_SUCCESS && !m_connack)
        rc = mosquitto_loop_read(m_mosq, 1);
    afterLoop(rc);
}

void BrokerLink::writeSoon()
{
    // On Windows a socket says it is writable once, until a send finds its buffer full:
    // what the library has to send after a read is tried at once rather than left to a
    // notifier that may stay silent (a TLS handshake then stalled until the keep-alive).
    if (!m_mosq || !m_write || !mosquitto_want_write(m_mosq) || std::exchange(m_writeQueued, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_writeQueued = false;
            if (m_mosq && m_write)
                write();
        },
        Qt::QueuedConnection);
}

void BrokerLink::afterLoop(int rc)
{
    if (!m_mosq)
        return;
    if (rc == MOSQ_ERR_SUCCESS && m_connack == 0 && !m_connected) {
        m_connected = true;
        m_backoffSeconds = 1;
        m_outbox->setConnected(true);
        qCInfo(lcBroker, "connected to %s, publishing under %s (MQTT %s)",
               qUtf8Printable(m_settings.url()), qUtf8Printable(m_settings.topic),
               m_protocol == MQTT_PROTOCOL_V5 ? "5" : "3.1.1");
        publishSnapshot();
    }
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(m_mosq) != -1) {
        if (m_connected)
            publishChanged();
        if (m_mosq && m_write)
            m_write->setEnabled(mosquitto_want_write(m_mosq));
        return;
    }
    // An old broker that knows only MQTT 3.1.1 is asked again in its own version at once.
    const bool oldBroker = !m_connected && m_protocol == MQTT_PROTOCOL_V5
        && (m_connack == 1 || m_connack == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION
            || (!m_connack && rc == MOSQ_ERR_PROTOCOL));
    endSession(m_connack.value_or(0) != 0 ? refusal(*m_connack) : failure(rc));
    if (oldBroker && !m_finishing) {
        m_protocol = MQTT_PROTOCOL_V311;
        m_backoffSeconds = 1;
        m_retry->start(0);
    }
}

void BrokerLink::endSession(const QString &why)
{
    const bool wasConnected = std::exchange(m_connected, false);
    m_outbox->setConnected(false);
    m_lostEvents += m_unacknowledgedEvents.size();
    m_unacknowledgedEvents.clear();
    m_unacknowledged.clear();
    m_pending.clear();
    m_refused.clear();
    // The notifiers go before the library closes their socket.
    delete std::exchange(m_read, nullptr);
    delete std::exchange(m_write, nullptr);
    if (m_misc)
        m_misc->stop();
    if (m_due)
        m_due->stop();
    if (m_mosq)
        mosquitto_destroy(std::exchange(m_mosq, nullptr));
    if (m_finishing)
        return;
    qCWarning(lcBroker, "%s %s: %s; next attempt in %d s",
              wasConnected ? "connection to" : "cannot connect to",
              qUtf8Printable(m_settings.url()), qUtf8Printable(LogText::singleLine(why)),
              m_backoffSeconds);
    if (m_retry)
        m_retry->start(m_backoffSeconds * 1000);
    m_backoffSeconds = std::min(m_backoffSeconds * 2, MaxBackoffSeconds);
}

void BrokerLink::publishSnapshot()
{
    publish(StatusTopic, "online", true, false);
    m_outbox->takeChanged();
    m_pending.clear();
    const QStringList topics = BrokerOutbox::retainedTopics();
    for (const QString &topic : topics)
        publish(topic, m_outbox->payload(topic), true, false);
    // The count of events the broker never got follows in publishChanged().
}

void BrokerLink::drain()
{
    m_outbox->woken();
    if (!m_mosq || !m_connected) {
        // The snapshot on the next connection carries these values.
        m_outbox->takeChanged();
        return;
    }
    publishChanged();
    if (m_mosq && m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void BrokerLink::publishChanged()
{
    if (!m_connected || m_finishing)
        return;
    const QList<QByteArray> events = m_outbox->takeEvents();
    for (const QByteArray &event : events) {
        if (m_unacknowledged.size() >= MaxUnacknowledged
            || !publish(EventTopic, event, false, true))
            ++m_lostEvents;
    }
    m_lostEvents += m_outbox->takeDropped();
    reportLost();
    m_pending += m_outbox->takeChanged();
    const qint64 now = m_clock.elapsed();
    qint64 nextDue = -1;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (m_unacknowledged.size() >= MaxUnacknowledged)
            return; // the acknowledgements bring the rest
        const qint64 due = m_lastSent.value(*it, now - MinGapMs) + MinGapMs;
        if (due <= now) {
            publish(*it, m_outbox->payload(*it), true, false);
            it = m_pending.erase(it);
            continue;
        }
        nextDue = nextDue < 0 ? due : std::min(nextDue, due);
        ++it;
    }
    if (nextDue >= 0 && !m_due->isActive())
        m_due->start(int(nextDue - now));
}

void BrokerLink::reportLost()
{
    if (m_lostEvents == 0 || m_unacknowledged.size() >= MaxUnacknowledged)
        return;
    qCWarning(lcBroker, "%lld events could not be published while the broker was unreachable",
              static_cast<long long>(m_lostEvents));
    const QJsonObject event {{QStringLiteral("event"), QStringLiteral("events not published")},
                             {QStringLiteral("count"), m_lostEvents},
                             {QStringLiteral("time"), BrokerOutbox::now()}};
    if (publish(EventTopic, QJsonDocument(event).toJson(QJsonDocument::Compact), false, true))
        m_lostEvents = 0;
}

bool BrokerLink::publish(const QString &topic, const QByteArray &payload, bool retain, bool event)
{
    if (!m_mosq)
        return false;
    const QByteArray name = utf8(m_settings.topic + u'/' + topic);
    int mid = 0;
    const int rc = mosquitto_publish_v5(m_mosq, &mid, name.constData(), int(payload.size()),
                                        payload.constData(), 1, retain, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
        return false;
    m_lastMid = mid;
    m_unacknowledged.insert(mid, topic);
    if (event)
        m_unacknowledgedEvents.insert(mid);
    m_lastSent.insert(topic, m_clock.elapsed());
    return true;
}

void BrokerLink::finish()
{
    // The latest values go out now, however recently their topics went out before: none
    // comes after them.
    m_lastSent.clear();
    publishChanged();
    m_finishing = true;
    if (m_retry)
        m_retry->stop();
    if (m_connected) {
        // A clean end leaves "offline" at once; a disconnect on purpose drops the will, so
        // it waits a moment for the broker to have "offline", which may queue behind the
        // messages still in flight.
        if (publish(StatusTopic, "offline", true, false)) {
            m_offlineMid = m_lastMid;
            QEventLoop acknowledged;
            m_acknowledged = &acknowledged;
            QTimer::singleShot(FinishMs, &acknowledged, &QEventLoop::quit);
            acknowledged.exec();
            m_acknowledged = nullptr;
        }
        if (m_mosq)
            mosquitto_disconnect(m_mosq);
        qCInfo(lcBroker, "disconnected from %s: the panel ends", qUtf8Printable(m_settings.url()));
    }
    endSession({});
    QThread::currentThread()->quit();
}

void BrokerLink::onConnect(mosquitto *, void *self, int reason, int, const mqtt5__property *)
{
    static_cast<BrokerLink *>(self)->m_connack = reason;
}

void BrokerLink::onPublish(mosquitto *, void *self, int mid, int reason, const mqtt5__property *)
{
    auto *link = static_cast<BrokerLink *>(self);
    const QString topic = link->m_unacknowledged.take(mid);
    const bool event = link->m_unacknowledgedEvents.remove(mid);
    if (mid == link->m_offlineMid && link->m_acknowledged)
        link->m_acknowledged->quit();
    if (reason < MQTT_RC_UNSPECIFIED)
        return;
    if (event)
        ++link->m_lostEvents;
    // Said once per topic and connection: a refused topic is refused at every change.
    if (!link->m_refused.contains(topic)) {
        link->m_refused.insert(topic);
        qCWarning(lcBroker, "the broker refused %s/%s: %s", qUtf8Printable(link->m_settings.topic),
                  qUtf8Printable(topic), mosquitto_reason_string(reason));
    }
}

void BrokerLink::onLog(mosquitto *, void *self, int level, const char *text)
{
    auto *link = static_cast<BrokerLink *>(self);
    if ((level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) && link->m_errors.size() < 8)
        link->m_errors << LogText::singleLine(QString::fromUtf8(text));
}

QString BrokerLink::failure(int rc) const
{
    switch (rc) {
    case MOSQ_ERR_EAI:
        return QStringLiteral("the host name %1 does not resolve")
            .arg(LogText::escaped(m_settings.host));
    case MOSQ_ERR_TLS: {
        const QString detail = m_errors.join(QStringLiteral("; "));
        if (detail.contains(QLatin1String("host name verification failed")))
            return QStringLiteral("TLS verification failed: the broker's certificate is not "
                                  "for host %1 (%2)")
                .arg(LogText::escaped(m_settings.host), detail);
        if (detail.contains(QLatin1String("certificate verify failed")))
            return QStringLiteral("TLS verification failed: the broker's certificate is not "
                                  "signed by a trusted CA (%1)")
                .arg(detail);
        return QStringLiteral("TLS handshake failed (%1)").arg(detail);
    }
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("the broker did not answer within %1 s")
            .arg(m_settings.keepAliveSeconds);
    case MOSQ_ERR_CONN_LOST:
        return QStringLiteral("connection lost");
    default:
        // For a failed system call, the system's own words.
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

QString BrokerLink::refusal(int reason) const
{
    switch (reason) {
    case CONNACK_REFUSED_BAD_USERNAME_PASSWORD:
    case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        return QStringLiteral("refused: authentication failed, bad user name or password");
    case CONNACK_REFUSED_NOT_AUTHORIZED:
    case MQTT_RC_NOT_AUTHORIZED:
        return QStringLiteral("refused: authentication failed, not authorised");
    default:
        return QStringLiteral("refused: %1")
            .arg(QString::fromUtf8(m_protocol == MQTT_PROTOCOL_V5
                                       ? mosquitto_reason_string(reason)
                                       : mosquitto_connack_string(reason)));
    }
}
