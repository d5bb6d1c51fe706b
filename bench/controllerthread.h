#pragma once

#include <QByteArray>
#include <QSemaphore>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

// A controller on its own thread with a blocking socket, so what it measures does not wait
// for the panel's event loop: it either timestamps every frame's last byte, or sends input
// texts as fast as the connection takes them.
class ControllerThread
{
public:
    using Clock = std::chrono::steady_clock;
    enum class Mode { TimeFrames, Blast };

    ControllerThread(quint16 port, Mode mode, qsizetype frameSize = 27);
    ~ControllerThread();

    bool waitConnected(int timeoutMs);
    // TimeFrames: when the next whole frame's last byte arrived.
    bool takeFrame(int timeoutMs, Clock::time_point *arrival);
    // Blast: texts sent so far.
    qint64 textsSent() const { return m_textsSent.load(); }
    void stop();

private:
    void run();

    quint16 m_port;
    Mode m_mode;
    qsizetype m_frameSize;
    std::atomic<bool> m_stop {false};
    std::atomic<qint64> m_textsSent {0};
    QSemaphore m_connected;
    QSemaphore m_frames;
    std::mutex m_mutex;
    std::deque<Clock::time_point> m_arrivals;
    std::thread m_thread;
};
