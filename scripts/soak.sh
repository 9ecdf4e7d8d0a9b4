#!/usr/bin/env bash
# Fault-injection soak: builds vfu_soak and plays UPDATES (default 1000) whole updates with faults
# drawn from SEED (default 1). Extra arguments go to vfu_soak (--engines N, --speed S).
#   scripts/soak.sh [UPDATES] [SEED] [--engines N] [--speed S]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${VFU_SOAK_BUILD_DIR:-build-soak}"
updates="${1:-1000}"; seed="${2:-1}"; shift 2 || shift $# || true

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja "${launcher[@]}" -DVFU_BUILD_APP=OFF -DVFU_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --parallel "${VFU_JOBS:-2}" --target vfu_soak
exec "$build/tools/vfu_soak_artefacts/RelWithDebInfo/vfu_soak" "$updates" "$seed" "$@"
