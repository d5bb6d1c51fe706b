// Operating-system socket calls, Linux and Windows. Keep all of them in this file.
#include "nativesocket.h"

#ifdef Q_OS_WIN
#    include <mstcpip.h>
#    include <winsock2.h>
#    include <ws2tcpip.h>
#    ifndef TCP_KEEPIDLE
#        define TCP_KEEPIDLE TCP_KEEPALIVE
#    endif
#else
#    include <fcntl.h>
#    include <netinet/in.h>
#    include <netinet/tcp.h>
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

Ending ending(Descriptor descriptor)
{
    DWORD version = 0;
    TCP_INFO_v0 info {};
    DWORD returned = 0;
    if (WSAIoctl(SOCKET(descriptor), SIO_TCP_INFO, &version, sizeof version, &info, sizeof info,
                 &returned, nullptr, nullptr)
        != 0)
        return Ending::Unknown;
    return info.State == TcpConnectionStateClosed ? Ending::Fault : Ending::Orderly;
}

bool setDeadPeerTimeouts(Descriptor descriptor, int idleSeconds, int unacknowledgedSeconds)
{
    const Probing probe = probing(idleSeconds);
    const SOCKET s = SOCKET(descriptor);
    const BOOL on = TRUE;
    bool ok
        = setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char *>(&on), sizeof on)
        == 0;
    const DWORD idle = DWORD(probe.idleSeconds), interval = DWORD(probe.intervalSeconds),
                probes = DWORD(probe.count);
    ok = ok
        && setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, reinterpret_cast<const char *>(&idle),
                      sizeof idle)
            == 0;
    ok = ok
        && setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, reinterpret_cast<const char *>(&interval),
                      sizeof interval)
            == 0;
    ok = ok
        && setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<const char *>(&probes),
                      sizeof probes)
            == 0;
    const DWORD maxRetransmit = DWORD(unacknowledgedSeconds);
    setsockopt(s, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char *>(&maxRetransmit),
               sizeof maxRetransmit);
    return ok;
}

std::optional<KeepAlive> keepAlive(Descriptor descriptor)
{
    const SOCKET s = SOCKET(descriptor);
    auto read = [s](int level, int name, DWORD &value) {
        int length = int(sizeof value);
        return getsockopt(s, level, name, reinterpret_cast<char *>(&value), &length) == 0;
    };
    DWORD on = 0, idle = 0, interval = 0, probes = 0, maxRetransmit = 0;
    if (!read(SOL_SOCKET, SO_KEEPALIVE, on) || !read(IPPROTO_TCP, TCP_KEEPIDLE, idle)
        || !read(IPPROTO_TCP, TCP_KEEPINTVL, interval) || !read(IPPROTO_TCP, TCP_KEEPCNT, probes)
        || !read(IPPROTO_TCP, TCP_MAXRT, maxRetransmit))
        return std::nullopt;
    return KeepAlive {on != 0, int(idle), int(interval), int(probes), int(maxRetransmit) * 1000};
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
    const unsigned int userTimeoutMs = unsigned(unacknowledgedSeconds) * 1000u;
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
        && ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs)
            == 0;
    return ok;
}

std::optional<KeepAlive> keepAlive(Descriptor descriptor)
{
    const int fd = int(descriptor);
    auto read = [fd](int level, int name, auto &value) {
        socklen_t length = sizeof value;
        return ::getsockopt(fd, level, name, &value, &length) == 0;
    };
    int on = 0, idle = 0, interval = 0, probes = 0;
    unsigned int userTimeoutMs = 0;
    if (!read(SOL_SOCKET, SO_KEEPALIVE, on) || !read(IPPROTO_TCP, TCP_KEEPIDLE, idle)
        || !read(IPPROTO_TCP, TCP_KEEPINTVL, interval) || !read(IPPROTO_TCP, TCP_KEEPCNT, probes)
        || !read(IPPROTO_TCP, TCP_USER_TIMEOUT, userTimeoutMs))
        return std::nullopt;
    return KeepAlive {on != 0, idle, interval, probes, int(userTimeoutMs)};
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
