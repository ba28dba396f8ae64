#!/usr/bin/env bash
# Checks the Debian package just built without installing it: its files unpack into a temporary
# root, apt can satisfy its dependencies on this machine, and the unpacked program starts and
# stays up with its window shown (under Xvfb).
set -euo pipefail
build=${1:-build}
deb=$(realpath "$(ls -t "$build"/hexline_*.deb | head -n 1)")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
echo "== checking $deb ($(dpkg-deb -f "$deb" Version))"
dpkg-deb -x "$deb" "$root/tree"
for f in usr/bin/hexline usr/share/applications/hexline.desktop \
         usr/share/icons/hicolor/scalable/apps/hexline.svg usr/share/man/man1/hexline.1; do
  [ -e "$root/tree/$f" ] || { echo "missing from the package: /$f"; exit 1; }
done
# The package's own dependencies, as apt would resolve them; nothing is installed.
if ! apt-get install --simulate -q "$deb" >"$root/apt.log" 2>&1; then
  cat "$root/apt.log"
  echo "apt cannot satisfy the package's dependencies"
  exit 1
fi
mkdir "$root/home"
# The window must appear, titled as designed, and the program must still run two seconds later.
HOME=$root/home xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  "$1" & pid=$!
  for _ in $(seq 50); do xwininfo -root -tree 2>/dev/null | grep -q "\"Form1\"" && break; sleep 0.1; done
  xwininfo -root -tree | grep -q "\"Form1\"" || { echo "no window titled Form1"; kill $pid; exit 1; }
  sleep 2
  kill -0 $pid || { echo "the unpacked program ended by itself"; exit 1; }
  kill $pid
' _ "$root/tree/usr/bin/hexline"
# Control characters show as pictures (U+2400 to U+2426): a font package it depends on must draw them.
covering=$(fc-list ':charset=240d' file | sed 's/: *$//')
for font in $(dpkg-deb -f "$deb" Depends | grep -o 'fonts-[a-z0-9.+-]*'); do
  [ -n "$covering" ] && dpkg -L "$font" 2>/dev/null | grep -qxF "$covering" && drawn=$font
done
[ -n "${drawn:-}" ] || { echo "no font package that it depends on draws U+240D (install them: make deps)"; exit 1; }
echo "package unpacks, its dependencies resolve, its program starts and $drawn draws its pictures: ok"
