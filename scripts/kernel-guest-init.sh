#!/bin/sh
# The guest's init (kernel-guest.sh puts it in the initramfs): loads the
# driver modules, mounts the host's root read-only and the results folder
# writable, chroots into the host's root, runs the command written in the
# results folder, keeps its output and status there, and powers off.
export PATH=/bin
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev /host
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

finish() {
  sync
  poweroff -f
}

for module in $(cat /modules/order); do
  insmod "/modules/$module.ko" || echo "init: insmod $module failed"
done

results=$kg_results
if ! mount -t 9p -o trans=virtio,version=9p2000.L,ro hostroot /host; then
  echo "init: the host's root could not be mounted"
  finish
fi
# The project's folders, held before fresh folders cover them (a checkout
# under /tmp) and put back after.
kept=0
for folder in $(echo "$kg_keep" | tr ',' ' '); do
  mkdir -p "/keep/$kept"
  mount --bind "/host$folder" "/keep/$kept" || echo "init: $folder could not be held"
  kept=$((kept + 1))
done
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t configfs configfs /host/sys/kernel/config
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/pts /host/dev/shm
mount -t tmpfs tmpfs /host/dev/shm
mount -t tmpfs tmpfs /host/tmp
mount -t tmpfs tmpfs /host/run
mount -t tmpfs tmpfs /host/var/tmp
kept=0
for folder in $(echo "$kg_keep" | tr ',' ' '); do
  mkdir -p "/host$folder" 2>/dev/null
  mount --bind "/keep/$kept" "/host$folder" || echo "init: $folder could not be put back"
  kept=$((kept + 1))
done
# Last, as it may lie under one of the folders above.
mkdir -p "/host$results" 2>/dev/null
mount -t 9p -o trans=virtio,version=9p2000.L,rw results "/host$results" || {
  echo "init: the results folder could not be mounted"
  finish
}
ip link set lo up 2>/dev/null || ifconfig lo 127.0.0.1 up

# The command, one argument to a line.
set --
while IFS= read -r argument; do set -- "$@" "$argument"; done <"/host$results/command"
echo "init: running $*"
chroot /host /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp TMPDIR=/tmp LANG=C.UTF-8 \
  QT_QPA_PLATFORM=offscreen KERNEL_RESULTS="$results" "$@" >"/host$results/output.txt" 2>&1
echo $? >"/host$results/exit-status"
echo "init: the command ended with status $(cat "/host$results/exit-status")"
finish
