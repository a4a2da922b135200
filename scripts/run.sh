#!/usr/bin/env bash
# Sets up this machine, builds, and runs the program against printer-sim: a
# simulated USB printer under a temporary device root, and a network printer
# on 127.0.0.1 for "Find Network Printer" (the port is printed below). The
# simulator ends when the program ends; its journal of what reached the
# printer stays in the folder printed below until the next run.
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
# XDG: a cache home that is unset or not absolute means ~/.cache.
cache_home=${XDG_CACHE_HOME:-}
case "$cache_home" in /*) ;; *) cache_home=$HOME/.cache ;; esac
journal=$cache_home/velquin/run-journal
rm -rf -- "$journal"
mkdir -p -- "$journal"
start_simulated_printer "$work" --port 0 --journal "$journal"
port=$SIMULATOR_PORT
echo "printer-sim: a USB printer at $work/devices/dev/usb/lp0;"
echo "             a network printer at 127.0.0.1, port $port (type these into \"Find Network Printer\")."

# The program finds the simulated printer under this device root. No print
# spooler answers at this address, so the machine's own queues stay as they are.
echo "printer-sim journal (what reached the printer, kept until the next run):"
echo "             $journal"

status=0
MORLIX_DEVICE_ROOT="$work/devices" CUPS_SERVER="$work/no-spooler.sock" build/bin/velquin || status=$?

# One line per entry: order kind size sha256 source stored|not-stored; each
# entry's bytes (a file without its header command) in NNNN-kind.bin.
echo
echo "What reached the printer: $journal/journal.txt"
if [ -s "$journal/journal.txt" ]; then
  head -n 20 "$journal/journal.txt" | sed 's/^/  /'
  entries=$(wc -l <"$journal/journal.txt")
  [ "$entries" -le 20 ] || echo "  ... ($entries entries)"
else
  echo "  (nothing)"
fi
echo "Look at the bytes with e.g.: xxd $journal/0001-*.bin | less"
exit "$status"
