#include "stdinreader.h"

#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_UNIX
#    include <unistd.h>
#endif

StdinReader::StdinReader(QObject *parent)
    : QObject(parent)
{
}

void StdinReader::start()
{
#ifdef Q_OS_UNIX
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StdinReader::onReadable);
#else
    // Console and pipe handles cannot be watched by the event loop here: a thread blocks
    // on them instead. It is left running at exit; the process ends it.
    QThread *thread = QThread::create([this] {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, stdin)) {
            const QByteArray bytes(buffer);
            QMetaObject::invokeMethod(this, [this, bytes] { deliver(bytes, false); });
        }
        QMetaObject::invokeMethod(this, [this] { deliver({}, true); });
    });
    thread->start();
#endif
}

void StdinReader::onReadable()
{
#ifdef Q_OS_UNIX
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n > 0) {
        deliver(QByteArray(buffer, qsizetype(n)), false);
        return;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    m_notifier->setEnabled(false);
    deliver({}, true);
#endif
}

void StdinReader::deliver(const QByteArray &bytes, bool atEnd)
{
    m_pending += bytes;
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        Q_EMIT lineRead(QString::fromLocal8Bit(line));
    }
    if (atEnd) {
        if (!m_pending.isEmpty())
            Q_EMIT lineRead(QString::fromLocal8Bit(std::exchange(m_pending, {})));
        Q_EMIT inputEnded();
    }
}
