#pragma once

#include <QDir>
#include <QNetworkProxy>
#include <QTcpSocket>

#include "waituntil.h"

// A real controller on loopback TCP: it connects to the panel, sends texts and collects
// every line the panel sends.
class ControllerPeer
{
public:
    ControllerPeer() { m_socket.setProxy(QNetworkProxy::NoProxy); }
    QTcpSocket &socket() { return m_socket; }

    // Connects, retrying every 20 ms until the panel listens or the time is up.
    bool connectTo(quint16 port, int timeoutMs = 5000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        for (;; QTest::qWait(20)) {
            m_socket.abort();
            m_socket.connectToHost(QHostAddress::LocalHost, port);
            if (m_socket.waitForConnected(200) || deadline.hasExpired())
                return m_socket.state() == QAbstractSocket::ConnectedState;
        }
    }

    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }

    // Everything received so far, without taking it.
    QByteArray received() { return m_buffer += m_socket.readAll(); }

    // Waits (running the event loop) for the next count complete CR LF lines and takes
    // them out of the buffer; fewer if the time is up. Later lines stay for the next call.
    QList<QByteArray> waitForLines(qsizetype count, int timeoutMs = 10000)
    {
        waitUntil([&] { return received().count("\r\n") >= count; }, timeoutMs);
        QList<QByteArray> lines;
        for (qsizetype end; lines.size() < count && (end = m_buffer.indexOf("\r\n")) >= 0;
             m_buffer.remove(0, end + 2))
            lines.append(m_buffer.left(end));
        return lines;
    }

    QByteArray waitForLine(int timeoutMs = 10000) { return waitForLines(1, timeoutMs).value(0); }

    // A clean close (FIN).
    void close()
    {
        m_socket.disconnectFromHost();
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            m_socket.waitForDisconnected(1000);
    }

    void abort() { m_socket.abort(); }

    // Waits until the panel has ended the connection.
    bool waitForDisconnect()
    {
        return waitUntil([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
    }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// Descriptors this process holds (Linux lists them under /proc).
inline int openDescriptorCount()
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    return int(fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}
