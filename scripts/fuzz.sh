#!/usr/bin/env bash
# Builds the soft font converter's libFuzzer target with clang (AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs it for FUZZ_SECONDS (default 120)
# on a copy of the seed corpus. Exits non-zero on any finding; the inputs that
# caused it are kept in build-fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS=${FUZZ_SECONDS:-120}
BUILD_DIR=${FUZZ_BUILD_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELQUIN_BUILD_FUZZ=ON -DVELQUIN_BUILD_APP=OFF -DVELQUIN_BUILD_TESTS=ON -DVELQUIN_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" --target softfont_fuzzer -j 2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r tests/fuzz/corpus/softfont "$work/corpus"
mkdir "$work/findings"

status=0
"$BUILD_DIR/bin/softfont_fuzzer" "$work/corpus" -dict=tests/fuzz/softfont.dict \
  -max_total_time="$FUZZ_SECONDS" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/findings/" >"$work/log" 2>&1 || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/findings")" ]; then
  tail -n 80 "$work/log" >&2
  mkdir -p "$BUILD_DIR/findings"
  cp -r "$work/findings/." "$BUILD_DIR/findings/" 2>/dev/null || true
  echo "softfont_fuzzer: FINDING after ${executions:-an unknown number of} executions (inputs in $BUILD_DIR/findings)" >&2
  exit 1
fi
echo "softfont_fuzzer: ${executions:-0} executions in ${FUZZ_SECONDS} s without a finding"
