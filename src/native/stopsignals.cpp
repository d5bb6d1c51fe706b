// Operating-system signal calls (Linux). Keep all of them in this file.
#include "stopsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#    include <cerrno>
#    include <csignal>

#    include <sys/socket.h>
#    include <unistd.h>
#endif

#ifdef Q_OS_UNIX

namespace {

constexpr int Handled[] = {SIGTERM, SIGINT, SIGHUP};

// The handler may only do what is async-signal-safe: it writes the number to a socket
// pair that the event loop watches.
int pairFds[2] = {-1, -1};
struct sigaction previousActions[std::size(Handled)];
volatile std::sig_atomic_t stopPending = 0;

extern "C" void onStopSignal(int number)
{
    if (stopPending) {
        ::signal(number, SIG_DFL);
        ::raise(number);
        return;
    }
    stopPending = 1;
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(pairFds[0], &byte, 1);
    errno = savedErrno;
}

QString signalName(int number)
{
    switch (number) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(number);
    }
}

} // namespace

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
    if (pairFds[0] != -1
        || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pairFds) != 0)
        return;
    stopPending = 0;
    m_notifier = new QSocketNotifier(pairFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::readSignal);
    struct sigaction action
    {
    };
    action.sa_handler = &onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(Handled); ++i)
        ::sigaction(Handled[i], &action, &previousActions[i]);
}

StopSignals::~StopSignals()
{
    if (!m_notifier)
        return;
    for (size_t i = 0; i < std::size(Handled); ++i)
        ::sigaction(Handled[i], &previousActions[i], nullptr);
    delete m_notifier;
    for (int &fd : pairFds)
        ::close(std::exchange(fd, -1));
}

void StopSignals::readSignal()
{
    unsigned char byte = 0;
    if (::read(pairFds[1], &byte, 1) != 1)
        return;
    Q_EMIT stopRequested(signalName(byte));
}

#else

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
}

StopSignals::~StopSignals() = default;

void StopSignals::readSignal()
{
}

#endif
