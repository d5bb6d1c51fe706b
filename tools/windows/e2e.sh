#!/bin/sh
# End-to-end check of the Windows panel: korvan.exe under Wine with the real windows
# platform on Xvfb, driven by the Linux korvan-sim over loopback. The operator's clicks
# are xdotool's, at the controls' centres as the Linux korvan-screenshot, built beside
# LINUX_KORVAN_SIM, lays the window out from its table.
#
#   tools/windows/e2e.sh KORVAN_EXE LINUX_KORVAN_SIM SCREENSHOT_PNG
#
# Runs in a Wine session of its own (next to KORVAN_EXE's folder: wine-e2e/) unless
# already inside one.
set -eu
[ $# -eq 3 ] || { echo "usage: $0 KORVAN_EXE LINUX_KORVAN_SIM SCREENSHOT_PNG" >&2; exit 2; }
# shellcheck source=tools/windows/wine-session.sh
. "$(dirname "$0")/wine-session.sh"
session_enter e2e "$0" "$@"
check_begin E2E
KORVAN=$1
SIM=$2
SHOT=$3

QT_QPA_PLATFORM=offscreen "$(dirname "$SIM")/korvan-screenshot" --centres \
    >"$work/centres" 2>"$work/centres.log" || fail "korvan-screenshot --centres failed"
centre() { # control -> x y of its centre in client pixels
    awk -v name="$1" '$1 == name { print $2, $3; found = 1 } END { exit !found }' \
        "$work/centres" || fail "korvan-screenshot knows no control $1"
}
client=$(centre Form1) # the window's client size, not a centre
CLIENT_W=${client% *}
CLIENT_H=${client#* }

timeout 1200 "$WINE" "$KORVAN" >"$work/korvan.log" 2>&1 &
panel=$!
check_pids="$check_pids $panel"
wid=$(wait_window "$panel" '^Korvan$') || exit 1
eval "$(timeout 20 xdotool getwindowgeometry --shell "$wid")"
# Wine draws the frame itself when no window manager runs: the client area sits inside
# the borders and below the caption.
border=$(((WIDTH - CLIENT_W) / 2))
top=$((HEIGHT - CLIENT_H - border))
echo "window $wid: ${WIDTH}x${HEIGHT}, client area at ($border, $top)"

click() { # control
    xy=$(centre "$1")
    timeout 20 xdotool mousemove --window "$wid" $((${xy% *} + border)) $((${xy#* } + top)) click 1
}
colour() { # x y in client pixels -> RRGGBB
    timeout 60 import -window "$wid" "$work/now.png" 2>/dev/null || true
    convert "$work/now.png" -format "%[hex:p{$(($1 + border)),$(($2 + top))}]" info: | cut -c1-6
}
wait_colour() { # control RRGGBB what
    xy=$(centre "$1")
    x=${xy% *}
    y=${xy#* }
    i=0
    while [ "$(colour "$x" "$y")" != "$2" ]; do
        i=$((i + 1))
        [ "$i" -lt 300 ] || fail "$3: still $(colour "$x" "$y") at ($x, $y), expected $2"
        sleep 0.2
    done
    echo "ok: $3"
}

# Before the start button the socket is closed, so a controller cannot connect: the link
# indicator Shape2 stays red.
wait_colour Shape2 FF0000 "link indicator red at start-up"
# Command1: "Rozpocznij nasłuch".
click Command1
"$SIM" --send 00000001 --expect "00000100 00000000 00000000 F" --timeout 120 \
    >"$work/sim.log" 2>&1 &
sim=$!
check_pids="$check_pids $sim"
wait_colour Shape2 00FF00 "controller identified (Shape2 green)"
wait_colour I1 00FF00 "input 1 shown on (I1 green)"
mkdir -p "$(dirname "$SHOT")"
convert "$work/now.png" -crop "${CLIENT_W}x${CLIENT_H}+${border}+${top}" +repage "$SHOT"
echo "screenshot: $SHOT"
# S13, button "3" of "Sekcja Output1".
click S13
rc=0
wait "$sim" || rc=$?
sim=""
cat "$work/sim.log"
[ "$rc" -eq 0 ] || fail "korvan-sim exited with $rc"
wait_colour O13 00FF00 "output 3 of section 1 on (O13 green)"
echo "E2E PASSED"
