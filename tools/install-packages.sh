#!/bin/sh
# Installs the Debian packages that are missing, with apt-get, through sudo when not root.
#
#   tools/install-packages.sh [--update] [--log FILE] PACKAGE...
#
# --update refreshes apt's lists even when nothing is missing (after adding a source);
# --log appends apt's own output to FILE instead of showing it.
set -eu
update=0
log=""
while [ $# -gt 0 ]; do
    case $1 in
    --update) update=1 ;;
    --log) log=$2; shift ;;
    *) break ;;
    esac
    shift
done

missing=""
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
        || missing="$missing $p"
done
[ -n "$missing" ] || [ "$update" -eq 1 ] || exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
apt_get() {
    if [ -n "$log" ]; then
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get "$@" >>"$log" 2>&1
    else
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get "$@"
    fi
}
[ -z "$missing" ] || echo "Installing:$missing" >&2
apt_get update -qq
# shellcheck disable=SC2086 # one word per package
[ -z "$missing" ] || apt_get install -y -qq --no-install-recommends $missing
