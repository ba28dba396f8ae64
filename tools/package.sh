#!/usr/bin/env bash
# Builds the Debian package with debhelper and leaves it in the build directory, e.g.
# build/hexline_0.1.0+git20261207.150312.c98c3a6_amd64.deb, beside its debug symbols.
#
# dpkg-buildpackage writes beside the tree it builds, so it builds a copy of the sources under
# build/deb and the checkout stays clean. A newer build must replace an older one: the version is
# the project's plus the commit's date and hash (the build's date outside a git checkout), and
# the copy's debian/changelog gets an entry for it on top of the release's.
set -euo pipefail
build=$(realpath -m "${1:-build}")
cd "$(dirname "$0")/.."

base=$(sed -n 's/^project(hexline VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
released=$(dpkg-parsechangelog -S Version)
if [ "$base" != "$released" ]; then
  echo "CMakeLists.txt says version $base, but debian/changelog's latest entry is $released" >&2
  exit 1
fi
maintainer=$(sed -n 's/^Maintainer: //p' debian/control)

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  version=$base+git$(git log -1 --format=%cd.%h --date=format:%Y%m%d.%H%M%S)
  date=$(LC_ALL=C git log -1 --format=%cd --date=format:'%a, %d %b %Y %H:%M:%S %z')
  note="Built from commit $(git log -1 --format=%h)"
  [ -z "$(git status --porcelain)" ] || note+=" with changes not yet committed"
  # Tracked files as they are now, and new ones not ignored; none that were deleted.
  sources() {
    git ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do
        if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi
      done
  }
else
  version=$base+build$(date -u +%Y%m%d.%H%M%S)
  date=$(LC_ALL=C date -R)
  note="Built from sources outside a git checkout"
  sources() { find . -mindepth 1 -maxdepth 1 ! -name 'build-*' ! -samefile "$build" ! -name .git -print0; }
fi

work=$build/deb
tree=$work/hexline-$version
rm -rf "$work"
mkdir -p "$tree"
sources | tar --null -T - -cf - | tar -xf - -C "$tree"
{
  printf 'hexline (%s) unstable; urgency=medium\n\n  * %s.\n\n -- %s  %s\n\n' \
    "$version" "$note" "$maintainer" "$date"
  cat debian/changelog
} >"$tree/debian/changelog"

(cd "$tree" && dpkg-buildpackage -b -us -uc)
rm -f "$build"/hexline_*.deb "$build"/hexline-dbgsym_*.deb
mv "$work"/hexline_"$version"_*.deb "$work"/hexline-dbgsym_"$version"_*.deb "$build"/
ls "$build"/hexline*_"$version"_*.deb
