#!/usr/bin/env bash
# Takes a picture of the main window, with the simulated printer found, under
# Xvfb: docs/main-window.png, or the path given.
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-docs/main-window.png}
[ -x build/bin/velquin ] && [ -x build/bin/printer-sim ] || BUILD_DIR=build ./scripts/build.sh

. scripts/simulated-printer.sh
work=$(mktemp -d)
start_simulated_printer "$work" --no-tcp

# A copy of the program of its own: its mode file (True Type) and lock stay
# away from a program the user may be running.
mkdir -p "$work/bin" "$work/runtime"
chmod 700 "$work/runtime"
cp build/bin/velquin build/bin/libmorlix.so "$work/bin/"
export MORLIX_DEVICE_ROOT="$work/devices" CUPS_SERVER="$work/no-spooler.sock" XDG_RUNTIME_DIR="$work/runtime"
export VELQUIN_UNATTENDED=1 WORK="$work"

xvfb-run -a -s "-screen 0 1200x900x24 -br" bash -c '
  "$WORK/bin/velquin" &
  program=$!
  sleep 4
  import -window root "$WORK/screen.png"
  kill -TERM "$program"
  wait "$program"
'
mkdir -p "$(dirname "$output")"
# The screen is black around the window: trim it away.
convert "$work/screen.png" -trim +repage "$output"
echo "wrote $output ($(identify -format '%wx%h' "$output"))"
