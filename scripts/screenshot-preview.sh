#!/usr/bin/env bash
# Takes a picture of the preview panel showing a sample soft font's glyph
# sheet, on Qt's offscreen platform: docs/preview-panel.png, or the path given.
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-docs/preview-panel.png}
cmake --build build --target preview_panel_shot >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$(dirname "$output")"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" build/bin/preview_panel_shot sf \
  tests/data/fonts/helvetica-bold14.sfp "$output"
echo "wrote $output"
