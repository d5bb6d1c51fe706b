#include "historysink.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>
#include <chrono>
#include <cstdio>

#include "logtext.h"

namespace {

std::atomic<HistorySink *> installedSink {nullptr};

// Lines are written together at most this long after the first of them is logged.
constexpr std::chrono::milliseconds GatherTime {200};

// After a failed write the disk is tried again this much later, not on every line.
constexpr int RetrySeconds = 30;

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "info";
}

void toStderr(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace

HistorySink::HistorySink(Options options)
    : m_options(std::move(options))
{
    m_thread = std::thread([this] { run(); });
}

HistorySink::~HistorySink()
{
    if (m_installed) {
        installedSink = nullptr;
        qInstallMessageHandler(m_previous);
    }
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void HistorySink::install()
{
    installedSink = this;
    m_previous = qInstallMessageHandler(&HistorySink::handle);
    m_installed = true;
}

void HistorySink::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    HistorySink *sink = installedSink;
    if (!sink)
        return;
    sink->append(type, context.category, message);
    // Qt aborts after a fatal message: it must be on disk first.
    if (type == QtFatalMsg)
        sink->flush();
}

QByteArray HistorySink::formatLine(const QDateTime &time, QtMsgType type, const char *category,
                                   const QString &message)
{
    // With its offset from UTC, so that lines read across a clock change stay in order.
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8() + ' '
        + levelName(type) + ' ' + (category ? category : "default") + ": "
        + LogText::singleLine(message).toUtf8() + '\n';
}

void HistorySink::append(QtMsgType type, const char *category, const QString &message)
{
    QByteArray line = formatLine(QDateTime::currentDateTime(), type, category, message);
    {
        const std::lock_guard lock(m_mutex);
        if (qsizetype(m_queue.size()) >= m_options.queueLines) {
            ++m_dropped;
            return;
        }
        m_queue.push_back(std::move(line));
        ++m_queuedCount;
        // The writer gathers lines for a moment; waking it for each would cost the window a
        // thread switch per line.
        if (m_queue.size() != 1 && qsizetype(m_queue.size()) != m_options.queueLines / 2)
            return;
    }
    m_wake.notify_one();
}

void HistorySink::flush()
{
    std::unique_lock lock(m_mutex);
    const quint64 target = m_queuedCount;
    m_flushWanted = true;
    m_wake.notify_one();
    m_written.wait(lock, [&] { return m_writtenCount >= target || m_stop; });
}

void HistorySink::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.empty() || m_dropped > 0; });
        m_wake.wait_for(lock, GatherTime, [this] {
            const bool halfFull = qsizetype(m_queue.size()) >= m_options.queueLines / 2;
            return m_stop || m_flushWanted || halfFull;
        });
        m_flushWanted = false;
        if (m_queue.empty() && m_dropped == 0 && m_stop)
            break;
        QByteArray batch;
        quint64 taken = 0;
        if (m_dropped > 0) {
            batch = formatLine(QDateTime::currentDateTime(), QtWarningMsg, "korvan.history",
                               QStringLiteral("%1 lines left out: they came faster than "
                                              "they could be written")
                                   .arg(m_dropped));
            m_dropped = 0;
        }
        while (!m_queue.empty()) {
            batch += m_queue.front();
            m_queue.pop_front();
            ++taken;
        }
        lock.unlock();
        write(batch);
        lock.lock();
        m_writtenCount += taken;
        m_written.notify_all();
    }
    m_file.close();
}

