#!/usr/bin/env bash
# A long fuzzing run of every target, outside CI: the same targets, corpora
# and checks as scripts/fuzz.sh, for FUZZ_SECONDS (default 1800) at the
# lowest priority so the machine stays usable. Prints the execution count;
# exits non-zero on a finding (inputs kept in build-fuzz/findings).
set -euo pipefail
cd "$(dirname "$0")/.."
export FUZZ_SECONDS=${FUZZ_SECONDS:-1800}
exec nice -n 19 ./scripts/fuzz.sh
