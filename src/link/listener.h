#pragma once

#include <QTcpServer>

// Hands every incoming connection over as a bare descriptor, so the socket control
// decides when and whether it becomes the connection.
class Listener : public QTcpServer
{
    Q_OBJECT

public:
    explicit Listener(QObject *parent = nullptr);

Q_SIGNALS:
    void descriptorReady(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override;
};
