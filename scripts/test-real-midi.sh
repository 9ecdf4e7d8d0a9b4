#!/usr/bin/env bash
# The updater on a real MIDI system: boots a Debian kernel with the ALSA sequencer under QEMU
# (software emulation; this machine's root shared read-only, a tmpfs overlay for writes) and runs,
# inside, the shipped app and `vfu update` against simulated instruments published as real ALSA
# ports by `vfu simulate` (scripts/guest/checks.sh). One boot runs every check; each prints PASS or
# FAIL, figures are printed at the end and kept in build/real-midi/. Exit 1 when a check failed,
# 125 when the guest gave no answer in time.
#
#   scripts/test-real-midi.sh [CHECK...]     (names: see the end of scripts/guest/checks.sh)
#
# Environment: VFU_BUILD_DIR (default build), VFU_GUEST_CACHE (kernel cache, default /tmp/vfu-guest),
# VFU_GUEST_TIMEOUT (seconds for the whole guest run, default 1800).
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)

# QEMU, a static busybox for the initramfs, kmod for the module dependencies, the ALSA tools.
# Fresh package lists: the kernel version comes from what linux-image-amd64 depends on today.
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
timeout 600 $SUDO apt-get update -qq
bash scripts/install-deps.sh qemu-system-x86 busybox-static kmod alsa-utils
build_dir="${VFU_BUILD_DIR:-build}"
if [ -f "$build_dir/CMakeCache.txt" ]; then
  # Configured already (CI has built everything by now): only what the guest runs (the app, vfu,
  # and the midi tests whose sequencer cases run there).
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(pwd)}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
  cmake --build "$build_dir" --parallel "$(nproc 2>/dev/null || echo 2)" --target VornFirmwareUpdater vfu vfu_midi_tests
else
  bash scripts/build.sh
fi
build_dir="$(cd "$build_dir" && pwd)"
vfu="$build_dir/tools/vfu_artefacts/RelWithDebInfo/vfu"
app="$build_dir/src/VornFirmwareUpdater_artefacts/RelWithDebInfo/QuillboxFirmwareUpdater"
out="$build_dir/real-midi"
rm -rf "$out"
mkdir -p "$out/packages" "$out/images"

# Small packages (about 20 KB images) for each model, made with the project's own tools.
image_bytes=20000
echo "$image_bytes" > "$out/packages/image-bytes"
make_package() {
  local name="$1" model="$2" version="$3"
  shift 3
  local images=()
  for image in "$@"; do
    local size=$image_bytes
    case "$image" in *=*) size="${image#*=}"; image="${image%%=*}" ;; esac
    "$vfu" make-image --model "$model" --version "$version" --size "$size" -o "$out/images/$image.syx" >/dev/null
    images+=("$out/images/$image.syx")
  done
  "$vfu" pack --name "$name" -o "$out/packages/$name.vfw" "${images[@]}"
}
make_package quillbox-fw-2.2.1 quillbox 2.2.1 quillbox-fw-2.2.1
make_package lmstr-fw-1.1.0 lumostrel 1.1.0 lmstr-fw-1.1.0
make_package orb26-fw-1.1.0 orb26 1.1.0 orb26-fw2-1.1.0 orb26-fw3-1.1.0=2000 orb26-fw4-1.1.0

# A fixed piece of work, timed here and again inside the guest: the ratio is the emulation's slowdown
# (rough: the host's load changes meanwhile).
calibration_ms() {
  local started_ms=$(($(date +%s%N) / 1000000))
  awk 'BEGIN { for (i = 0; i < 2000000; ++i) s += i % 7; print s }' > /dev/null
  echo $(($(date +%s%N) / 1000000 - started_ms))
}
calibration_ms > "$out/packages/host-calibration-ms"

echo "Booting the test guest (QEMU, software emulation; the checks take about 12 minutes)"
status=0
bash scripts/guest/boot.sh "$out" bash scripts/guest/checks.sh "$vfu" "$app" "$out/packages" "$@" || status=$?

echo
echo "Real-MIDI checks ($out/checks.txt; logs in $out/logs):"
cat "$out/checks.txt" 2>/dev/null || true
cat "$out/figures.txt" 2>/dev/null || true
awk '/VFU-GUEST-UP/ { print "FIGURE guest_boot_time " $NF " s (to user space)" }' "$out/console.log" |
  tee -a "$out/figures.txt"
echo "FIGURE host_calibration $(cat "$out/packages/host-calibration-ms") ms before the boot, $(calibration_ms) ms after it" |
  tee -a "$out/figures.txt"
echo "FIGURE real_midi_leg_time $(($(date +%s) - started)) s" | tee -a "$out/figures.txt"
if [ $status -eq 125 ]; then
  echo "The guest gave no answer; its console is in $out/console.log" >&2
fi
exit $status
