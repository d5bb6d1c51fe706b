#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

#include "brokersettings.h"
#include "socketcontrol.h"

class BrokerLink;
class BrokerOutbox;
class Form1;
class QThread;

// The panel's state on the plant's broker: what the window shows, watched from outside the
// window, which knows nothing of it. Connections to the window's signals are made after
// the window's own, so each observation sees what the window's handler has just done.
class PlantPublisher : public QObject
{
    Q_OBJECT

public:
    PlantPublisher(const BrokerSettings &settings, Form1 &form, QObject *parent = nullptr);
    // Says "offline" and disconnects; a link stuck on the network is left behind after a
    // moment, so that quitting never waits on the broker.
    ~PlantPublisher() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void observe();
    void publishAll();
    void setValue(const QString &topic, const char *payload);
    void postEvent(const QString &name, QJsonObject fields);
    void wake();
    void handOverLater();
    void handOver();
    void outputPressed(int id);
    void outputClicked(int id);
    void connectionRequested();
    void dataArrived();
    void connectionEnded(SocketControl::Ending how);

    QPointer<Form1> m_form;
    std::shared_ptr<BrokerOutbox> m_outbox;
    QThread *m_thread = nullptr;
    BrokerLink *m_link = nullptr;
    int m_pressed = 0;
    bool m_sendFailed = false;
    bool m_handOverQueued = false;
    bool m_linkToWake = false;
    // Events as they happened, written out once the window's handler has returned.
    struct Event
    {
        QString name;
        QJsonObject fields;
        qint64 msecsSinceEpoch;
    };
    std::vector<Event> m_unwritten;
};
