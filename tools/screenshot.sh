#!/usr/bin/env bash
# Remakes docs/screenshot.png: the real window under Xvfb, watching the simulated device.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mkdir -p docs
xvfb-run -a -s "-screen 0 1280x800x24" "$build/hexline-screenshot" docs/screenshot.png
echo "wrote docs/screenshot.png"
