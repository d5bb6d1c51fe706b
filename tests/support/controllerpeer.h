#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QHostAddress>
#include <QList>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTest>

// A real controller on loopback TCP: it connects to the panel, sends texts and collects
// every line the panel sends.
class ControllerPeer
{
public:
    ControllerPeer() { m_socket.setProxy(QNetworkProxy::NoProxy); }

    QTcpSocket &socket() { return m_socket; }

    // Connects, retrying until the panel listens or the time is up.
    bool connectTo(quint16 port, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            m_socket.abort();
            m_socket.connectToHost(QHostAddress::LocalHost, port);
            if (m_socket.waitForConnected(
                    int(qMax<qint64>(1, qMin<qint64>(500, deadline.remainingTime())))))
                return true;
            QTest::qWait(20);
        }
        return false;
    }

    void send(const QByteArray &bytes)
    {
        m_socket.write(bytes);
        m_socket.flush();
    }

    // Everything received so far, without taking it.
    QByteArray received()
    {
        m_buffer += m_socket.readAll();
        return m_buffer;
    }

    // Complete CR LF lines received so far, taken out of the buffer.
    QList<QByteArray> takeLines()
    {
        received();
        QList<QByteArray> lines;
        qsizetype end;
        while ((end = m_buffer.indexOf("\r\n")) >= 0) {
            lines.append(m_buffer.left(end));
            m_buffer.remove(0, end + 2);
        }
        return lines;
    }

    // Waits (running the event loop) for the next complete line.
    QByteArray waitForLine(int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            received();
            if (m_buffer.contains("\r\n"))
                return takeLines().constFirst();
            QTest::qWait(5);
        }
        return {};
    }

    // A clean close (FIN).
    void close()
    {
        m_socket.disconnectFromHost();
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            m_socket.waitForDisconnected(1000);
    }

    void abort() { m_socket.abort(); }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// Descriptors this process holds; -1 where the platform does not tell.
inline int openDescriptorCount()
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    if (!fds.exists())
        return -1;
    return int(fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}
