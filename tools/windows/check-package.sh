#!/bin/sh
# Proves the Windows installer under Wine: its pages in Polish under a Polish system and in
# English elsewhere; a silent install puts the panel, its licences, its Start-menu
# shortcut, its uninstall entry and its firewall rule in place, both programs carry their
# version record and manifest; under Wine it turns Direct3D off for korvan.exe alone, and
# the installed panel, started with nothing about Direct3D in its environment, maps no
# OpenGL renderer; the installed panel passes the end-to-end check against
# the Linux korvan-sim; a second install with /CONTROLLER= narrows the rule and writes
# the same addresses into the panel's settings; the silent uninstall removes the rule,
# the files and the registry keys (the Wine one too) and leaves the settings file.
#
# Wine's netsh keeps no rules, so this throwaway prefix gets a stand-in netsh.exe that
# notes each call (tools/windows/netsh-recorder.nsi).
#
#   tools/windows/check-package.sh KORVAN_SETUP_EXE LINUX_KORVAN_SIM SCREENSHOT_PNG
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
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

WORK=$(dirname "$SETUP")/package-check
rm -rf "$WORK"
mkdir -p "$WORK"
DIR="$WINEPREFIX/drive_c/Program Files/Korvan"
C="$WINEPREFIX/drive_c"
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvan'
VENDOR_KEY='HKLM\Software\Zespół Korvan'
WINE_APP_KEY='HKCU\Software\Wine\AppDefaults\korvan.exe'
MENU="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/Korvan"
INI="$C/ProgramData/Korvan/Korvan.ini"
CALLS="$C/netsh-calls.txt"
PROGRAM='program="C:\Program Files\Korvan\bin\korvan.exe"'
RULE="advfirewall firewall add rule name=\"Korvan (TCP 6165)\" dir=in action=allow protocol=TCP localport=6165 $PROGRAM enable=yes"
DELETE='advfirewall firewall delete rule name="Korvan (TCP 6165)"'
registered() { "$WINE" reg query "$1" >/dev/null 2>&1; }
unregistered() { ! registered "$1"; }
gone() { [ ! -e "$DIR/bin/korvan.exe" ]; }
calls() { tr -d '\r' <"$CALLS" 2>/dev/null || true; }
has() { # file, text that must be in it
    grep -qF -- "$2" "$1" || fail "$(basename "$1") lacks: $2"
}

# The rows of the installer's address check and rule.
"$HERE/check-firewall-rule.sh" "$WORK/rows"

makensis -V2 -DOUT="$WORK/netsh.exe" "$HERE/netsh-recorder.nsi" >/dev/null
cp "$WORK/netsh.exe" "$C/windows/system32/netsh.exe"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;netsh.exe=n"

# The pages' language follows the system's: Polish under Polish, English otherwise.
mkdir -p "$WORK/locale"
localedef -i pl_PL -f UTF-8 "$WORK/locale/pl_PL.UTF-8" >/dev/null 2>&1 || true
[ -f "$WORK/locale/pl_PL.UTF-8/LC_CTYPE" ] || fail "no Polish locale for the page check"
found_window() { xdotool search --name "$1" >/dev/null; }
caption() { # locale, window caption the installer must show
    LOCPATH="$WORK/locale" LC_ALL=$1 "$WINE" "$SETUP" >/dev/null 2>&1 &
    pid=$!
    wait_for "installer pages under $1: \"$2\"" found_window "^$2\$"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    "$WINESERVER" -k >/dev/null 2>&1 || true
}
WINESERVER=/usr/lib/wine/wineserver
caption pl_PL.UTF-8 "Instalator Korvan"
caption C.UTF-8 "Korvan Setup"
[ ! -e "$DIR" ] || fail "a page check installed something"

start=$(date +%s.%N)
"$WINE" "$SETUP" /S || fail "the installer exited with $?"
wait_for "installed: korvan.exe" test -f "$DIR/bin/korvan.exe"
wait_for "installed: uninstaller" test -f "$DIR/Uninstall.exe"
wait_for "uninstall entry in the registry" registered "$KEY"
echo "install took $(awk "BEGIN { print $(date +%s.%N) - $start }") s"
"$WINE" reg query "$KEY" 2>/dev/null | tr -d '\r' | grep -E 'DisplayName|DisplayVersion' || true
test -f "$MENU/Korvan.lnk" || fail "no Start-menu shortcut in $MENU"
echo "ok: Start-menu shortcut"

