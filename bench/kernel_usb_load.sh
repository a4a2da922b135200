#!/usr/bin/env bash
# Prints the time of `velquin-load send local` of a 1 MiB font through the
# kernel's USB printer driver (usblp and a printer gadget served by
# printer-sim) and through the project's simulated device, both inside the
# guest of scripts/kernel-guest.sh, and their ratio. QEMU emulates the guest's
# processor, so only the ratio means anything.
#   bench/kernel_usb_load.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=$(realpath "${1:-build}")
RESULTS="$BUILD_DIR/bench-kernel"

if [ "${KERNEL_RESULTS:-}" = "" ]; then
  status=0
  scripts/kernel-guest.sh "$BUILD_DIR" "$RESULTS" "$PWD/bench/kernel_usb_load.sh" "$BUILD_DIR" || status=$?
  cat "$RESULTS/output.txt"
  exit "$status"
fi

# In the guest.
BIN="$BUILD_DIR/bin"
WORK=$(mktemp -d)
export XDG_RUNTIME_DIR=$WORK XDG_DATA_HOME=$WORK/data
head -c 1048572 /dev/urandom | { printf '\000\001\000\000'; cat; } >"$WORK/font.ttf"

gadget=/sys/kernel/config/usb_gadget/bench
mkdir -p "$gadget/functions/printer.usb0" "$gadget/configs/c.1"
echo 0x1209 >"$gadget/idVendor"
echo 1 >"$gadget/functions/printer.usb0/q_len"
"$BIN/printer-sim" --print-device-id >"$gadget/functions/printer.usb0/pnp_string"
ln -s "$gadget/functions/printer.usb0" "$gadget/configs/c.1/"
ls /sys/class/udc >"$gadget/UDC"
for _ in $(seq 100); do [ -e /dev/usb/lp0 ] && [ -e /dev/g_printer0 ] && break; sleep 0.1; done

timed_send() {
  local start end
  start=$(date +%s.%N)
  "$BIN/velquin-load" send "$WORK/font.ttf" --printer local >"$WORK/send.log" 2>&1 ||
    { cat "$WORK/send.log"; exit 1; }
  end=$(date +%s.%N)
  awk -v start="$start" -v end="$end" 'BEGIN { print end - start }'
}

"$BIN/printer-sim" --no-tcp --quiet --gadget /dev/g_printer0 &
simulator=$!
usb=$(timed_send)
kill "$simulator"
wait "$simulator" || true
echo "" >"$gadget/UDC"

"$BIN/printer-sim" --no-tcp --quiet --device-root "$WORK/devices" --usb 0 &
simulator=$!
for _ in $(seq 100); do [ -S "$WORK/devices/dev/usb/lp0" ] && break; sleep 0.1; done
simulated=$(MORLIX_DEVICE_ROOT="$WORK/devices" timed_send)
kill "$simulator"
wait "$simulator" || true

awk -v usb="$usb" -v sim="$simulated" 'BEGIN {
  printf "send local, 1 MiB font, in the guest: usblp %.2f s, simulated device %.2f s, ratio %.2f\n", usb, sim, usb / sim
}'
rm -rf "$WORK"
