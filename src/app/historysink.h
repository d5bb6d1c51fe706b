#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <thread>

// The history: every message of Qt's logging (the categories korvan.panel and korvan.link,
// and Qt's own warnings) as one timestamped line in a size-capped set of rotating files,
// and on standard error when someone reads it there. A thread of its own writes the
// files, so a slow or full disk never holds up the window.
class HistorySink
{
public:
    struct Options
    {
        QString path;
        // One file's cap; the oldest of path.1 … path.N is dropped when path is full.
        qint64 fileBytes = 1024 * 1024;
        int oldFiles = 4;
        bool copyToStderr = false;
        // Lines waiting for the writer; beyond this a flood is counted, not kept.
        qsizetype queueLines = 10000;
        // Told once when the file cannot be written, once when it cannot be rotated, and
        // when the writer is left behind; standard error when not set. Called from the
        // writer's thread too, never once the sink is gone.
        std::function<void(const QString &)> warn;
        // A file that failed, or a rotation that failed, is tried again this much later.
        int retrySeconds = 30;
    };

    explicit HistorySink(Options options);
    // Writes what is queued, then stops; the message handler before install() returns.
    // A writer stuck on the disk is left behind after a moment: quitting never hangs on it.
    ~HistorySink();
    HistorySink(const HistorySink &) = delete;
    HistorySink &operator=(const HistorySink &) = delete;

    // From now on every message of the process comes here.
    void install();

    // Formats and queues one message; never waits for the disk.
    void append(QtMsgType type, const char *category, const QString &message);
    // Waits until everything queued so far has been written, or a moment when the disk is
    // stuck.
    void flush();

    QString path() const { return m_path; }

    // history.log in the user's application data folder.
    static QString defaultPath();
    // Standard error is a terminal or the system journal.
    static bool stderrIsWatched();
    static QByteArray formatLine(const QDateTime &time, QtMsgType type, const char *category,
                                 const QString &message);

private:
    class Writer;

    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QString m_path;
    QtMessageHandler m_previous = nullptr;
    bool m_installed = false;
    // Shared with the writer's thread, which may outlive this object.
    std::shared_ptr<Writer> m_writer;
    std::thread m_thread;
};
