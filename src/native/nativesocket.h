#pragma once

#include <QHostAddress>
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
    Fault, // reset by the peer (or a timeout the platform does not tell apart)
    TimedOut, // keepalive probes or a retransmitted frame went unanswered
    Unknown, // the platform could not say
};

// A second descriptor for the same connection. Qt closes its own descriptor when the
// connection ends; this one keeps the kernel's view of how it ended readable.
Descriptor duplicate(Descriptor descriptor);
void close(Descriptor descriptor);
Ending ending(Descriptor descriptor);

// Bytes handed to the kernel that the peer has not acknowledged, also after the connection
// ended (read from a descriptor still open); nothing when the platform cannot tell.
std::optional<qint64> unacknowledgedBytes(Descriptor descriptor);

// The address at the other end of a connected descriptor; null when it cannot be read.
QHostAddress peerAddress(Descriptor descriptor);

// A peer that vanished without closing (cable pulled, power lost) turns into a socket
// fault after about idleSeconds of silence (keepalive probes, idle + interval * count),
// or unacknowledgedSeconds after a frame it did not acknowledge. A peer that stops reading
// counts as gone too once its full window has held frames back that long.
bool setDeadPeerTimeouts(Descriptor descriptor, int idleSeconds, int unacknowledgedSeconds);

// Linux reports unacknowledged data as timed out about 0.45 s after its user timeout runs
// out (measured: 5.5 s for 5000 ms), so the timeout is set that much shorter, with room to
// spare; never below half the aimed time, or one lost segment would end the link.
inline constexpr int UnacknowledgedMarginMs = 750;
constexpr int userTimeoutMs(int unacknowledgedSeconds)
{
    const int aimed = unacknowledgedSeconds * 1000;
    return aimed - UnacknowledgedMarginMs > aimed / 2 ? aimed - UnacknowledgedMarginMs : aimed / 2;
}

// How the keepalive total is split: three probes, the first after the rest of the time.
struct Probing
{
    int idleSeconds;
    int intervalSeconds;
    int count;
};
constexpr Probing probing(int totalSeconds)
{
    const int count = 3;
    const int interval = totalSeconds >= 10 ? totalSeconds / 5 : 1;
    const int idle = totalSeconds - interval * count;
    return {idle > 0 ? idle : 1, interval, count};
}

} // namespace NativeSocket
