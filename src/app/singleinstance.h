#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// One panel per user session: a lock file in the user's runtime folder, which a crashed
// panel does not leave held, and a local socket by which a second start asks the running
// panel to come to the front.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // folder: where the lock and the socket live (the user's runtime folder).
    explicit SingleInstance(const QString &folder, QObject *parent = nullptr);
    ~SingleInstance() override;

    enum class Claim { First, AlreadyRunning, Unavailable };
    // First: this process is the panel and now answers later starts.
    // Unavailable: the lock cannot be made at all (errorText() says why).
    Claim claim();
    QString errorText() const { return m_error; }

    // From a second start: asks the running panel to show itself, waiting for one that is
    // still starting. False when it did not answer within 20 s.
    bool askRunningToShow();

    static QString defaultFolder();

Q_SIGNALS:
    void showRequested();

private:
    void onNewConnection();
    bool takeOwnNumbersLock();

    QString m_folder;
    QLockFile m_lock;
    QLocalServer *m_server = nullptr;
    QString m_error;
};
