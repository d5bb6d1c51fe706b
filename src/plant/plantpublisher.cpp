#include "plantpublisher.h"

#include <QChildEvent>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QThread>
#include <QToolButton>

#include <mosquitto.h>

#include "brokerlink.h"
#include "brokeroutbox.h"
#include "form1.h"
#include "inboundtext.h"
#include "plantlog.h"
#include "shapecontrol.h"

namespace {

// How long quitting waits for the link to end: its wait for "offline" and a margin.
constexpr int FinishMs = BrokerLink::FinishMs + 1000;

QString outputName(int id)
{
    return QStringLiteral("O%1").arg(id);
}

QString endingText(SocketControl::Ending how)
{
    switch (how) {
    case SocketControl::Ending::ClosedByPeer:
        return QStringLiteral("closed by the controller");
    case SocketControl::Ending::Reset:
        return QStringLiteral("reset");
    case SocketControl::Ending::TimedOut:
        return QStringLiteral("timed out");
    case SocketControl::Ending::Replaced:
        return QStringLiteral("replaced by a new connection");
    }
    return {};
}

} // namespace

PlantPublisher::PlantPublisher(const BrokerSettings &settings, Form1 &form, QObject *parent)
    : QObject(parent)
    , m_form(&form)
    , m_outbox(std::make_shared<BrokerOutbox>())
{
    static const bool libraryReady = mosquitto_lib_init() == MOSQ_ERR_SUCCESS;
    Q_UNUSED(libraryReady);
    if (!settings.username.isEmpty() && !settings.tls)
        qCWarning(lcBroker,
                  "the user name and password go to %s unencrypted: anyone on the "
                  "network between can read them; mqtts:// would protect them",
                  qUtf8Printable(settings.url()));
    publishAll();
    observe();

    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("Broker"));
    m_link = new BrokerLink(settings, m_outbox);
    m_link->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_link, &BrokerLink::start);
    m_thread->start();
}

PlantPublisher::~PlantPublisher()
{
    // What the window did last reaches the link before its end.
    handOver();
    QMetaObject::invokeMethod(m_link, &BrokerLink::finish, Qt::QueuedConnection);
    if (!m_thread->wait(QDeadlineTimer(FinishMs))) {
        // Stuck resolving or connecting: the process's end takes the thread with it.
        qCWarning(lcBroker, "the broker link did not end within %d ms; left behind", FinishMs);
        return;
    }
    delete m_link;
    delete m_thread;
}

void PlantPublisher::publishAll()
{
    const Form1::Controls &ui = m_form->controls();
    setValue(QStringLiteral("link"), ui.Shape2->backColor() == Bgr::Green ? "up" : "down");
    setValue(QStringLiteral("supervision"), ui.Command2->isEnabled() ? "on" : "off");
    for (int k = 1; k <= Inbound::InputCount; ++k)
        setValue(BrokerOutbox::inputTopic(k),
                 ui.I[size_t(k - 1)]->backColor() == Bgr::Green ? "1" : "0");
    for (int s = 1; s <= Output::Sections; ++s) {
        for (int n = 1; n <= Output::PerSection; ++n)
            setValue(BrokerOutbox::outputTopic(Output::designId(s, n)),
                     ui.O[size_t(s - 1)][size_t(n - 1)]->shape() == 1 ? "1" : "0");
    }
    m_outbox->setFrame(m_form->state().FrameText);
}

void PlantPublisher::observe()
{
    const Form1::Controls &ui = m_form->controls();
    connect(ui.Shape2, &ShapeControl::backColorChanged, this, [this](BgrColor colour) {
        setValue(QStringLiteral("link"), colour == Bgr::Green ? "up" : "down");
    });
    for (int k = 1; k <= Inbound::InputCount; ++k) {
        connect(ui.I[size_t(k - 1)], &ShapeControl::backColorChanged, this,
                [this, topic = BrokerOutbox::inputTopic(k)](BgrColor colour) {
                    if (colour == Bgr::Green || colour == Bgr::Red)
                        setValue(topic, colour == Bgr::Green ? "1" : "0");
                });
    }
    for (int s = 1; s <= Output::Sections; ++s) {
        for (int n = 1; n <= Output::PerSection; ++n) {
            const int id = Output::designId(s, n);
            ShapeControl *indicator = ui.O[size_t(s - 1)][size_t(n - 1)];
            // The state is set before the colour that shows it.
            connect(indicator, &ShapeControl::backColorChanged, this,
                    [this, indicator, topic = BrokerOutbox::outputTopic(id)] {
                        setValue(topic, indicator->shape() == 1 ? "1" : "0");
                    });
            QPushButton *button = ui.S[size_t(s - 1)][size_t(n - 1)];
            connect(button, &QAbstractButton::pressed, this, [this, id] { outputPressed(id); });
            connect(button, &QAbstractButton::clicked, this, [this, id] { outputClicked(id); });
        }
    }
    ui.Command2->installEventFilter(this);
    m_form->installEventFilter(this);

    SocketControl *socket = ui.Winsock1;
    connect(socket, &SocketControl::connectionRequest, this, &PlantPublisher::connectionRequested);
    connect(socket, &SocketControl::dataArrival, this, &PlantPublisher::dataArrived);
    connect(socket, &SocketControl::connectionEnded, this, &PlantPublisher::connectionEnded);
    connect(socket, &SocketControl::strangerRefused, this, [this](const QString &address) {
        postEvent(QStringLiteral("stranger refused"), {{QStringLiteral("peer"), address}});
    });
    connect(m_form->errorReporter(), &ErrorReporter::reported, this,
            [this](const QString &handler, const QString &description) {
                postEvent(QStringLiteral("unexpected error"),
                          {{QStringLiteral("handler"), handler},
                           {QStringLiteral("description"), description}});
            });
}