void HistorySink::write(const QByteArray &batch)
{
    if (m_options.copyToStderr)
        toStderr(batch);
    if (!m_file.isOpen()) {
        if (m_failedAt.isValid()
            && m_failedAt.secsTo(QDateTime::currentDateTimeUtc()) < RetrySeconds) {
            m_lost += quint64(batch.count('\n'));
            return;
        }
        if (!open()) {
            m_lost += quint64(batch.count('\n'));
            return;
        }
        if (m_lost > 0) {
            const QByteArray note = formatLine(
                QDateTime::currentDateTime(), QtWarningMsg, "korvan.history",
                QStringLiteral("%1 lines could not be written before this one").arg(m_lost));
            m_file.write(note);
            m_lost = 0;
        }
    }
    // Whole lines only, as many as the file has room for; then the next file.
    qsizetype start = 0;
    while (start < batch.size() && m_file.isOpen()) {
        const qint64 room = m_options.fileBytes - m_file.size();
        qsizetype end = start;
        while (end < batch.size()) {
            qsizetype next = batch.indexOf('\n', end) + 1;
            if (next == 0)
                next = batch.size();
            if (next - start > room)
                break;
            end = next;
        }
        if (end == start) {
            if (m_file.size() > 0) {
                rotate();
                continue;
            }
            // One line longer than a whole file still goes in, alone.
            end = batch.indexOf('\n', start) + 1;
            if (end == 0)
                end = batch.size();
        }
        if (m_file.write(batch.constData() + start, end - start) != end - start) {
            m_lost += quint64(batch.sliced(start).count('\n'));
            fail(m_file.errorString());
            return;
        }
        start = end;
    }
    if (start < batch.size())
        m_lost += quint64(batch.sliced(start).count('\n'));
}

bool HistorySink::open()
{
    const QFileInfo info(m_options.path);
    if (!QDir().mkpath(info.absolutePath())) {
        fail(QStringLiteral("cannot create the folder %1")
                 .arg(QDir::toNativeSeparators(info.absolutePath())));
        return false;
    }
    m_file.setFileName(m_options.path);
    // Unbuffered, so that a full disk shows at the write that hit it.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        fail(m_file.errorString());
        return false;
    }
    m_failedAt = QDateTime();
    return true;
}

void HistorySink::rotate()
{
    m_file.close();
    const QString &path = m_options.path;
    const auto old = [&path](int n) -> QString {
        return path + QLatin1Char('.') + QString::number(n);
    };
    if (m_options.oldFiles > 0) {
        QFile::remove(old(m_options.oldFiles));
        for (int n = m_options.oldFiles - 1; n >= 1; --n)
            QFile::rename(old(n), old(n + 1));
        QFile::rename(path, old(1));
    } else {
        QFile::remove(path);
    }
    open();
}

void HistorySink::fail(const QString &reason)
{
    m_file.close();
    m_failedAt = QDateTime::currentDateTimeUtc();
    if (m_warned)
        return;
    m_warned = true;
    // Once only: the panel goes on without its history until the disk takes it again.
    const QString warning = QStringLiteral("korvan: the history cannot be written to %1 (%2); "
                                           "the panel goes on and tries again every %3 s.\n")
                                .arg(QDir::toNativeSeparators(m_options.path), reason)
                                .arg(RetrySeconds);
    if (m_options.warn)
        m_options.warn(warning);
    else
        toStderr(warning.toUtf8());
}

QString HistorySink::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + QStringLiteral("/history.log");
}

bool HistorySink::stderrIsWatched()
{
    // Qt's own switch for sending its messages to standard error.
    if (qEnvironmentVariableIntValue("QT_FORCE_STDERR_LOGGING") == 1)
        return true;
#ifdef Q_OS_LINUX
    const QString target = QFile::symLinkTarget(QStringLiteral("/proc/self/fd/2"));
    if (target.startsWith(QLatin1String("/dev/pts/"))
        || target.startsWith(QLatin1String("/dev/tty")))
        return true;
    // systemd names the journal's stream "device:inode" in JOURNAL_STREAM.
    const QByteArray journal = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = journal.indexOf(':');
    return colon > 0
        && target.endsWith(QLatin1String("socket:[") + QLatin1String(journal.mid(colon + 1))
                           + QLatin1Char(']'));
#else
    return false;
#endif
}
