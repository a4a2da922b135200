#!/usr/bin/env bash
# The time from SIGINT to the end of velquin-load while its printer stalls.
# printer-sim is stopped (SIGSTOP) while a large file is on its way, so the
# worker blocks inside the library's send; a second round stalls every reply
# (the worker waits inside a read). Goal: under 2 s each. Prints one line
# per round with the seconds and the report's outcome. Builds nothing: run
# after ./scripts/build.sh (BUILD_DIR, default build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
sim="$BUILD_DIR/bin/printer-sim"
load="$BUILD_DIR/bin/velquin-load"

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill -CONT "$sim_pid" 2>/dev/null || true
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_DATA_HOME="$work/data"

# A 256 MiB file that starts as a True Type font does (seconds on the wire).
printf '\000\001\000\000' >"$work/big.ttf"
truncate -s $((256 << 20)) "$work/big.ttf"

# One round: printer-sim with OPTIONS, velquin-load sending, STALL run after
# WAIT seconds, SIGINT a second later; prints the time from SIGINT to exit.
round() {
  local name=$1 stall=$2 wait=$3
  shift 3
  "$sim" --quiet --no-checksums "$@" >"$work/sim.out" &
  sim_pid=$!
  until grep -q '^port ' "$work/sim.out" 2>/dev/null; do sleep 0.05; done
  local port
  port=$(sed -n 's/^port //p' "$work/sim.out")
  "$load" send "$work/big.ttf" --printer "tcp:127.0.0.1:$port" --force --json >"$work/report.json" 2>/dev/null &
  local load_pid=$!
  sleep "$wait"
  if [ "$stall" = stop ]; then kill -STOP "$sim_pid"; fi
  sleep 1
  local start end
  start=$(date +%s.%N)
  kill -INT "$load_pid"
  wait "$load_pid" || true
  end=$(date +%s.%N)
  local outcome
  outcome=$(grep -o '"message": *"[^"]*"' "$work/report.json" | head -n 1 || true)
  printf '%-30s %s s from SIGINT to exit  %s\n' "$name" \
    "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')" "$outcome"
  kill -CONT "$sim_pid" 2>/dev/null || true
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}

round "printer stopped mid-file" stop 1.5 --flash-size $((512 << 20))
round "printer answering after 60 s" none 0 --reply-delay 60000
