#include "historysink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "logtext.h"
#include "userconsole.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<HistorySink *> installedSink {nullptr};

// Lines are written together at most this long after the first of them is logged.
constexpr std::chrono::milliseconds GatherTime {200};

// How long quitting, or a fatal message, waits for the disk: a writer stuck on a pipe
// nobody reads or a hung share is left behind after this.
constexpr std::chrono::milliseconds StuckWait {1500};

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

quint64 lineCount(QByteArrayView text)
{
    return quint64(text.count('\n'));
}

// The end of the whole lines from start that fit in room bytes; start when none does.
qsizetype wholeLines(const QByteArray &batch, qsizetype start, qint64 room)
{
    qsizetype end = start;
    while (end < batch.size()) {
        qsizetype next = batch.indexOf('\n', end) + 1;
        if (next == 0)
            next = batch.size();
        if (next - start > room)
            break;
        end = next;
    }
    return end;
}

QByteArray historyNote(const QString &text)
{
    return HistorySink::formatLine(QDateTime::currentDateTime(), QtWarningMsg, "korvan.history",
                                   text);
}

} // namespace

// Everything the writer's thread touches. The sink and the thread own it together, so a
// thread left behind on a stuck disk never reaches into a sink that is gone.
class HistorySink::Writer
{
public:
    explicit Writer(Options options)
        : m_options(std::move(options))
    {
    }

    void run();
    void append(QByteArray line);
    // False when the writer did not catch up within StuckWait.
    bool flush();
    // Asks the writer to write what is queued and end; false when it did not within
    // StuckWait.
    bool stop();
    // From now on the writer calls nobody back; tells the caller why.
    void leaveBehind();

private:
    void write(const QByteArray &batch);
    QByteArray notes() const;
    bool reopen();
    bool open();
    bool rotationDue() const;
    bool rotate();
    void rotationFailed(const QString &reason);
    void fail(const QString &reason);
    void tell(const QString &warning);

    const Options m_options;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::deque<QByteArray> m_queue;
    quint64 m_queuedCount = 0;
    quint64 m_writtenCount = 0;
    quint64 m_dropped = 0;
    bool m_stop = false;
    bool m_flushWanted = false;
    bool m_ended = false;

    // Held while the caller's warn is called, and to stop calling it.
    std::mutex m_callerMutex;
    bool m_abandoned = false;

    // Writer thread only.
    QFile m_file;
    bool m_warned = false;
    std::optional<Clock::time_point> m_failedAt;
    quint64 m_lost = 0;
    std::optional<Clock::time_point> m_rotationFailedAt;
    bool m_rotationWarned = false;
    // Said in the history at the first line that can be written.
    QByteArray m_rotationNote;
};

HistorySink::HistorySink(Options options)
    : m_path(options.path)
    , m_writer(std::make_shared<Writer>(std::move(options)))
{
    m_thread = std::thread([writer = m_writer] { writer->run(); });
}

HistorySink::~HistorySink()
{
    if (m_installed) {
        installedSink = nullptr;
        qInstallMessageHandler(m_previous);
    }
    if (m_writer->stop()) {
        m_thread.join();
        return;
    }
    m_writer->leaveBehind();
    m_thread.detach();
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
    m_writer->append(formatLine(QDateTime::currentDateTime(), type, category, message));
}

void HistorySink::flush()
{
    m_writer->flush();
}

