#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each on a copy of its seed corpus,
# sharing FUZZ_SECONDS (default 120) between them: the soft font converter,
# the image converter with the PCX reader, the printer's replies (identity
# and flash) as the library reads them, list files, and the preview pane's
# readers (soft font, True Type, BMP). Exits non-zero on any
# finding; the inputs that caused it are kept in build-fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${FUZZ_SECONDS:-120}
BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}
TARGETS=(softfont image reply list)
TARGETS+=(preview)
seconds=$((FUZZ_SECONDS / ${#TARGETS[@]}))
((seconds > 0)) || seconds=1

CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELQUIN_BUILD_FUZZ=ON -DVELQUIN_BUILD_APP=OFF -DVELQUIN_BUILD_TESTS=ON -DVELQUIN_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" --target "${TARGETS[@]/%/_fuzzer}" -j 2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "${TARGETS[@]}"; do
  cp -r "tests/fuzz/corpus/$target" "$work/corpus-$target"
  mkdir "$work/findings-$target"
  dictionary=()
  [ -f "tests/fuzz/$target.dict" ] && dictionary=(-dict="tests/fuzz/$target.dict")
  run=0
  "$BUILD_DIR/bin/${target}_fuzzer" "$work/corpus-$target" "${dictionary[@]}" \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/findings-$target/" >"$work/log-$target" 2>&1 || run=$?

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log-$target" | tail -n 1)
  if [ "$run" -ne 0 ] || [ -n "$(ls -A "$work/findings-$target")" ]; then
    tail -n 80 "$work/log-$target" >&2
    mkdir -p "$BUILD_DIR/findings"
    cp -r "$work/findings-$target/." "$BUILD_DIR/findings/" 2>/dev/null || true
    echo "${target}_fuzzer: FINDING after ${executions:-an unknown number of} executions (inputs in $BUILD_DIR/findings)" >&2
    status=1
  else
    echo "${target}_fuzzer: ${executions:-0} executions in ${seconds} s without a finding"
  fi
done
exit "$status"
