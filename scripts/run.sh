#!/usr/bin/env bash
# Sets up this machine, builds, and runs the program against printer-sim: a
# simulated USB printer under a temporary device root, and a network printer
# on 127.0.0.1 for "Find Network Printer" (the port is printed below). The
# simulator ends when the program ends.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
BUILD_DIR=build ./scripts/build.sh

if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (DISPLAY or WAYLAND_DISPLAY) to show the window on." >&2
  echo "        Run it in a desktop session, or see scripts/screenshot.sh for a picture under Xvfb." >&2
  exit 2
fi

work=$(mktemp -d)
simulator=""
cleanup() {
  if [ -n "$simulator" ]; then
    kill "$simulator" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

build/bin/printer-sim --device-root "$work/devices" --usb 0 --port 0 --quiet >"$work/printer-sim.log" 2>&1 &
simulator=$!
for _ in $(seq 100); do
  grep -q '^port ' "$work/printer-sim.log" 2>/dev/null && [ -S "$work/devices/dev/usb/lp0" ] && break
  kill -0 "$simulator" 2>/dev/null || { cat "$work/printer-sim.log" >&2; exit 1; }
  sleep 0.1
done
port=$(sed -n 's/^port //p' "$work/printer-sim.log" | head -n 1)
echo "printer-sim: a USB printer at $work/devices/dev/usb/lp0;"
echo "             a network printer at 127.0.0.1, port $port (type these into \"Find Network Printer\")."

# The program finds the simulated printer under this device root. No print
# spooler answers at this address, so the machine's own queues stay as they are.
status=0
MORLIX_DEVICE_ROOT="$work/devices" CUPS_SERVER="$work/no-spooler.sock" build/bin/velquin || status=$?
exit "$status"