# Wine's Direct3D off for the panel alone, never for every program of the prefix.
"$WINE" reg query "$WINE_APP_KEY\Direct3D" /v renderer 2>/dev/null | tr -d '\r' \
    | grep -qE '^ +renderer +REG_SZ +no3d$' \
    || fail "no renderer=no3d under $WINE_APP_KEY\Direct3D"
unregistered 'HKCU\Software\Wine\Direct3D' || fail "the install set Direct3D for every program"
echo "ok: under Wine, Direct3D renderer=no3d for korvan.exe only"
# As a Wine user starts it: the sessions' WINE_D3D_CONFIG is not in its environment, so only
# the installed key keeps Mesa's libLLVM out.
window() { xdotool search --onlyvisible --name '^Korvan$' >/dev/null; }
no_window() { ! window; }
env -u WINE_D3D_CONFIG timeout 600 "$WINE" "$DIR/bin/korvan.exe" >"$WORK/panel.log" 2>&1 &
panel=$!
wait_for "installed panel shown, started without WINE_D3D_CONFIG" window
# Let it finish painting before reading what it holds.
sleep 3
# Its own Wine process, not another session's panel on this machine.
pid=$(pgrep -P "$panel" -x korvan.exe) || fail "no korvan.exe process under $panel"
! tr '\0' '\n' <"/proc/$pid/environ" | grep -q '^WINE_D3D_CONFIG=' \
    || fail "the panel was started with WINE_D3D_CONFIG"
