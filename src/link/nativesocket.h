#pragma once

#include <QtGlobal>

#include <optional>

// The one place with operating-system socket calls (Linux and Windows). Everything else
// in the program reaches the network through Qt.
namespace NativeSocket {

using Descriptor = qintptr;
inline constexpr Descriptor Invalid = -1;

// How a connection ended, read from the kernel's TCP state of a descriptor that is
// still open.
enum class Ending {
    Orderly, // the peer sent FIN
    Fault, // reset by the peer, keepalive or retransmission timeout
    Unknown,
};

// A second descriptor for the same connection. Qt closes its own descriptor when the
// connection ends; this one keeps the kernel's view of how it ended readable.
Descriptor duplicate(Descriptor descriptor);
void close(Descriptor descriptor);
Ending ending(Descriptor descriptor);

// Probes an idle connection so that a peer that vanished without closing (cable pulled,
// power lost) turns into a socket fault after about idle + interval * count seconds.
// Unacknowledged data is given up after the same time.
bool enableKeepAlive(Descriptor descriptor, int idleSeconds, int intervalSeconds, int count);

// The keepalive settings as the kernel holds them, so they can be checked.
struct KeepAlive
{
    bool enabled = false;
    int idleSeconds = 0;
    int intervalSeconds = 0;
    int count = 0;
    int userTimeoutMs = 0; // how long unacknowledged data is retried
};
std::optional<KeepAlive> keepAlive(Descriptor descriptor);

} // namespace NativeSocket
