// Operating-system socket calls, Linux and Windows. Keep all of them in this file.
#ifdef _WIN32
// SIO_TCP_INFO is declared for Windows 10 1703 and later only; on older systems the call
// fails and ending() falls back.
#    ifndef NTDDI_VERSION
#        define NTDDI_VERSION 0x0A000003
#    endif
#endif

#include "nativesocket.h"

#ifdef Q_OS_WIN
// winsock2.h first, in a block of its own: the other two need what it declares.
#    include <winsock2.h>

#    include <mstcpip.h>
#    include <ws2tcpip.h>
// The TCP option numbers of ws2ipdef.h, missing from MinGW-w64's headers.
#    ifndef TCP_KEEPALIVE
#        define TCP_KEEPALIVE 3
#    endif
#    ifndef TCP_MAXRT
#        define TCP_MAXRT 5
#    endif
#    ifndef TCP_KEEPCNT
#        define TCP_KEEPCNT 16
#    endif
#    ifndef TCP_KEEPINTVL
#        define TCP_KEEPINTVL 17
#    endif
#    ifndef TCP_KEEPIDLE
#        define TCP_KEEPIDLE TCP_KEEPALIVE
#    endif
#else
#    include <fcntl.h>
#    include <linux/sockios.h>
#    include <netinet/in.h>
#    include <netinet/tcp.h>
#    include <sys/ioctl.h>
#    include <sys/socket.h>
#    include <unistd.h>
#endif

namespace NativeSocket {

#ifdef Q_OS_WIN

Descriptor duplicate(Descriptor descriptor)
{
    WSAPROTOCOL_INFOW info {};
    if (WSADuplicateSocketW(SOCKET(descriptor), GetCurrentProcessId(), &info) != 0)
        return Invalid;
    const SOCKET copy = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                   &info, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return copy == INVALID_SOCKET ? Invalid : Descriptor(copy);
}

void close(Descriptor descriptor)
{
    if (descriptor != Invalid)
        ::closesocket(SOCKET(descriptor));
}

namespace {

bool isReset(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENETRESET
        || error == WSAETIMEDOUT;
}

// Without the TCP state (Windows before 10 1703, Wine) the socket itself tells: a reset or
// timeout leaves an error condition and no peer address, a FIN leaves the peer and reads
// as end of data. Wine answers a read after a consumed reset with end of data too, so the
// read comes last.
Ending endingWithoutTcpInfo(SOCKET s)
{
    int pending = 0;
    int length = int(sizeof pending);
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&pending), &length) == 0
        && pending != 0)
        return isReset(pending) ? Ending::Fault : Ending::Unknown;
    // Never block: a connection that has not ended has nothing to tell yet.
    WSAPOLLFD poll {};
    poll.fd = s;
    poll.events = POLLRDNORM;
    if (WSAPoll(&poll, 1, 0) != 1)
        return Ending::Unknown;
    if ((poll.revents & POLLERR) != 0)
        return Ending::Fault;
    sockaddr_storage peer {};
    int peerLength = int(sizeof peer);
    if (getpeername(s, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0)
        return WSAGetLastError() == WSAENOTCONN ? Ending::Fault : Ending::Unknown;
    char byte = 0;
    const int got = recv(s, &byte, 1, MSG_PEEK);
    if (got == 0)
        return Ending::Orderly;
    if (got == SOCKET_ERROR && isReset(WSAGetLastError()))
        return Ending::Fault;
    return Ending::Unknown;
}

} // namespace

Ending ending(Descriptor descriptor)
{
    const SOCKET s = SOCKET(descriptor);
    DWORD version = 0;
    TCP_INFO_v0 info {};
    DWORD returned = 0;
    if (WSAIoctl(s, SIO_TCP_INFO, &version, sizeof version, &info, sizeof info, &returned, nullptr,
                 nullptr)
        != 0)
        return endingWithoutTcpInfo(s);
    // As on Linux: a reset or timeout ends in Closed, a FIN leaves CloseWait while this
    // descriptor stays open.
    if (info.State == TCPSTATE_CLOSED)
        return Ending::Fault;
    return info.State == TCPSTATE_CLOSE_WAIT ? Ending::Orderly : Ending::Unknown;
}