void HistorySink::Writer::append(QByteArray line)
{
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

bool HistorySink::Writer::flush()
{
    std::unique_lock lock(m_mutex);
    const quint64 target = m_queuedCount;
    m_flushWanted = true;
    m_wake.notify_one();
    const auto caughtUp = [&] {
        return m_writtenCount >= target || m_ended;
    };
    return m_written.wait_for(lock, StuckWait, caughtUp);
}

bool HistorySink::Writer::stop()
{
    std::unique_lock lock(m_mutex);
    m_stop = true;
    m_wake.notify_one();
    return m_written.wait_for(lock, StuckWait, [this] { return m_ended; });
}

void HistorySink::Writer::leaveBehind()
{
    const std::lock_guard lock(m_callerMutex);
    m_abandoned = true;
    const QString warning = QStringLiteral("korvan: the history file %1 did not take the last "
                                           "lines within %2 s; the panel ends without them.\n")
                                .arg(QDir::toNativeSeparators(m_options.path))
                                .arg(double(StuckWait.count()) / 1000);
    if (m_options.warn)
        m_options.warn(warning);
    else
        UserConsole::print(UserConsole::Stream::Error, warning);
}

void HistorySink::Writer::run()
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
            batch = historyNote(QStringLiteral("%1 lines left out: they came faster than "
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
    m_ended = true;
    m_written.notify_all();
}

void HistorySink::Writer::write(const QByteArray &batch)
{
    if (m_options.copyToStderr)
        UserConsole::print(UserConsole::Stream::Error, QString::fromUtf8(batch));
    if (!m_file.isOpen() && !reopen()) {
        m_lost += lineCount(batch);
        return;
    }
    // Whole lines only, as many as the file has room for; then the next file, and when that
    // cannot be made, this one up to twice its cap. A failed rotation is not tried again in
    // the same batch.
    bool renamesFailed = false;
    qsizetype start = 0;
    while (start < batch.size() && m_file.isOpen()) {
        const QByteArray lead = notes();
        const qint64 used = m_file.size() + lead.size();
        qsizetype end = wholeLines(batch, start, m_options.fileBytes - used);
        if (end == start && m_file.size() > 0) {
            if (!renamesFailed && rotationDue()) {
                renamesFailed = !rotate();
                continue;
            }
            end = wholeLines(batch, start, 2 * m_options.fileBytes - used);
            if (end == start)
                break;
        } else if (end == start) {
            // One line longer than a whole file still goes in, alone.
            end = batch.indexOf('\n', start) + 1;
            if (end == 0)
                end = batch.size();
        }
        const QByteArray chunk = lead + batch.sliced(start, end - start);
        if (m_file.write(chunk) != chunk.size()) {
            m_lost += lineCount(QByteArrayView(batch).sliced(start));
            fail(m_file.errorString());
            return;
        }
        m_lost = 0;
        m_rotationNote.clear();
        start = end;
    }
    m_lost += lineCount(QByteArrayView(batch).sliced(start));
}

QByteArray HistorySink::Writer::notes() const
{
    if (m_lost == 0)
        return m_rotationNote;
    return m_rotationNote
        + historyNote(QStringLiteral("%1 lines could not be written before this one").arg(m_lost));
}

bool HistorySink::Writer::reopen()
{
    if (m_failedAt && Clock::now() - *m_failedAt < std::chrono::seconds(m_options.retrySeconds))
        return false;
    return open();
}

bool HistorySink::Writer::open()
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
    m_failedAt.reset();
    return true;
}

bool HistorySink::Writer::rotationDue() const
{
    return !m_rotationFailedAt
        || Clock::now() - *m_rotationFailedAt >= std::chrono::seconds(m_options.retrySeconds);
}

// Afterwards the file open is the next one, or this one again when the renames failed.
bool HistorySink::Writer::rotate()
{
    // Closed first: Windows renames no open file.
    m_file.close();
    const QString &path = m_options.path;
    const auto old = [&path](int n) -> QString {
        return path + QLatin1Char('.') + QString::number(n);
    };
    QFile current(path);
    bool rotated = false;
    if (m_options.oldFiles > 0) {
        // A rename onto a name still taken fails, and so does each one after it.
        QFile::remove(old(m_options.oldFiles));
        for (int n = m_options.oldFiles - 1; n >= 1; --n)
            QFile::rename(old(n), old(n + 1));
        rotated = current.rename(old(1));
    } else {
        rotated = current.remove();
    }
    if (rotated) {
        m_rotationFailedAt.reset();
        m_rotationWarned = false;
    } else {
        rotationFailed(current.errorString());
    }
    open();
    return rotated;
}

void HistorySink::Writer::rotationFailed(const QString &reason)
{
    m_rotationFailedAt = Clock::now();
    if (m_rotationWarned)
        return;
    m_rotationWarned = true;
    // Once for as long as it fails: the file goes on, bounded, and the next rotation is a
    // while away, not at the next line.
    const QString message = QStringLiteral("the history file %1 cannot be rotated (%2); it "
                                           "takes up to %3 bytes, lines past that are counted, "
                                           "and rotation is tried again every %4 s")
                                .arg(QDir::toNativeSeparators(m_options.path), reason)
                                .arg(2 * m_options.fileBytes)
                                .arg(m_options.retrySeconds);
    m_rotationNote = historyNote(message);
    tell(QStringLiteral("korvan: ") + message + QStringLiteral(".\n"));
}

void HistorySink::Writer::fail(const QString &reason)
{
    m_file.close();
    m_failedAt = Clock::now();
    if (m_warned)
        return;
    m_warned = true;
    // Once only: the panel goes on without its history until the disk takes it again.
    tell(QStringLiteral("korvan: the history cannot be written to %1 (%2); the panel goes on "
                        "and tries again every %3 s.\n")
             .arg(QDir::toNativeSeparators(m_options.path), reason)
             .arg(m_options.retrySeconds));
}

void HistorySink::Writer::tell(const QString &warning)
{
    if (!m_options.warn) {
        UserConsole::print(UserConsole::Stream::Error, warning);
        return;
    }
    // The caller's warn may capture what ends with the sink: a writer left behind is quiet.
    const std::lock_guard lock(m_callerMutex);
    if (!m_abandoned)
        m_options.warn(warning);
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
    return UserConsole::stderrIsWatched();
}
