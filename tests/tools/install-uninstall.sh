#!/bin/sh
# make install, then make uninstall, into a folder of its own beside files of another
# program: everything Korvan wrote goes, with the folders only it had made; the shared
# folders and the other program's files stay.
#   install-uninstall.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1 source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
mkdir -p "$prefix/share/doc/other" "$prefix/share/man/man1"
touch "$prefix/share/doc/other/copyright" "$prefix/share/man/man1/other.1"
cmake --install "$build" --prefix "$prefix" >/dev/null
manifest=$build/install_manifest.txt
test -f "$prefix/share/doc/korvan/examples/commissioning.txt"
cp "$manifest" "$prefix.manifest"
trap 'rm -rf "$prefix" "$prefix.manifest"' EXIT
"$source/tools/install/uninstall.sh" "$manifest" "$prefix" >/dev/null
fail=0
while IFS= read -r file; do
    [ ! -e "$file" ] || { echo "left behind: $file"; fail=1; }
done < "$prefix.manifest"
left=$(find "$prefix" -iname '*korvan*')
[ -z "$left" ] || { echo "left behind: $left"; fail=1; }
for kept in share/doc/other/copyright share/man/man1/other.1 bin; do
    [ -e "$prefix/$kept" ] || { echo "removed, though shared: $kept"; fail=1; }
done

exit $fail
