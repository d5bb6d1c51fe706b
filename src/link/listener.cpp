#include "listener.h"

#include <QNetworkProxy>

Listener::Listener(QObject *parent)
    : QTcpServer(parent)
{
    // An application-wide proxy must never apply to the panel's listener.
    setProxy(QNetworkProxy::NoProxy);
}

void Listener::incomingConnection(qintptr descriptor)
{
    Q_EMIT descriptorReady(descriptor);
}