bool PlantPublisher::eventFilter(QObject *watched, QEvent *event)
{
    // The event type first: while the window is being destroyed it is a window no more.
    switch (event->type()) {
    case QEvent::EnabledChange:
        // Supervision runs exactly while its stop button is enabled.
        if (m_form && watched == m_form->controls().Command2)
            setValue(QStringLiteral("supervision"),
                     m_form->controls().Command2->isEnabled() ? "on" : "off");
        break;
    case QEvent::ChildPolished:
        // The failure box is polished as it is shown, while the press is still handled.
        if (m_form && watched == m_form
            && static_cast<QChildEvent *>(event)->child()->objectName()
                == QLatin1String("SendFailure")) {
            m_sendFailed = true;
            postEvent(QStringLiteral("send failure"),
                      {{QStringLiteral("output"), outputName(m_pressed)},
                       {QStringLiteral("frame"), m_form->state().FrameText}});
        }
        break;
    default:
        break;
    }
    return false;
}

void PlantPublisher::outputPressed(int id)
{
    m_pressed = id;
    m_sendFailed = false;
}

// After the window's own handler: the frame is built and sent, or its failure told.
void PlantPublisher::outputClicked(int id)
{
    if (!m_form || std::exchange(m_sendFailed, false))
        return;
    const auto &outputs = m_form->controls().O;
    const ShapeControl *indicator
        = outputs[size_t(Output::sectionOf(id) - 1)][size_t(Output::numberOf(id) - 1)];
    const QString frame = m_form->state().FrameText;
    if (m_outbox->setFrame(frame))
        wake();
    postEvent(QStringLiteral("output switched"),
              {{QStringLiteral("output"), outputName(id)},
               {QStringLiteral("state"), indicator->shape() == 1 ? 1 : 0},
               {QStringLiteral("frame"), frame}});
}

void PlantPublisher::connectionRequested()
{
    if (m_form && m_form->controls().Winsock1->State() == SocketControl::sckConnected)
        postEvent(QStringLiteral("connection accepted"),
                  {{QStringLiteral("peer"), m_form->controls().Winsock1->RemoteHostIP()}});
}

void PlantPublisher::dataArrived()
{
    if (m_form && Inbound::isIdentification(m_form->state().ReceivedText))
        postEvent(QStringLiteral("identification"),
                  {{QStringLiteral("peer"), m_form->controls().Winsock1->RemoteHostIP()}});
}

void PlantPublisher::connectionEnded(SocketControl::Ending how)
{
    postEvent(QStringLiteral("connection ended"), {{QStringLiteral("how"), endingText(how)}});
}

void PlantPublisher::setValue(const QString &topic, const char *payload)
{
    if (m_outbox->setValue(topic, QByteArray(payload)))
        wake();
}

void PlantPublisher::postEvent(const QString &name, QJsonObject fields)
{
    // Stamped now; the document is written with the rest after the window's handler.
    m_unwritten.push_back({name, std::move(fields), QDateTime::currentMSecsSinceEpoch()});
    handOverLater();
}

void PlantPublisher::wake()
{
    m_linkToWake = true;
    handOverLater();
}

void PlantPublisher::handOverLater()
{
    // After the window's handler has run to its end: the frame goes out, and the press is
    // done with, before the publisher spends anything more on them or wakes the link's
    // thread to compete for the processor.
    if (!std::exchange(m_handOverQueued, true))
        QMetaObject::invokeMethod(this, &PlantPublisher::handOver, Qt::QueuedConnection);
}

void PlantPublisher::handOver()
{
    m_handOverQueued = false;
    for (Event &event : std::exchange(m_unwritten, {})) {
        event.fields.insert(QStringLiteral("event"), event.name);
        event.fields.insert(QStringLiteral("time"), BrokerOutbox::timeText(event.msecsSinceEpoch));
        if (m_outbox->postEvent(QJsonDocument(event.fields).toJson(QJsonDocument::Compact)))
            m_linkToWake = true;
    }
    // Before the thread starts, its first connection publishes everything anyway.
    if (std::exchange(m_linkToWake, false) && m_link)
        QMetaObject::invokeMethod(m_link, &BrokerLink::drain, Qt::QueuedConnection);
}
