#pragma once

#include <QDir>
#include <QNetworkProxy>
#include <QTcpSocket>

#include "waituntil.h"

// A real controller on loopback TCP: connects to the panel, sends texts, collects its lines.
class ControllerPeer
{
public:
    ControllerPeer() { m_socket.setProxy(QNetworkProxy::NoProxy); }
    QTcpSocket &socket() { return m_socket; }

    // Retries every 20 ms until the panel listens or the time is up; `from` plays another
    // host (a loopback address such as 127.0.0.2).
    bool connectTo(quint16 port, int timeoutMs = 5000, const QHostAddress &from = {})
    {
        for (const QDeadlineTimer deadline(timeoutMs);; QTest::qWait(20)) {
            m_socket.abort();
            if (!from.isNull())
                m_socket.bind(from);
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

    // Takes the next count CR LF lines (fewer if the time is up); later ones stay.
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

    void close() // FIN
    {
        m_socket.disconnectFromHost();
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            m_socket.waitForDisconnected(1000);
    }
    void abort() { m_socket.abort(); }
    bool waitForDisconnect()
    {
        return waitUntil([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
    }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// Descriptors this process holds (Linux lists them under /proc). Elsewhere there is no
// such list: the count is 0 and the log says the check was left out.
inline int openDescriptorCount()
{
#ifdef Q_OS_LINUX
    const QDir fds(QStringLiteral("/proc/self/fd"));
    return int(fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
#else
    qWarning("Descriptor leak check left out: Linux only (/proc/self/fd).");
    return 0;
#endif
}
