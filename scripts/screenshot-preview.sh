#!/usr/bin/env bash
# Takes a picture of the main window with a list of sample soft fonts, the
# first selected and its glyph sheet in the preview, on Qt's offscreen
# platform: docs/preview-window.png, or the path given.
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-docs/preview-window.png}
cmake --build build --target window_shot velquin morlix >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$(dirname "$output")"
# A screen large enough for the whole window.
echo '{"screens":[{"name":"shot","x":0,"y":0,"width":1600,"height":1000,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]}' \
  >"$work/screen.json"
QT_QPA_PLATFORM="offscreen:configfile=$work/screen.json" XDG_RUNTIME_DIR="$work" \
  build/bin/window_shot tests/data/fonts "$output" >/dev/null
echo "wrote $output ($(identify -format '%wx%h' "$output"))"
