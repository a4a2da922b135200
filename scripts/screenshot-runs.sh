#!/usr/bin/env bash
# Takes pictures of the main window during and after an upload, against
# printer-sim on a simulated USB printer (offscreen platform):
#   docs/run-progress.png         a list of 22 fonts under way: file n of N,
#                                 elapsed and what is left
#   docs/stopped-run.png          a run that timed out while the printer wrote
#   docs/stopped-run-message.png  a font it stored all the same, and the box
#                                 that says so
# or into the folder given.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$(realpath -m "${1:-docs}")
cmake --build build --target run_shot >/dev/null
mkdir -p "$folder"
export QT_QPA_PLATFORM=offscreen
build/bin/run_shot progress "$folder/run-progress.png"
build/bin/run_shot stopped "$folder/stopped-run.png" "$folder/stopped-run-message.png"
for picture in run-progress stopped-run stopped-run-message; do
  echo "wrote $folder/$picture.png ($(identify -format '%wx%h' "$folder/$picture.png"))"
done
