#!/usr/bin/env bash
# Starts the simulated device and the monitor together; closing the monitor ends the simulator.
set -euo pipefail
build=${1:-build}
out=$(mktemp)
# Delivered as a USB serial adapter does: lines cut into pieces of a few bytes every few ms.
"$build/hexline-sim" --baud "${HEXLINE_SIM_BAUD:-115200}" >"$out" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -f "$out"' EXIT
trap 'exit 130' INT TERM HUP
for _ in $(seq 50); do
  grep -q '^Port ' "$out" && break
  sleep 0.1
done
port=$(sed -n 's/^Port //p' "$out")
[ -n "$port" ] || { echo "the simulator did not start" >&2; exit 1; }
echo "Simulated device attached as port $port: type $port in the Port field (1 is the default) and press Open."
"$build/hexline"
