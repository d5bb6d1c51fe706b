#pragma once

#include <QLocalSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

// A broker that knows only MQTT 3.1.1, as the old ones in plants still do: a loopback
// listener in front of a real mosquitto that answers a version 5 CONNECT the way such a
// broker does (CONNACK "unacceptable protocol version", then the connection closes) and
// passes every other connection through to the broker's Unix socket untouched.
class OldBrokerGate
{
public:
    explicit OldBrokerGate(QString brokerSocket, bool refuseVersion5)
        : m_brokerSocket(std::move(brokerSocket))
        , m_refuseVersion5(refuseVersion5)
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *client = m_server.nextPendingConnection())
                accept(client);
        });
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    quint16 port() const { return m_server.serverPort(); }
    int refused() const { return m_refused; }
    int passed() const { return m_passed; }

private:
    void accept(QTcpSocket *client)
    {
        auto head = std::make_shared<QByteArray>();
        QObject::connect(client, &QTcpSocket::readyRead, client, [this, client, head] {
            if (client->property("piped").toBool())
                return;
            *head += client->readAll();
            const int level = protocolLevel(*head);
            if (level < 0)
                return;
            if (level == 5 && m_refuseVersion5) {
                ++m_refused;
                client->write(QByteArray("\x20\x02\x00\x01", 4));
                client->disconnectFromHost();
                return;
            }
            ++m_passed;
            pipe(client, *head);
        });
    }

    void pipe(QTcpSocket *client, const QByteArray &head)
    {
        client->setProperty("piped", true);
        auto *broker = new QLocalSocket(client);
        QObject::connect(client, &QTcpSocket::readyRead, broker,
                         [client, broker] { broker->write(client->readAll()); });
        QObject::connect(broker, &QLocalSocket::readyRead, client,
                         [client, broker] { client->write(broker->readAll()); });
        QObject::connect(broker, &QLocalSocket::disconnected, client,
                         &QTcpSocket::disconnectFromHost);
        QObject::connect(client, &QTcpSocket::disconnected, broker,
                         &QLocalSocket::disconnectFromServer);
        broker->connectToServer(m_brokerSocket);
        broker->write(head);
    }

    // The protocol level of a CONNECT packet, once its first bytes are in; -1 until then.
    static int protocolLevel(const QByteArray &head)
    {
        qsizetype at = 1;
        while (at < head.size() && (head.at(at) & 0x80) && at < 5)
            ++at;
        // Past the remaining length: 0x00 0x04 "MQTT", then the level.
        const qsizetype level = at + 1 + 6;
        return level < head.size() ? int(quint8(head.at(level))) : -1;
    }

    QTcpServer m_server;
    QString m_brokerSocket;
    bool m_refuseVersion5;
    int m_refused = 0;
    int m_passed = 0;
};
