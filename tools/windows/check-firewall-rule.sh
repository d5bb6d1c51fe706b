#!/bin/sh
# The installer's controller addresses and firewall rule, row by row: the same NSIS
# functions the installer runs (packaging/windows/firewall.nsh), built into a small silent
# program and run under Wine, since Wine's netsh takes any rule and keeps none.
#
#   tools/windows/check-firewall-rule.sh WORK_DIR
set -eu
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
[ $# -eq 1 ] || { echo "usage: $0 WORK_DIR" >&2; exit 2; }
mkdir -p "$1"
WORK=$(cd "$1" && pwd)
if [ -z "${KORVAN_WINE_SESSION:-}" ]; then
    exec "$HERE/wine-session.sh" "$WORK/wine" "$0" "$WORK"
fi
WINE=/usr/lib/wine/wine64

RULE='advfirewall firewall add rule name="Korvan (TCP 6165)" dir=in action=allow protocol=TCP localport=6165 program="C:\Program Files\Korvan\bin\korvan.exe" enable=yes'
names=""
inputs=""
expected=""
# row NAME TYPED REJECTED ALLOW REMOTE: REJECTED is the entry refused ("ok" if none),
# ALLOW the Allow= value written, REMOTE what follows the fixed part of the rule.
row() {
    names="$names$1
"
    inputs="$inputs$2
"
    expected="$expected$3
$4
$RULE $5
"
}
row "no address" "" ok "" "remoteip=localsubnet profile=domain,private"
row "blanks only" "  ,; " ok "" "remoteip=localsubnet profile=domain,private"
row "one address" "192.168.10.20" ok "192.168.10.20" \
    "remoteip=192.168.10.20 profile=domain,private"
row "several, mixed separators" "192.168.10.20, 192.168.10.21;10.1.0.0/16  fd00:10::/64" ok \
    "192.168.10.20, 192.168.10.21, 10.1.0.0/16, fd00:10::/64" \
    "remoteip=192.168.10.20,192.168.10.21,10.1.0.0/16,fd00:10::/64 profile=domain,private"
row "IPv6 forms" "::1 1:2:3:4:5:6:7:8 ::ffff:10.1.2.3 fe80::/10 2001:DB8::a:1" ok \
    "::1, 1:2:3:4:5:6:7:8, ::ffff:10.1.2.3, fe80::/10, 2001:DB8::a:1" \
    "remoteip=::1,1:2:3:4:5:6:7:8,::ffff:10.1.2.3,fe80::/10,2001:DB8::a:1 profile=domain,private"
row "prefix limits" "0.0.0.0/0 10.0.0.1/32 ::/0 ::1/128" ok \
    "0.0.0.0/0, 10.0.0.1/32, ::/0, ::1/128" \
    "remoteip=0.0.0.0/0,10.0.0.1/32,::/0,::1/128 profile=domain,private"
# Whatever is refused writes nothing: the rule falls back to the local subnet.
for bad in 192.168.10.256 192.168.10 1.2.3.4.5 010.1.2.3 1.2.3.-4 10.1.0.0/33 10.1.0.0/ \
    10.1.0.0/016 ::1/129 1::2::3 :::1 1:2:3:4:5:6:7:8:9 12345::1 fe80::1%eth0 \
    1:2:3:4:5:6:7:1.2.3.4 controller 'Z:\x' '192.168.10.20"'; do
    row "refused: $bad" "192.168.10.20, $bad" "$bad" "" \
        "remoteip=localsubnet profile=domain,private"
done

makensis -V2 -DFIREWALL_NSH="$ROOT/packaging/windows/firewall.nsh" -DOUT="$WORK/rows.exe" \
    "$HERE/firewall-rows.nsi" >/dev/null
printf '%s' "$inputs" >"$WORK/rows.txt"
rm -f "$WORK/results.txt"
"$WINE" "$WORK/rows.exe" "/IN=Z:$(echo "$WORK" | tr / '\\')\\rows.txt" \
    "/RESULT=Z:$(echo "$WORK" | tr / '\\')\\results.txt"
printf '%s' "$expected" >"$WORK/expected.txt"
tr -d '\r' <"$WORK/results.txt" >"$WORK/results.unix.txt"

i=0
echo "$names" | while IFS= read -r name; do
    [ -n "$name" ] || continue
    i=$((i + 1))
    from=$((3 * i - 2))
    to=$((3 * i))
    want=$(sed -n "${from},${to}p" "$WORK/expected.txt")
    got=$(sed -n "${from},${to}p" "$WORK/results.unix.txt")
    if [ "$want" = "$got" ]; then
        echo "PASS: $name"
    else
        echo "FAIL: $name"
        echo "  expected: $want" | sed '2,$s/^/            /'
        echo "  actual:   $got" | sed '2,$s/^/            /'
        echo fail >>"$WORK/failed"
    fi
done
if [ -f "$WORK/failed" ]; then
    rm -f "$WORK/failed"
    echo "FIREWALL RULE CHECK FAILED" >&2
    exit 1
fi
echo "FIREWALL RULE CHECK PASSED ($(echo "$names" | grep -c .) rows)"
