#!/bin/sh
# What a Windows user sees when the panel does not start: korvan.exe under Wine with the
# real windows platform on Xvfb. Started as the Start menu or Explorer starts it (no
# console to attach to), a bad option and a settings fault are shown in a box titled
# "Korvan" and the program ends with their status once it is closed; from a console,
# --help prints there and shows no box.
#
#   tools/windows/messages.sh KORVAN_EXE
#
# Runs in a Wine session of its own (next to KORVAN_EXE's folder: wine-messages/) unless
# already inside one.
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 1 ] || { echo "usage: $0 KORVAN_EXE" >&2; exit 2; }
if [ -z "${KORVAN_WINE_SESSION:-}" ]; then
    exec "$HERE/wine-session.sh" "$(dirname "$1")/../wine-messages" "$0" "$@"
fi
WINE=/usr/lib/wine/wine64
KORVAN=$1
work=$(mktemp -d)
panel=""
finish() {
    [ -n "$panel" ] && kill "$panel" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT
fail() {
    echo "MESSAGES FAILED: $*" >&2
    for f in "$work"/*.log; do
        [ -f "$f" ] && { echo "--- $(basename "$f")" >&2; cat "$f" >&2; }
    done
    exit 1
}
expect() { # file, text
    grep -qF -- "$2" "$1" || fail "$(basename "$1") lacks \"$2\""
}

# The user's settings file, where the panel looks for it in this prefix.
appdata=$("$WINE" cmd /c echo %APPDATA% </dev/null | tr -d '\r')
settings="$("$WINE" winepath -u "$appdata" </dev/null | tr -d '\r')/Korvan/Korvan.ini"
mkdir -p "$(dirname "$settings")"
rm -f "$settings"

# Started with no console, the program shows a box; its text comes out of Qt's message box
# with Ctrl+C, through Wine's clipboard, which X shares.
boxed() { # name, status, texts..., then -- and the arguments
    name=$1
    status=$2
    shift 2
    texts=""
    while [ "$1" != "--" ]; do
        texts="$texts$1
"
        shift
    done
    shift
    "$WINE" "$KORVAN" "$@" </dev/null >"$work/$name.log" 2>&1 &
    panel=$!
    wid=$(timeout 120 xdotool search --sync --onlyvisible --name '^Korvan$' | head -n 1) \
        || fail "$name: no box titled Korvan appeared"
    i=0
    : >"$work/$name.box"
    while ! grep -qF 'Korvan' "$work/$name.box"; do
        i=$((i + 1))
        [ "$i" -lt 50 ] || fail "$name: the box's text could not be copied"
        # A click in the box gives it the keyboard; Ctrl+C is Qt's copy on Windows.
        xdotool mousemove --window "$wid" 24 48 click 1 key ctrl+c
        sleep 0.2
        # A clipboard owner that never answers would hold xclip for ever.
        timeout 5 xclip -o -selection clipboard >"$work/$name.box" 2>/dev/null || true
    done
    printf '%s' "$texts" | while IFS= read -r text; do
        expect "$work/$name.box" "$text"
    done
    xdotool key Return
    rc=0
    wait "$panel" || rc=$?
    panel=""
    [ "$rc" -eq "$status" ] || fail "$name: exit status $rc, expected $status"
    echo "ok: $name: a box with the message, then status $rc"
}

boxed "bad option" 2 "błędna opcja" "bad option" 'Unknown option "bogus".' "Usage: korvan" \
    -- --bogus
printf '[Network]\r\nAllow=192.168.1.300\r\n' >"$settings"
boxed "settings fault" 3 "błąd ustawień" "settings error" "Network/Allow" "192.168.1.300" \
    "Korvan.ini" --
rm -f "$settings"

# From a console the help is printed there, and no box waits for a click.
rc=0
timeout 120 "$WINE" cmd /c "$("$WINE" winepath -w "$KORVAN" </dev/null | tr -d '\r')" --help \
    </dev/null >"$work/help.log" 2>&1 || rc=$?
[ "$rc" -eq 0 ] || fail "--help from a console: status $rc"
expect "$work/help.log" "--allow <ADDRESS[/PREFIX]>"
echo "ok: --help from a console printed $(wc -l <"$work/help.log") lines"
echo "MESSAGES PASSED"
