#include "controllerthread.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>

ControllerThread::ControllerThread(quint16 port, Mode mode, qsizetype frameSize)
    : m_port(port)
    , m_mode(mode)
    , m_frameSize(frameSize)
    , m_thread([this] { run(); })
{
}

ControllerThread::~ControllerThread()
{
    stop();
}

void ControllerThread::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool ControllerThread::waitConnected(int timeoutMs)
{
    return m_connected.tryAcquire(1, timeoutMs);
}

bool ControllerThread::takeFrame(int timeoutMs, Clock::time_point *arrival)
{
    if (!m_frames.tryAcquire(1, timeoutMs))
        return false;
    const std::lock_guard lock(m_mutex);
    *arrival = m_arrivals.front();
    m_arrivals.pop_front();
    return true;
}

void ControllerThread::run()
{
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.connectToHost(QHostAddress::LocalHost, m_port);
    if (!socket.waitForConnected(5000))
        return;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_connected.release();

    if (m_mode == Mode::TimeFrames) {
        qint64 total = 0;
        qint64 nextEnd = m_frameSize;
        while (!m_stop && socket.state() == QAbstractSocket::ConnectedState) {
            if (!socket.waitForReadyRead(20))
                continue;
            total += socket.skip(socket.bytesAvailable());
            const auto now = Clock::now();
            while (total >= nextEnd) {
                nextEnd += m_frameSize;
                {
                    const std::lock_guard lock(m_mutex);
                    m_arrivals.push_back(now);
                }
                m_frames.release();
            }
        }
        return;
    }

    // Each text its own send, as a controller reporting input changes would do.
    static const QByteArray texts[]
        = {QByteArrayLiteral("00000001"), QByteArrayLiteral("10000000")};
    qint64 sent = 0;
    while (!m_stop && socket.state() == QAbstractSocket::ConnectedState) {
        socket.write(texts[sent & 1]);
        ++sent;
        m_textsSent.store(sent, std::memory_order_relaxed);
        if (socket.bytesToWrite() > 64 * 1024)
            socket.waitForBytesWritten(20);
        else
            socket.flush();
        // Keep reading whatever the peer sends so it never blocks on us.
        if (socket.bytesAvailable() > 0)
            socket.skip(socket.bytesAvailable());
    }
}