std::optional<qint64> unacknowledgedBytes(Descriptor descriptor)
{
    DWORD version = 0;
    TCP_INFO_v0 info {};
    DWORD returned = 0;
    if (WSAIoctl(SOCKET(descriptor), SIO_TCP_INFO, &version, sizeof version, &info, sizeof info,
                 &returned, nullptr, nullptr)
        != 0)
        return std::nullopt;
    return qint64(info.BytesInFlight);
}

bool setDeadPeerTimeouts(Descriptor descriptor, int idleSeconds, int unacknowledgedSeconds)
{
    const Probing probe = probing(idleSeconds);
    const SOCKET s = SOCKET(descriptor);
    auto set = [s](int level, int name, DWORD value) {
        return setsockopt(s, level, name, reinterpret_cast<const char *>(&value), sizeof value)
            == 0;
    };
    const DWORD idle = DWORD(probe.idleSeconds), interval = DWORD(probe.intervalSeconds),
                probes = DWORD(probe.count);
    if (!set(SOL_SOCKET, SO_KEEPALIVE, TRUE))
        return false;
    if (set(IPPROTO_TCP, TCP_KEEPIDLE, idle) && set(IPPROTO_TCP, TCP_KEEPINTVL, interval)
        && set(IPPROTO_TCP, TCP_KEEPCNT, probes)) {
        set(IPPROTO_TCP, TCP_MAXRT, DWORD(unacknowledgedSeconds));
        return true;
    }
    // Windows before 10 1709 and Wine know only the older call: the same idle time and
    // interval, with the system's own probe count (10).
    tcp_keepalive values {};
    values.onoff = 1;
    values.keepalivetime = idle * 1000;
    values.keepaliveinterval = interval * 1000;
    DWORD returned = 0;
    return WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
                    nullptr)
        == 0;
}

#else

Descriptor duplicate(Descriptor descriptor)
{
    const int copy = ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
    return copy < 0 ? Invalid : Descriptor(copy);
}

void close(Descriptor descriptor)
{
    if (descriptor != Invalid)
        ::close(int(descriptor));
}

Ending ending(Descriptor descriptor)
{
    tcp_info info {};
    socklen_t length = sizeof info;
    if (::getsockopt(int(descriptor), IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return Ending::Unknown;
    // A reset or timeout takes the connection straight to CLOSE; a FIN leaves it in
    // CLOSE_WAIT while this descriptor stays open. A timeout leaves its unanswered probes
    // or retransmissions counted.
    if (info.tcpi_state != TCP_CLOSE)
        return Ending::Orderly;
    return info.tcpi_probes > 0 || info.tcpi_retransmits > 0 ? Ending::TimedOut : Ending::Fault;
}

bool setDeadPeerTimeouts(Descriptor descriptor, int idleSeconds, int unacknowledgedSeconds)
{
    const int fd = int(descriptor);
    const int on = 1;
    const Probing probe = probing(idleSeconds);
    // Linux gives up on an idle peer at the first probe due after this time too, so an
    // idle link can be declared dead before the keepalive total: never later.
    const auto userTimeout = unsigned(userTimeoutMs(unacknowledgedSeconds));
    bool ok = ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
    ok = ok
        && ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &probe.idleSeconds, sizeof probe.idleSeconds)
            == 0;
    ok = ok
        && ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &probe.intervalSeconds,
                        sizeof probe.intervalSeconds)
            == 0;
    ok = ok && ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probe.count, sizeof probe.count) == 0;
    ok = ok
        && ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout) == 0;
    return ok;
}

std::optional<qint64> unacknowledgedBytes(Descriptor descriptor)
{
    // Sent but not acknowledged, plus not yet sent: what the peer may never have had.
    int queued = 0;
    if (::ioctl(int(descriptor), SIOCOUTQ, &queued) != 0)
        return std::nullopt;
    return qint64(queued);
}

#endif

QHostAddress peerAddress(Descriptor descriptor)
{
    sockaddr_storage address {};
    socklen_t length = sizeof address;
#ifdef Q_OS_WIN
    const SOCKET handle = SOCKET(descriptor);
#else
    const int handle = int(descriptor);
#endif
    if (::getpeername(handle, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return {};
    return QHostAddress(reinterpret_cast<const sockaddr *>(&address));
}

} // namespace NativeSocket
