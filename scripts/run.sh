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

. scripts/simulated-printer.sh
work=$(mktemp -d)
start_simulated_printer "$work" --port 0
port=$SIMULATOR_PORT
echo "printer-sim: a USB printer at $work/devices/dev/usb/lp0;"
echo "             a network printer at 127.0.0.1, port $port (type these into \"Find Network Printer\")."

# The program finds the simulated printer under this device root. No print
# spooler answers at this address, so the machine's own queues stay as they are.
status=0
MORLIX_DEVICE_ROOT="$work/devices" CUPS_SERVER="$work/no-spooler.sock" build/bin/velquin || status=$?
exit "$status"
