#!/bin/sh
# Prints the figures the storm, flood and fault tests reported in a ctest log, then what
# each kind of figure means. The tests assert what must hold; these figures are for a
# person reading the run, measured under the sanitizers on a shared machine.
# Usage: robustness-summary.sh build/sanitizers/Testing/Temporary/LastTest.log
log=${1:?usage: robustness-summary.sh LastTest.log}
[ -r "$log" ] || { echo "robustness-summary: cannot read $log" >&2; exit 1; }

# "QINFO  : TestCase::function(row) text"; lines of the panel's own history (a logging
# category such as "korvan.link: ...") are not figures.
figures=$(grep -h "QINFO" "$log" | sed 's/^.*QINFO *: \([^:]*\)::[^(]*([^)]*) /  \1: /' \
    | grep -v '^  [^:]*: [a-z]*\.[a-z.]*: ')
if [ -z "$figures" ]; then
    echo "Robustness figures: none reported."
    exit 0
fi
echo "Robustness figures (under AddressSanitizer, everyday sizes; 'make stress' runs full size):"
echo "$figures"
echo "What they mean:"
explain() {
    if echo "$figures" | grep -qi -- "$1"; then
        echo "$2" | fold -s -w 92 | sed 's/ *$//; 1s/^/  - /; 2,$s/^/    /'
    fi
}
explain "cycles survived" "cycles survived: controller connections opened and ended in \
each of the ways the test plays (a clean close, a reset, a silent peer and the like); \
after every one the socket must serve the next controller."
explain "descriptors" "descriptors before/after: open file descriptors of the test process \
before and after the storm; more after would be a leaked socket."
explain "kernel full" "kernel full after N presses: frames the kernel's socket buffers took \
from a controller that never reads, before the panel had to keep them itself."
explain "write buffer" "bytes in the panel's write buffer: what the panel holds for a \
controller that does not read; never more than the frames pressed."
explain "flood:" "flood: bytes a controller sent as fast as it could; every press during and \
after it must still send its frame, and the inputs must show the last text."
explain "from before kept" "history storm: refused strangers (the full storm spread over a \
minute) and input changes as fast as the window takes them, into a real capped history \
already half full; the lines written before must all stay, and the lines and summaries \
add up to every event. 'One line per event' is what the history would have taken without \
the summaries."
explain "Vanished" "vanished controller noticed after: time from the controller's packets \
being dropped until the panel noticed the dead connection (keepalive when the link is idle, \
the unacknowledged-data timeout after a frame), beside the aim it must meet."
