#!/usr/bin/env bash
# Fault-injection soak: builds vfu_soak and plays UPDATES (default 1000) whole updates with faults
# drawn from SEED (default 1). Extra arguments go to vfu_soak (--engines N, --speed S, --starve-ms D).
# VFU_SANITIZERS=address,undefined (or thread) builds it under those sanitizers in a folder of its
# own; any report ends the run with an error.
#   scripts/soak.sh [UPDATES] [SEED] [--engines N] [--speed S] [--starve-ms D]
set -euo pipefail
cd "$(dirname "$0")/.."
sanitizers="${VFU_SANITIZERS:-}"
build="${VFU_SOAK_BUILD_DIR:-build-soak${sanitizers:+-${sanitizers//,/-}}}"
updates="${1:-1000}"; seed="${2:-1}"; shift 2 || shift $# || true

bash scripts/install-deps.sh
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# The same flags as the sanitizer test builds, so that ccache can share their objects.
extra=""
[[ "$sanitizers" == *undefined* ]] && extra="-fno-sanitize-recover=all"
cmake -S . -B "$build" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVFU_BUILD_APP=OFF -DVFU_BUILD_TESTS=OFF \
  -DVFU_SANITIZERS="$sanitizers" -DCMAKE_CXX_FLAGS="$extra" -DCMAKE_C_FLAGS="$extra" >/dev/null
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=1:suppressions=$(pwd)/tests/sanitizers/tsan.supp"
cmake --build "$build" --parallel "${VFU_JOBS:-2}" --target vfu_soak
exec "$build/tools/vfu_soak_artefacts/RelWithDebInfo/vfu_soak" "$updates" "$seed" "$@"
