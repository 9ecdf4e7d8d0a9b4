#!/bin/sh
# The test guest's init once the host's root is mounted: a minimal system (proc, sys, tmpfs for
# /run and /tmp, devpts), the host folder shared writable for results, the kernel's modules and the
# ALSA sequencer modules; then it runs the command the host left in the results folder, prints its
# exit status and powers the guest off.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TERM=dumb LANG=C.UTF-8
mount -t proc proc /proc
mount -t sysfs sys /sys
modules_dir=
for arg in $(cat /proc/cmdline); do
  case "$arg" in vfu_kmods=*) modules_dir="${arg#vfu_kmods=}" ;; esac
done
# The kernel's modules may sit under /tmp on the host: bind them before /tmp gets its own tmpfs.
mkdir -p "/usr/lib/modules/$(uname -r)"
mount --bind "$modules_dir" "/usr/lib/modules/$(uname -r)" || echo "guest: no modules at $modules_dir"
mount -t tmpfs tmpfs /run
# The host's /tmp stays reachable under /run/host-tmp, so that a checkout there (CI may clone
# into one) can be bound back in place once /tmp has its own tmpfs.
mkdir -p /run/host-tmp
mount --bind /tmp /run/host-tmp
mount -t tmpfs tmpfs /tmp
mkdir -p /dev/shm /dev/pts /run/results
mount -t tmpfs tmpfs /dev/shm
mount -t devpts devpts /dev/pts
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 results /run/results ||
  echo "guest: the results folder could not be mounted"
for module in $(cat /run/results/modules); do
  modprobe "$module" || echo "guest: modprobe $module failed"
done
echo "VFU-GUEST-UP $(cut -d' ' -f1 /proc/uptime)"
cwd="$(cat /run/results/cwd 2>/dev/null)"
case "$cwd" in
  /tmp/?*)
    top="${cwd#/tmp/}"
    top="${top%%/*}"
    mkdir -p "/tmp/$top" && mount --bind "/run/host-tmp/$top" "/tmp/$top" ||
      echo "guest: $cwd could not be reached"
    ;;
esac
cd "$cwd" 2>/dev/null || cd /
bash /run/results/command </dev/null 2>&1
echo "VFU-GUEST-EXIT=$? uptime=$(cut -d' ' -f1 /proc/uptime)"
sync
echo o > /proc/sysrq-trigger
while :; do :; done
