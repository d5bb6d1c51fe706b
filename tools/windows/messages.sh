#!/bin/sh
# What a Windows user sees when the panel does not start: korvan.exe under Wine with the
# real windows platform on Xvfb. Started as the Start menu or Explorer starts it (no
# console to attach to), a bad option, a settings fault and a second start are shown in a
# box titled "Korvan" and the program ends with their status once it is closed; the second
# start leaves the running panel's history whole; from a console, --help prints there and
# shows no box.
#
#   tools/windows/messages.sh KORVAN_EXE
#
# Runs in a Wine session of its own (next to KORVAN_EXE's folder: wine-messages/) unless
# already inside one.
set -eu
[ $# -eq 1 ] || { echo "usage: $0 KORVAN_EXE" >&2; exit 2; }
# shellcheck source=tools/windows/wine-session.sh
. "$(dirname "$0")/wine-session.sh"
session_enter messages "$0" "$@"
check_begin MESSAGES
KORVAN=$1

# The user's settings file, where the panel looks for it in this prefix.
appdata=$(timeout 120 "$WINE" cmd /c echo %APPDATA% </dev/null | tr -d '\r')
[ -n "$appdata" ] || fail "Wine did not say where %APPDATA% is"
settings="$(timeout 120 "$WINE" winepath -u "$appdata" </dev/null | tr -d '\r')/Korvan/Korvan.ini"
mkdir -p "$(dirname "$settings")"
rm -f "$settings"

# Started with no console and nothing to write to, the program shows a box (given a file
# for its output, it writes there instead); its text comes out of Qt's message box
# with Ctrl+C, through Wine's clipboard, which X shares. The panel's own window, when one
# runs, has the same title: $panel_window is passed over.
panel_window=""
boxed() { # name, status, texts..., then -- and the arguments
    name=$1
    status=$2
    shift 2
    : >"$work/$name.texts"
    while [ "$1" != "--" ]; do
        printf '%s\n' "$1" >>"$work/$name.texts"
        shift
    done
    shift
    # Started by start /wait, as Explorer starts it: no handles to write to; start /wait
    # ends with its status. A box nobody closes ends with the timeout: a failure, not a hang.
    timeout 600 "$WINE" cmd /c start "" /wait "$(windows_path "$KORVAN")" "$@" </dev/null \
        >"$work/$name.log" 2>&1 &
    start=$!
    check_pids="$check_pids $start"
    t0=$(date +%s)
    box=$(wait_window "$start" '^Korvan$' "$panel_window") || exit 1
    echo "$name: the box appeared after $(($(date +%s) - t0)) s"
    # The clipboard may still hold the box before: copied again until it holds this one.
    i=0
    missing=unread
    while [ -n "$missing" ]; do
        i=$((i + 1))
        [ "$i" -le 60 ] || fail "$name: the box's copied text lacks \"$missing\""
        running "$start" || fail "$name: the program ended with its box unread"
        # A click in the box gives it the keyboard; Ctrl+C is Qt's copy on Windows.
        timeout 20 xdotool mousemove --window "$box" 24 48 click 1 key ctrl+c || true
        sleep 0.5
        # A clipboard owner that never answers would hold xclip for ever.
        timeout 5 xclip -o -selection clipboard >"$work/$name.box" 2>/dev/null || true
        missing=""
        while IFS= read -r text; do
            grep -qF -- "$text" "$work/$name.box" || missing=$text
        done <"$work/$name.texts"
    done
    # Return presses the box's only button; pressed again until the program has ended.
    i=0
    while running "$start"; do
        i=$((i + 1))
        [ "$i" -le 60 ] || fail "$name: the box did not close"
        timeout 20 xdotool mousemove --window "$box" 24 48 click 1 key Return || true
        sleep 1
    done
    rc=0
    wait "$start" || rc=$?
    [ "$rc" -eq "$status" ] || fail "$name: exit status $rc, expected $status"
    echo "ok: $name: a box with the message, then status $rc"
}

boxed "bad option" 2 "błędna opcja" "bad option" 'Unknown option "bogus".' "Usage: korvan" \
    -- --bogus
printf '[Network]\r\nAllow=192.168.1.300\r\n' >"$settings"
boxed "settings fault" 3 "błąd ustawień" "settings error" "Network/Allow" "192.168.1.300" \
    "Korvan.ini" --
rm -f "$settings"

# A second start while the panel runs: refused in a box, and the running panel's history
# holds only the running panel's whole lines, among them its note of the refused start. The
# second start has Qt warn as it starts, to look for that warning where it must not be.
history="$work/history.txt"
timeout 600 "$WINE" "$KORVAN" --log-file "$(windows_path "$history")" </dev/null \
    >"$work/panel.log" 2>&1 &
panel=$!
check_pids="$check_pids $panel"
panel_window=$(wait_window "$panel" '^Korvan$') || exit 1
export WINEQT_SCALE_FACTOR_ROUNDING_POLICY=SecondStartPolicy
boxed "second start" 1 "jest już uruchomiony" "already running" \
    -- --log-file "$(windows_path "$history")"
unset WINEQT_SCALE_FACTOR_ROUNDING_POLICY
i=0
until grep -qF "second start refused" "$history" 2>/dev/null; do
    i=$((i + 1))
    [ "$i" -le 120 ] || fail "the running panel did not note the refused start"
    sleep 0.5
done
running "$panel" || fail "the running panel ended"
cp "$history" "$work/history.log"
! grep -qF SecondStartPolicy "$history" || fail "the second start wrote into the history"
[ "$(grep -c "started: " "$history")" -eq 1 ] || fail "the history has a second start's lines"
bad=$(grep -cvE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+' "$history" || true)
[ "$bad" -eq 0 ] || fail "the history has $bad torn or foreign lines"
echo "ok: second start: the history has the running panel's $(wc -l <"$history") whole lines"
kill "$panel"
wait "$panel" 2>/dev/null || true
rm -f "$work/history.log"

# From a console the help is printed there, and no box waits for a click.
rc=0
timeout 120 "$WINE" cmd /c "$(windows_path "$KORVAN")" --help </dev/null >"$work/help.log" 2>&1 \
    || rc=$?
[ "$rc" -eq 0 ] || fail "--help from a console: status $rc"
grep -qF -- "--allow <ADDRESS[/PREFIX]>" "$work/help.log" || fail "--help printed no usage"
echo "ok: --help from a console printed $(wc -l <"$work/help.log") lines"
echo "MESSAGES PASSED"
