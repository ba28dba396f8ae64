#!/usr/bin/env bash
# Installs the Debian package just built and checks that the installed program starts and stays
# up with its window shown (under Xvfb).
set -euo pipefail
build=${1:-build}
deb=$(ls -t "$build"/hexline_*.deb | head -n 1)
echo "== installing $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall "$(realpath "$deb")" >/dev/null
for f in /usr/bin/hexline /usr/share/applications/hexline.desktop \
         /usr/share/icons/hicolor/scalable/apps/hexline.svg /usr/share/man/man1/hexline.1; do
  [ -e "$f" ] || { echo "missing after install: $f"; exit 1; }
done
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# The window must appear, titled as designed, and the program must still run two seconds later.
HOME=$home xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  /usr/bin/hexline & pid=$!
  for _ in $(seq 50); do xwininfo -root -tree 2>/dev/null | grep -q "\"Form1\"" && break; sleep 0.1; done
  xwininfo -root -tree | grep -q "\"Form1\"" || { echo "no window titled Form1"; kill $pid; exit 1; }
  sleep 2
  kill -0 $pid || { echo "the installed program ended by itself"; exit 1; }
  kill $pid
'
echo "package installs and the installed program starts: ok"
