#!/usr/bin/env bash
# Sets up this machine, builds, and runs the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
BUILD_DIR=build ./scripts/build.sh
exec build/bin/morlix-info
