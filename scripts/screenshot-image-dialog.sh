#!/usr/bin/env bash
# Takes a picture of the image conversion dialog with a sample logo, on Qt's
# offscreen platform: docs/image-dialog.png, or the path given.
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-docs/image-dialog.png}
cmake --build build --target image_dialog_shot >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/logo.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="300" height="150">
  <defs><linearGradient id="g" x1="0" x2="1"><stop offset="0" stop-color="#1a4f8b"/><stop offset="1" stop-color="#e8c547"/></linearGradient></defs>
  <rect x="4" y="4" width="292" height="142" rx="18" fill="url(#g)"/>
  <circle cx="75" cy="75" r="48" fill="#fff"/>
  <path d="M52 75 l16 20 l30 -40" stroke="#1a4f8b" stroke-width="12" fill="none"/>
  <text x="140" y="88" font-family="DejaVu Sans" font-size="36" font-weight="bold" fill="#fff">TICKET</text>
</svg>
SVG
mkdir -p "$(dirname "$output")"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" build/bin/image_dialog_shot "$work/logo.svg" "$output"
echo "wrote $output"
