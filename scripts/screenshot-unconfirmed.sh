#!/usr/bin/env bash
# Takes a picture of the main window at the end of a run in which the printer
# did not store one of two fonts (its flash was full): docs/unconfirmed-run.png,
# or the path given. The run is the window test's, against printer-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
output=$(realpath -m "${1:-docs/unconfirmed-run.png}")
cmake --build build --target app_truth_test >/dev/null
mkdir -p "$(dirname "$output")"
VELQUIN_SCREENSHOT="$output" xvfb-run -a -s "-screen 0 1200x900x24" \
  build/tests/app/app_truth_test "aFileThePrinterDidNotStoreIsNamedAtTheEnd:usb flash full" -platform xcb
echo "wrote $output ($(identify -format '%wx%h' "$output"))"
