#!/bin/sh
# Resident memory and start-up time of the Windows panel under Wine, beside a plain Qt
# window of the same build: the panel's own message box, which a bad option shows when
# there is no console. Also the largest Linux libraries each one maps (Wine's OpenGL stack
# among them) and which Windows DLLs brought the OpenGL ones in. A measurement, not a test.
#
#   tools/windows/memory.sh KORVAN_EXE
set -eu
[ $# -eq 1 ] || { echo "usage: $0 KORVAN_EXE" >&2; exit 2; }
# shellcheck source=tools/windows/wine-session.sh
. "$(dirname "$0")/wine-session.sh"
session_enter memory "$0" "$@"
check_begin MEMORY
KORVAN=$1

measure() { # label, arguments...
    label=$1
    shift
    t0=$(date +%s%N)
    "$WINE" "$KORVAN" "$@" </dev/null >"$work/$label.log" 2>&1 &
    wid=$(timeout 120 xdotool search --sync --onlyvisible --name '^Korvan$' | head -n 1)
    t1=$(date +%s%N)
    # Let it finish painting before reading what it holds.
    sleep 3
    pid=$(pgrep -x korvan.exe | head -n 1)
    rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")
    echo "$label: window after $(((t1 - t0) / 1000000)) ms, resident $((rss / 1024)) MiB"
    awk '/^[0-9a-f]+-[0-9a-f]+ / { name = $6 } /^Rss:/ && name != "" { kb[name] += $2 }
         END { for (n in kb) if (kb[n] >= 2048) printf "  %6.1f MiB  %s\n", kb[n] / 1024, n }' \
        "/proc/$pid/smaps" | sort -rn | head -n 12
    xdotool key --window "$wid" Return 2>/dev/null || true
    "$WINE" taskkill /f /im korvan.exe >/dev/null 2>&1 || true
    sleep 2
}

measure panel
measure box --bogus
echo "DLLs loaded by the panel up to OpenGL:"
WINEDEBUG=+loaddll "$WINE" "$KORVAN" </dev/null >"$work/loaddll.log" 2>&1 &
timeout 120 xdotool search --sync --onlyvisible --name '^Korvan$' >/dev/null
sleep 3
"$WINE" taskkill /f /im korvan.exe >/dev/null 2>&1 || true
grep -o 'Loaded L"[^"]*"' "$work/loaddll.log" | sed 's/Loaded L"//; s/"$//' \
    | sed -n '1,/opengl32/p' | tail -n 15
