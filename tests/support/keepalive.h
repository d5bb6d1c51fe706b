#pragma once

#include <QtGlobal>

#include <optional>

// Operating-system socket calls, for the tests only: the keepalive settings as the kernel
// holds them, so that the panel's can be checked on a live connection.
#ifdef Q_OS_WIN
#    include <winsock2.h>

#    include <ws2tcpip.h>
#else
#    include <netinet/in.h>
#    include <netinet/tcp.h>
#    include <sys/socket.h>
#endif

struct KeepAlive
{
    bool enabled = false;
    int idleSeconds = 0;
    int intervalSeconds = 0;
    int count = 0;
    int userTimeoutMs = 0; // how long unacknowledged data is retried
};

#ifdef Q_OS_WIN
inline std::optional<KeepAlive> readKeepAlive(qintptr descriptor)
{
    // ws2ipdef.h's option numbers, missing from MinGW-w64's headers.
    constexpr int KeepIdle = 3, MaxRetransmit = 5, KeepCount = 16, KeepInterval = 17;
    const SOCKET s = SOCKET(descriptor);
    auto read = [s](int level, int name, DWORD &value) {
        int length = int(sizeof value);
        return getsockopt(s, level, name, reinterpret_cast<char *>(&value), &length) == 0;
    };
    DWORD on = 0, idle = 0, interval = 0, probes = 0, maxRetransmit = 0;
    if (!read(SOL_SOCKET, SO_KEEPALIVE, on) || !read(IPPROTO_TCP, KeepIdle, idle)
        || !read(IPPROTO_TCP, KeepInterval, interval) || !read(IPPROTO_TCP, KeepCount, probes)
        || !read(IPPROTO_TCP, MaxRetransmit, maxRetransmit))
        return std::nullopt;
    return KeepAlive {on != 0, int(idle), int(interval), int(probes), int(maxRetransmit) * 1000};
}
#else
inline std::optional<KeepAlive> readKeepAlive(qintptr descriptor)
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
