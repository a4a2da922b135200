#!/usr/bin/env bash
# Takes pictures of what the window says of files the printer holds, from
# the window tests against printer-sim on the offscreen platform: the window after a run (the focus on
# the list, not on "Send List To Printer"; the held row marked) and the
# "Printer Holds" view right after the window's own load. Written to
# docs/held-list-after-run.png and docs/printer-holds-after-load.png, or
# into the folder given.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$(realpath -m "${1:-docs}")
cmake --build build --target app_truth_test >/dev/null
mkdir -p "$folder"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Qt's offscreen platform, on a screen large enough for the whole window.
echo '{"screens":[{"name":"shot","x":0,"y":0,"width":1600,"height":1000,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]}' \
  >"$work/screen.json"
shoot() {
  QT_QPA_PLATFORM="offscreen:configfile=$work/screen.json" VELQUIN_SCREENSHOT="$folder/$2" \
    build/tests/app/app_truth_test "$1" >/dev/null
  echo "wrote $folder/$2 ($(identify -format '%wx%h' "$folder/$2"))"
}
shoot aListThePrinterHoldsIsSentAgainOnlyWhenAsked held-list-after-run.png
shoot printerHoldsComparesWithAReadingTakenNow printer-holds-after-load.png
