#!/usr/bin/env bash
# boot.sh RESULTS_DIR COMMAND... -- boots a Debian kernel under QEMU (software emulation, one CPU)
# with this machine's root shared read-only (tmpfs overlay on top) and RESULTS_DIR shared writable
# as /run/results, loads the ALSA sequencer modules (snd-seq, snd-seq-dummy, snd-virmidi), runs
# COMMAND with bash in the current folder, prints what it prints, and exits with its status.
# 125: the guest gave no status (did not boot, or hit the time-out).
# Environment: VFU_GUEST_CACHE (kernel cache, default /tmp/vfu-guest), VFU_GUEST_TIMEOUT (whole
# boot, default 1800 s), VFU_GUEST_MEMORY (MiB, default 1536).
set -euo pipefail

results="${1:?usage: boot.sh RESULTS_DIR COMMAND...}"
shift
[ $# -gt 0 ] || { echo "usage: boot.sh RESULTS_DIR COMMAND..." >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
cache="${VFU_GUEST_CACHE:-/tmp/vfu-guest}"

version="$(bash "$here/prepare-kernel.sh" "$cache")"
kernel_root="$cache/kernel-$version"

mkdir -p "$results"
results="$(cd "$results" && pwd)"
printf '%s\n' "$*" > "$results/command"
pwd > "$results/cwd"
echo "snd-seq snd-seq-dummy snd-virmidi" > "$results/modules"
rm -f "$results/status"

console="$results/console.log"

# Shows what the guest's command prints (line by line, as it comes) and keeps its exit status.
show_console() {
  local line shown=0
  while IFS= read -r line; do
    line="${line%$'\r'}"
    case "$line" in
      *VFU-GUEST-EXIT=*)
        line="${line#*VFU-GUEST-EXIT=}"
        echo "${line%% *}" > "$results/status"
        shown=0 ;;
      *VFU-GUEST-UP*) shown=1; echo "[guest: user space up at ${line##* } s]" ;;
      *"Kernel panic"* | *initramfs:* | *guest:*) echo "$line" ;;
      *) [ $shown -eq 0 ] || echo "$line" ;;
    esac
  done
}
set +e
timeout --kill-after=10 "${VFU_GUEST_TIMEOUT:-1800}" qemu-system-x86_64 \
  -accel tcg -smp 1 -m "${VFU_GUEST_MEMORY:-1536}" -nodefaults -nographic -no-reboot \
  -monitor none -serial stdio \
  -kernel "$kernel_root/boot/vmlinuz-$version" -initrd "$cache/initramfs-$version.gz" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 mitigations=off vfu_init=$here/guest-init.sh vfu_kmods=$kernel_root/lib/modules/$version" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs "local,path=$results,mount_tag=results,security_model=none,multidevs=remap" \
  </dev/null 2>&1 | tee "$console" | show_console
qemu_status=${PIPESTATUS[0]}
set -e

if [ ! -s "$results/status" ]; then
  echo "boot.sh: the guest ended without a status (qemu exit $qemu_status; 124 is the time-out); console: $console" >&2
  exit 125
fi
exit "$(cat "$results/status")"
