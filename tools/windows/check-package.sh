#!/bin/sh
# Proves the Windows installer under Wine: a silent install puts the panel, its
# Start-menu shortcut, its uninstall entry and (as far as Wine emulates netsh) its
# firewall rule in place; the installed panel passes the end-to-end check against the
# Linux korvan-sim; the silent uninstall removes it all again.
#
#   tools/windows/check-package.sh KORVAN_SETUP_EXE LINUX_KORVAN_SIM SCREENSHOT_PNG
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 3 ] || { echo "usage: $0 KORVAN_SETUP_EXE LINUX_KORVAN_SIM SCREENSHOT_PNG" >&2; exit 2; }
SETUP=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
if [ -z "${KORVAN_WINE_SESSION:-}" ]; then
    prefix=$(dirname "$SETUP")/wine-install
    # A fresh system every time: nothing left from an earlier install may help.
    rm -rf "$prefix"
    exec "$HERE/wine-session.sh" "$prefix" "$0" "$SETUP" "$2" "$3"
fi
WINE=/usr/lib/wine/wine64
fail() {
    echo "PACKAGE CHECK FAILED: $*" >&2
    exit 1
}
wait_for() { # description, then a command that must come true within a minute
    what=$1
    shift
    i=0
    until "$@"; do
        i=$((i + 1))
        [ "$i" -lt 300 ] || fail "$what"
        sleep 0.2
    done
    echo "ok: $what"
}

DIR="$WINEPREFIX/drive_c/Program Files/Korvan"
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvan'
MENU="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Korvan"
registered() { "$WINE" reg query "$KEY" >/dev/null 2>&1; }
unregistered() { ! registered; }
gone() { [ ! -e "$DIR/bin/korvan.exe" ]; }

start=$(date +%s.%N)
"$WINE" "$SETUP" /S || fail "the installer exited with $?"
wait_for "installed: korvan.exe" test -f "$DIR/bin/korvan.exe"
wait_for "installed: uninstaller" test -f "$DIR/Uninstall.exe"
wait_for "uninstall entry in the registry" registered
echo "install took $(awk "BEGIN { print $(date +%s.%N) - $start }") s"
"$WINE" reg query "$KEY" 2>/dev/null | tr -d '\r' | grep -E 'DisplayName|DisplayVersion' || true
test -f "$MENU/Korvan.lnk" || fail "no Start-menu shortcut in $MENU"
echo "ok: Start-menu shortcut"
test -f "$DIR/bin/allow-tcp-6165.cmd" || fail "firewall option not installed (it is on by default)"
echo "ok: firewall option chosen by default"
echo "Wine's netsh on the firewall rule:"
"$WINE" netsh advfirewall firewall show rule name="Korvan (TCP 6165)" 2>&1 | tr -d '\r' \
    | sed 's/^/  /' || true
echo "installed size: $(du -sk "$DIR" | cut -f1) KiB"

"$HERE/e2e.sh" "$DIR/bin/korvan.exe" "$2" "$3"

"$WINE" "$DIR/Uninstall.exe" /S || fail "the uninstaller exited with $?"
wait_for "uninstalled: korvan.exe removed" gone
wait_for "uninstall entry removed" unregistered
wait_for "Start-menu shortcut removed" test ! -e "$MENU/Korvan.lnk"
echo "PACKAGE CHECK PASSED"
