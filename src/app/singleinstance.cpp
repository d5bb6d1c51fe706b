#include "singleinstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray ShowRequest = QByteArrayLiteral("show\n");
// A panel started at the same instant holds the lock before it listens, and answers once
// its window is up: that may take a while on a loaded PC.
constexpr int AnswerTimeoutMs = 20000;
constexpr int ConnectRetryMs = 100;

QString serverName(const QString &folder)
{
#ifdef Q_OS_WIN
    // Pipe names are machine-wide; the user's own folder makes them the user's.
    return QStringLiteral("korvan-")
        + QString::fromLatin1(QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1)
                                  .toHex()
                                  .left(16));
#else
    return folder + QStringLiteral("/korvan.socket");
#endif
}

} // namespace

SingleInstance::SingleInstance(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_folder(folder)
    , m_lock(folder + QStringLiteral("/korvan.lock"))
{
    // A lock is stale only when its process is gone, however long the panel has run.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

SingleInstance::Claim SingleInstance::claim()
{
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder)) {
        m_error = QStringLiteral("no runtime folder %1").arg(QDir::toNativeSeparators(m_folder));
        return Claim::Unavailable;
    }
    if (!m_lock.tryLock(0) && !takeOwnNumbersLock()) {
        if (m_lock.error() == QLockFile::LockFailedError)
            return Claim::AlreadyRunning;
        m_error = QStringLiteral("cannot create the lock file in %1")
                      .arg(QDir::toNativeSeparators(m_folder));
        return Claim::Unavailable;
    }
    // Holding the lock, any socket left there belongs to a panel that is gone.
    const QString name = serverName(m_folder);
    QLocalServer::removeServer(name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (!m_server->listen(name))
        m_error = m_server->errorString();
    return Claim::First;
}

// A lock naming this very process was left by an earlier panel that had the same process
// number: after a reboot, or under Wine, whose new sessions hand out the same numbers
// again. Qt sees that number alive under the panel's name and takes the lock as held. The
// folder is this machine's own, so the host name the lock gives (which Windows spells
// its own way) is not compared.
bool SingleInstance::takeOwnNumbersLock()
{
    qint64 pid = 0;
    QString host;
    QString application;
    return m_lock.error() == QLockFile::LockFailedError
        && m_lock.getLockInfo(&pid, &host, &application)
        && pid == QCoreApplication::applicationPid() && m_lock.removeStaleLockFile()
        && m_lock.tryLock(0);
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            const bool show = socket->readLine(64) == ShowRequest;
            // The answer tells the new start that this panel is alive and has heard it.
            socket->write(QByteArrayLiteral("ok\n"));
            socket->disconnectFromServer();
            if (show)
                Q_EMIT showRequested();
        });
    }
}

bool SingleInstance::askRunningToShow()
{
    const QDeadlineTimer deadline(AnswerTimeoutMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(serverName(m_folder));
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(ConnectRetryMs);
    }
    socket.write(ShowRequest);
    // On Windows the pipe may take the request at once, and a wait for bytes written with
    // none left to write says false.
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return socket.readLine(64) == QByteArrayLiteral("ok\n");
}
