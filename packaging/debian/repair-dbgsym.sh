#!/bin/sh
# cpack writes the md5sums of oaset-dbgsym with the paths of its staging folder; Debian's tools
# read the package's own paths. The documents of a -dbgsym package are those of the package whose
# symbols it holds, and it depends on that very version.
# Usage: repair-dbgsym.sh FILE.ddeb
set -eu
ddeb=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -R "$ddeb" "$work/root"
cd "$work/root"
main=$(sed -n 's/^Package: \(.*\)-dbgsym$/\1/p' DEBIAN/control)
mkdir -p usr/share/doc
ln -sfn "$main" "usr/share/doc/$main-dbgsym"
find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums
dpkg-deb --root-owner-group --build "$work/root" "$ddeb" >/dev/null
