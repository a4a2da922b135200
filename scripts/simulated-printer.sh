# Sourced by run.sh and screenshot.sh. start_simulated_printer WORK [options]
# starts printer-sim with a USB printer at WORK/devices/dev/usb/lp0 (and any
# further printer-sim options), waits until it serves, sets SIMULATOR_PORT
# when it listens on TCP, and removes WORK and the simulator on exit.

SIMULATOR_PID=""
SIMULATOR_WORK=""
SIMULATOR_PORT=""

stop_simulated_printer() {
  if [ -n "$SIMULATOR_PID" ]; then
    kill "$SIMULATOR_PID" 2>/dev/null || true
    wait "$SIMULATOR_PID" 2>/dev/null || true
  fi
  [ -n "$SIMULATOR_WORK" ] && rm -rf "$SIMULATOR_WORK"
}

start_simulated_printer() {
  SIMULATOR_WORK=$1
  shift
  trap stop_simulated_printer EXIT
  local log="$SIMULATOR_WORK/printer-sim.log"
  build/bin/printer-sim --device-root "$SIMULATOR_WORK/devices" --usb 0 --quiet "$@" >"$log" 2>&1 &
  SIMULATOR_PID=$!
  local wants_tcp=1
  case " $* " in *" --no-tcp "*) wants_tcp=0 ;; esac
  for _ in $(seq 100); do
    if [ -S "$SIMULATOR_WORK/devices/dev/usb/lp0" ]; then
      SIMULATOR_PORT=$(sed -n 's/^port //p' "$log" | head -n 1)
      [ "$wants_tcp" = 0 ] || [ -n "$SIMULATOR_PORT" ] && return 0
    fi
    kill -0 "$SIMULATOR_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "printer-sim did not start:" >&2
  cat "$log" >&2
  return 1
}
