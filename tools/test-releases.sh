#!/usr/bin/env bash
# Builds a clean clone of the checkout's HEAD and runs every test on the Debian releases after the
# one this machine runs, each in a root of its own made with mmdebstrap: Debian 13 (trixie) and
# unstable. On Debian 13 the Debian package is built and checked too. Prints one line a release
# (its Qt, tests passed and failed) and fails if any release fails.
#
# The roots are kept in a cache outside the checkout (HEXLINE_RELEASES_CACHE, by default
# /var/cache/hexline-releases), never under build/, and made anew once they are a day old. What
# the tests need mounted (/proc, /dev and /dev/pts) is mounted in a mount namespace of the run's
# own, so that nothing stays mounted when it ends, however it ends.
set -euo pipefail
cd "$(dirname "$0")/.."

releases=${HEXLINE_RELEASES:-trixie unstable}
package_releases=${HEXLINE_PACKAGE_RELEASES:-trixie}
cache=${HEXLINE_RELEASES_CACHE:-/var/cache/hexline-releases}
jobs=${JOBS:-$(nproc)}
packages=cmake,g++,make,qt6-base-dev,qt6-serialport-dev,libgl-dev,xvfb,xauth,fonts-freefont-ttf
packages+=,git,python3,pkgconf,build-essential,dpkg-dev,debhelper,lintian,appstream,desktop-file-utils
packages+=,x11-utils

say() { echo "test-releases: $*"; }

if [ "$(id -u)" != 0 ]; then
  say "needs root to make the roots (mmdebstrap) and to mount /proc and /dev in them; run it as root"
  exit 1
fi
for tool in mmdebstrap unshare chroot git; do
  command -v "$tool" >/dev/null || { say "$tool is missing: make deps installs it"; exit 1; }
done

# The Debian mirror this machine's apt already uses.
mirror=${HEXLINE_MIRROR:-$(
  { sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null
    awk '$1 == "deb" { print ($2 ~ /^\[/ ? $3 : $2) }' /etc/apt/sources.list 2>/dev/null; } |
    tr ' ' '\n' | grep -v -e security -e '^$' | head -n 1 || true
)}
[ -n "$mirror" ] || { say "found no Debian mirror in apt's sources; name one in HEXLINE_MIRROR"; exit 1; }

label() { case $1 in trixie) echo "Debian 13" ;; *) echo "$1" ;; esac; }

# A root is made anew once a day, or when it was made with other packages, beside the one in
# use, which stays if the new one fails.
fresh_root() {
  local release=$1 root=$cache/$1
  if [ -n "$(find "$root/.hexline-made" -mmin -1440 2>/dev/null)" ] &&
     [ "$(cat "$root/.hexline-made")" = "$packages" ]; then
    return
  fi
  say "making the $(label "$release") root from $mirror (log: $cache/$release.mmdebstrap.log)"
  rm -rf "$root.new"
  # A mirror's copy of unstable may carry an expired Release file. The package lists stay for
  # the package check, which asks apt whether the package's dependencies resolve.
  if mmdebstrap --variant=apt --include="$packages" --skip=cleanup/apt/lists \
       --aptopt='Acquire::Check-Valid-Until "false"' \
       "$release" "$root.new" "$mirror" >"$cache/$release.mmdebstrap.log" 2>&1; then
    echo "$packages" >"$root.new/.hexline-made"
    rm -rf "$root"
    mv "$root.new" "$root"
  else
    rm -rf "$root.new"
    [ -d "$root" ] || { tail -n 20 "$cache/$release.mmdebstrap.log"; return 1; }
    say "could not refresh the $(label "$release") root; using the one made before"
  fi
}

# What runs inside a root: the Release build, every test, and where asked the package check.
inside='
set -euo pipefail
cd /work/hexline
echo "Qt $(dpkg-query -W -f="\${Version}" qt6-base-dev | sed "s/[+~-].*//")"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$JOBS"
status=0
(cd build && ctest --output-on-failure -j "$JOBS") || status=$?
if [ "$PACKAGE_CHECK" = yes ]; then
  DEB_BUILD_OPTIONS="nocheck parallel=$JOBS" tools/package.sh build-package &&
    tools/check-package.sh build-package || status=1
fi
exit $status
'

run_release() {
  local release=$1 root=$cache/$1 log=$cache/$1.log check=no
  [[ " $package_releases " == *" $release "* ]] && check=yes
  rm -rf "$root/work"
  mkdir -p "$root/work"
  git clone -q --no-hardlinks . "$root/work/hexline"
  PACKAGE_CHECK=$check unshare --mount --propagation private bash -c '
    root=$1; shift
    mount --rbind /proc "$root/proc"
    mount --rbind /dev "$root/dev"
    exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
      JOBS="$JOBS" PACKAGE_CHECK="$PACKAGE_CHECK" bash -c "$1"
  ' _ "$root" "$inside" >"$log" 2>&1 && status=0 || status=$?
  local qt counts
  qt=$(sed -n 's/^Qt //p' "$log" | head -n 1)
  counts=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)/\1 \2/p' "$log")
  if [ -n "$counts" ]; then
    read -r failed total <<<"$counts"
    counts="$((total - failed)) passed, $failed failed"
  else
    counts="no tests ran"
  fi
  [ $check = yes ] && counts+=", package $(grep -q '^package is lintian clean' "$log" && echo ok || echo failed)"
  results+=("$(printf '%-10s Qt %-7s %s' "$(label "$release")" "${qt:-?}" "$counts")")
  if [ $status != 0 ]; then
    tail -n 60 "$log"
    say "$(label "$release") failed; its whole log: $log"
    failures=$((failures + 1))
  fi
  rm -rf "$root/work"
}

mkdir -p "$cache"
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
  say "the checkout has changes not committed: they are not in the clone that is tested"
export JOBS=$jobs
results=()
failures=0
for release in $releases; do
  fresh_root "$release"
  run_release "$release"
done
printf '%s\n' "${results[@]}"
[ $failures = 0 ]
