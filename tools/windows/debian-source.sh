# Sourced by the scripts that build Windows libraries from Debian's own source packages:
# makes sure apt knows Debian's source repository, then installs what the build needs
# through the project's one package installer.
#
#   korvan_source_packages LOG PACKAGE...
# shellcheck shell=sh
korvan_source_packages() {
    _log=$1
    shift
    _need_src=1
    grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && _need_src=0
    grep -qs '^deb-src ' /etc/apt/sources.list && _need_src=0
    if [ "$_need_src" -eq 1 ]; then
        echo "Adding Debian's source repository to apt" >&2
        _sudo=""
        [ "$(id -u)" -eq 0 ] || _sudo=sudo
        $_sudo tee /etc/apt/sources.list.d/korvan-deb-src.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    fi
    # A new source needs apt's lists renewed even when every package is there.
    _update=""
    [ "$_need_src" -eq 0 ] || _update=--update
    # shellcheck disable=SC2086 # _update is empty or one word
    "$(dirname "$0")/../install-packages.sh" $_update --log "$_log" "$@"
}