llvm=$(grep -c libLLVM "/proc/$pid/maps" || true)
rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")
kill "$pid" "$panel" 2>/dev/null || true
wait "$panel" 2>/dev/null || true
# Killed, it left its one-panel lock, which would name a process of the next panel's.
rm -f "$C"/users/*/korvan.lock
[ "$llvm" -eq 0 ] || fail "the installed panel mapped libLLVM ($rss KiB resident)"
echo "ok: installed panel maps no libLLVM ($((rss / 1024)) MiB resident)"
# The end-to-end check looks for the next window titled Korvan.
wait_for "installed panel closed" no_window

# The firewall rule by default: Domain and Private networks, the local subnet.
calls | grep -qxF "$DELETE" || fail "the install did not clear an older rule first"
calls | grep -qxF "$RULE remoteip=localsubnet profile=domain,private" \
    || fail "default rule: expected '$RULE remoteip=localsubnet profile=domain,private'; \
netsh saw: $(calls)"
echo "ok: firewall rule by default: domain and private networks, local subnet"
[ ! -e "$INI" ] || fail "no address was given, yet $INI was written"

# Licences.
L="$DIR/licences"
cmp -s "$ROOT/LICENSE" "$L/Korvan.txt" || fail "licences/Korvan.txt is not the project's LICENSE"
has "$L/Qt.txt" "Source: https://download.qt.io"
has "$L/LGPL-3.txt" "GNU LESSER GENERAL PUBLIC LICENSE"
has "$L/GPL-3.txt" "GNU GENERAL PUBLIC LICENSE"
has "$L/GCC-runtime.txt" "GCC RUNTIME LIBRARY EXCEPTION"
has "$L/MinGW-w64.txt" "winpthreads"
has "$L/README.txt" "qt6-base source package, version"
grep -Eq 'apt-get source qt6-base=[0-9][^ ]*' "$L/README.txt" \
    || fail "README.txt does not name the qt6-base version built"
has "$L/libmosquitto.txt" "Eclipse Distribution License 1.0"
has "$L/EDL-1.0.txt" "Eclipse Distribution License - v 1.0"
has "$L/OpenSSL.txt" "Apache License"
has "$L/README.txt" "takes it under the Eclipse Distribution"
for package in mosquitto openssl; do
    grep -Eq "apt-get source $package=[0-9][^ ]*" "$L/README.txt" \
        || fail "README.txt does not name the $package version built"
done
echo "ok: licences ($(ls "$L" | tr '\n' ' '))"

# The plant publisher's libraries; korvan.exe would not start without them.
for dll in libmosquitto.dll libssl-3-x64.dll libcrypto-3-x64.dll; do
    test -f "$DIR/bin/$dll" || fail "bin/$dll is not installed"
    # OpenSSL reads its configuration from a folder compiled in: a path of the build machine
    # would be one that any Windows user may create on the current drive.
    ! grep -aq "$HOME/.cache\|-mingw64-[0-9a-f]\{12\}/" "$DIR/bin/$dll" \
        || fail "bin/$dll names a folder of the build machine"
done
grep -aq 'C:/Program Files/Common Files/SSL' "$DIR/bin/libcrypto-3-x64.dll" \
    || fail "libcrypto-3-x64.dll does not read its configuration from Common Files\\SSL"
echo "ok: MQTT and TLS libraries ($(cd "$DIR/bin" && du -k libmosquitto.dll libssl-3-x64.dll \
    libcrypto-3-x64.dll | awk '{ printf "%s%s %s KiB", (NR > 1 ? ", " : ""), $2, $1 }'))"

# Version records and manifests, as Windows reads them from the programs.
resources() { x86_64-w64-mingw32-windres -i "$1" -O rc 2>/dev/null | sed 's/""/"/g'; }
for exe in korvan korvan-sim; do
    resources "$DIR/bin/$exe.exe" >"$WORK/$exe.rc"
    for value in '"LegalCopyright", L"Copyright \251 2026 Zesp\363\x0142 Korvan' \
        '"ProductName", "Korvan v1.0"' '"FileVersion", "1.00"' \
        "\"OriginalFilename\", \"$exe.exe\"" 'RT_GROUP_ICON' 'RT_MANIFEST' \
        'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' \
        'requestedExecutionLevel level="asInvoker"'; do
        has "$WORK/$exe.rc" "$value"
    done
done
has "$WORK/korvan.rc" '<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2</dpiAwareness>'
has "$WORK/korvan.rc" 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'
echo "ok: version records, icons and manifests of korvan.exe and korvan-sim.exe"
echo "installed size: $(du -sk "$DIR" | cut -f1) KiB"

"$HERE/e2e.sh" "$DIR/bin/korvan.exe" "$2" "$3"

# A refused address stops the silent install before anything is written.
: >"$CALLS"
status=0
"$WINE" "$SETUP" /S "/CONTROLLER=192.168.10.20,192.168.10.300" || status=$?
[ "$status" -eq 2 ] || fail "a refused /CONTROLLER= address: exit status $status, not 2"
[ ! -s "$CALLS" ] && [ ! -e "$INI" ] || fail "a refused /CONTROLLER= address changed something"
echo "ok: /CONTROLLER= with a malformed address refused, nothing changed"

# Over the installed version: the controller's addresses narrow the rule and the panel.
"$WINE" "$SETUP" /S "/CONTROLLER=192.168.10.20, 192.168.10.21 fd00:10::/64" \
    || fail "the installer with /CONTROLLER= exited with $?"
wait_for "reinstalled with /CONTROLLER=" test -f "$INI"
calls | grep -qxF "$RULE remoteip=192.168.10.20,192.168.10.21,fd00:10::/64 profile=domain,private" \
    || fail "rule with /CONTROLLER=: netsh saw: $(calls)"
echo "ok: firewall rule limited to /CONTROLLER= addresses"
tr -d '\r' <"$INI" >"$WORK/Korvan.ini"
grep -qxF '[Network]' "$WORK/Korvan.ini" \
    && grep -qxF 'Allow=192.168.10.20, 192.168.10.21, fd00:10::/64' "$WORK/Korvan.ini" \
    || fail "Korvan.ini: $(cat "$WORK/Korvan.ini")"
echo "ok: C:\\ProgramData\\Korvan\\Korvan.ini [Network] Allow= the same addresses"

: >"$CALLS"
"$WINE" "$DIR/Uninstall.exe" /S || fail "the uninstaller exited with $?"
wait_for "uninstalled: korvan.exe removed" gone
wait_for "uninstall entry removed" unregistered "$KEY"
wait_for "publisher's registry key removed" unregistered "$VENDOR_KEY"
wait_for "Wine's Direct3D key for korvan.exe removed" unregistered "$WINE_APP_KEY"
wait_for "Start-menu shortcut removed" test ! -e "$MENU/Korvan.lnk"
calls | grep -qxF "$DELETE" || fail "the uninstall did not delete the rule; netsh saw: $(calls)"
echo "ok: firewall rule deleted on uninstall"
test -f "$INI" || fail "the uninstall removed the settings file"
echo "ok: settings file kept"
[ ! -e "$DIR" ] || fail "left behind: $(find "$DIR" | head -5)"
echo "PACKAGE CHECK PASSED"
