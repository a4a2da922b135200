#!/usr/bin/env bash
# Checks the format of every source file, then builds and runs every test:
# the normal build and its Debian package, then the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzzers for a
# bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

JOBS=${JOBS:-8}
export QT_QPA_PLATFORM=offscreen

echo "== Format"
./scripts/check-format.sh

echo "== Build and test (RelWithDebInfo)"
BUILD_DIR=build ./scripts/build.sh
ctest --test-dir build --output-on-failure -j "$JOBS"

echo "== Debian package"
BUILD_DIR=build ./scripts/package-check.sh

echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan BUILD_TYPE=Debug ./scripts/build.sh -DVELQUIN_SANITIZE=ON -DVELQUIN_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$JOBS"

if [ -x scripts/fuzz.sh ]; then
  echo "== Fuzzing"
  ./scripts/fuzz.sh
fi
