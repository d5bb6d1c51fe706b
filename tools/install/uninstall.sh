#!/bin/sh
# Removes exactly what the last `cmake --install` wrote (CMake lists it in the manifest),
# then the folders below the prefix that only Korvan had made: those named after it and
# what lies inside them (share/doc/korvan, share/doc/korvan/examples). Folders other
# programs share (bin, share/man/man1, share/icons/hicolor) stay, even when left empty.
#   tools/install/uninstall.sh MANIFEST PREFIX
set -eu
manifest=$1
prefix=${2%/}
[ -r "$manifest" ] || { echo "Nothing to uninstall: $manifest is missing." >&2; exit 1; }
xargs -r -d '\n' rm -fv -- < "$manifest"
while IFS= read -r file; do
    dir=$(dirname -- "$file")
    while :; do
        case ${dir#"$prefix"} in
        "$dir") break ;; # not below the prefix
        */[Kk]orvan | */[Kk]orvan/*) printf '%s\n' "$dir" ;;
        *) break ;;
        esac
        dir=$(dirname -- "$dir")
    done
done < "$manifest" | sort -ru | while IFS= read -r dir; do
    rmdir -v -- "$dir" 2>/dev/null || true
done
rm -f -- "$manifest"
