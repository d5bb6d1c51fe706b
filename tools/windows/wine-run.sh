#!/bin/sh
# The cross-compiled tests' emulator: runs one Windows program under Wine inside the
# session that tools/windows/wine-session.sh set up.
#
# Wine drops Unix QT_* variables on the way into a Windows process; WINEQT_X arrives as
# QT_X, so each QT_* variable is passed on under that name.
set -eu
if [ -z "${KORVAN_WINE_SESSION:-}" ]; then
    echo "$0: run inside tools/windows/wine-session.sh (make windows-test does)" >&2
    exit 2
fi
for name in $(env | sed -n 's/^\(QT_[A-Za-z0-9_]*\)=.*/\1/p'); do
    eval "export WINE$name=\"\$$name\""
done
# A console program's messages go to standard error, not to the debugger channel.
export WINEQT_FORCE_STDERR_LOGGING=1
# The offscreen platform looks for fonts inside Qt's own folder unless told.
export WINEQT_QPA_FONTDIR=Z:/usr/share/fonts/truetype/dejavu
# The first window of a session makes Wine start its desktop process, which inherits the
# Unix descriptors of whichever program started it and outlives that program: given the
# test's output pipe, it kept ctest waiting until the timeout. So the program writes to a
# file, which the pipe follows until the program ends.
out=$(mktemp "${TMPDIR:-/tmp}/korvan-wine-run.XXXXXX")
trap 'rm -f "$out"' EXIT
/usr/lib/wine/wine64 "$@" </dev/null >"$out" 2>&1 &
program=$!
trap 'kill "$program" 2>/dev/null; exit 143' TERM INT
tail -n +1 -s 0.2 -f --pid="$program" "$out" &
follower=$!
status=0
wait "$program" || status=$?
wait "$follower" || true
exit "$status"
