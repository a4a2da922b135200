#!/usr/bin/env bash
# Boots a small guest on Debian's own kernel, where the kernel's USB printer
# driver (usblp) meets a USB printer gadget (dummy_hcd and the configfs printer
# function) and the parallel printer driver (parport_pc, lp) meets QEMU's
# emulated parallel port, and runs one command of the project in it.
#
#   kernel-guest.sh BUILD_DIR RESULTS_DIR COMMAND [ARGUMENT...]
#
# The kernel comes from `apt-get download` of the package linux-image-amd64
# depends on, unpacked (never installed) and cached in BUILD_DIR/kernel-guest
# with an initramfs of busybox, the driver modules and an init script. The
# host's root is shared with the guest read-only and the guest chroots into
# it, so COMMAND (a path on the host) runs with the project's own build and
# the host's libraries. RESULTS_DIR is shared writable at the same path; the
# command's output lands in RESULTS_DIR/output.txt, its exit status in
# RESULTS_DIR/exit-status, the guest's console in RESULTS_DIR/console.log, and
# what the guest sends to its parallel port in RESULTS_DIR/parallel.out.
# Exits with the command's status, or 125 with the reason when the guest could
# not be made or did not run the command (the console log is then printed).
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 BUILD_DIR RESULTS_DIR COMMAND [ARGUMENT...]" >&2
  exit 2
fi
BUILD_DIR=$(realpath "$1")
RESULTS=$(realpath -m "$2")
# The project's folders, which the guest keeps visible where it puts fresh
# folders of its own (/tmp, /run...): a checkout may lie under one of them.
PROJECT_DIR=$(realpath "$(dirname "$0")/..")
shift 2
# The guest starts the command from its root.
case "$1" in */*) set -- "$(realpath "$1")" "${@:2}" ;; esac
CACHE="$BUILD_DIR/kernel-guest"
# Guest time limit: a hung guest must end the run, not stall CI.
GUEST_TIMEOUT=${GUEST_TIMEOUT:-900}

# In load order; each needs only those before it.
MODULES=(configfs usb-common usbcore udc-core libcomposite dummy_hcd usb_f_printer usblp
  parport parport_pc lp
  virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet 9pnet_virtio netfs fscache 9p)

cannot() {
  echo "kernel-guest: the guest cannot run: $*" >&2
  exit 125
}

for tool in qemu-system-x86_64 busybox cpio dpkg-deb apt-get; do
  command -v "$tool" >/dev/null || cannot "$tool is missing (scripts/setup.sh installs it)"
done
for folder in "$RESULTS" "$PROJECT_DIR" "$BUILD_DIR"; do
  case "$folder" in *[[:space:],]*) cannot "a folder's path has white space or a comma: $folder" ;; esac
done

# The kernel package and an initramfs made from it, once per build folder.
prepare() {
  local package
  kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1
  }
  package=$(kernel_package)
  # A machine whose package lists were cleaned fetches them first.
  if [ -z "$package" ] && [ "$(id -u)" = 0 ]; then
    apt-get update -qq >/dev/null 2>&1 || true
    package=$(kernel_package)
  fi
  [ -n "$package" ] || cannot "apt-cache does not know what linux-image-amd64 depends on"
  [ -f "$CACHE/package" ] && [ "$(cat "$CACHE/package")" = "$package" ] && return 0
  rm -rf "$CACHE"
  mkdir -p "$CACHE/download" "$CACHE/unpacked" "$CACHE/initrd/bin" "$CACHE/initrd/modules"
  (cd "$CACHE/download" && apt-get download "$package" >/dev/null 2>"$CACHE/download.log") ||
    cannot "apt-get download $package failed: $(tail -n 3 "$CACHE/download.log")"
  dpkg-deb -x "$CACHE"/download/*.deb "$CACHE/unpacked"
  cp "$CACHE"/unpacked/boot/vmlinuz-* "$CACHE/vmlinuz"
  local module found
  for module in "${MODULES[@]}"; do
    found=$(find "$CACHE/unpacked/lib/modules" -name "$module.ko" -o -name "$module.ko.xz" | head -n 1)
    [ -n "$found" ] || cannot "the kernel package has no module $module"
    case "$found" in
      *.xz) xz -dc "$found" >"$CACHE/initrd/modules/$module.ko" ;;
      *) cp "$found" "$CACHE/initrd/modules/$module.ko" ;;
    esac
  done
  printf '%s\n' "${MODULES[@]}" >"$CACHE/initrd/modules/order"
  cp "$(command -v busybox)" "$CACHE/initrd/bin/busybox"
  ln -s busybox "$CACHE/initrd/bin/sh"
  rm -rf "$CACHE/download" "$CACHE/unpacked"
  echo "$package" >"$CACHE/package"
}

# The initramfs, made again whenever the init script changed.
make_initrd() {
  local init
  init="$(dirname "$0")/kernel-guest-init.sh"
  [ -f "$CACHE/initrd.gz" ] && cmp -s "$init" "$CACHE/initrd/init" && return 0
  cp "$init" "$CACHE/initrd/init"
  chmod +x "$CACHE/initrd/init"
  (cd "$CACHE/initrd" && find . | cpio -o -H newc --quiet | gzip -1 >"$CACHE/initrd.gz.new")
  mv "$CACHE/initrd.gz.new" "$CACHE/initrd.gz"
}

prepare
make_initrd
mkdir -p "$RESULTS"
rm -f "$RESULTS/exit-status" "$RESULTS/output.txt" "$RESULTS/console.log" "$RESULTS/parallel.out"
: >"$RESULTS/parallel.out"
# The command and its arguments, one to a line, for the guest's init.
printf '%s\n' "$@" >"$RESULTS/command"

status=0
timeout --kill-after=10 "$GUEST_TIMEOUT" qemu-system-x86_64 \
  -accel tcg -smp 1 -m 1024 -nographic -no-reboot -nodefaults -serial stdio \
  -kernel "$CACHE/vmlinuz" -initrd "$CACHE/initrd.gz" \
  -append "console=ttyS0 panic=-1 quiet kg_results=$RESULTS kg_keep=$PROJECT_DIR,$BUILD_DIR" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$RESULTS,mount_tag=results,security_model=none,multidevs=remap" \
  -chardev "file,id=lpt,path=$RESULTS/parallel.out" -parallel chardev:lpt \
  </dev/null >"$RESULTS/console.log" 2>&1 || status=$?

if [ ! -f "$RESULTS/exit-status" ]; then
  echo "kernel-guest: the guest did not finish its command (qemu status $status); its console:" >&2
  cat "$RESULTS/console.log" >&2
  exit 125
fi
cat "$RESULTS/output.txt"
status=$(cat "$RESULTS/exit-status")
if [ "$status" != 0 ]; then
  echo "kernel-guest: the command failed with status $status; the guest's console:"
  cat "$RESULTS/console.log"
fi
exit "$status"
