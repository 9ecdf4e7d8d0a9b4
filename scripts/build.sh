#!/usr/bin/env bash
# Configures (once) and builds the project into build/ (or $VFU_BUILD_DIR). Extra arguments go to
# the CMake configure step, e.g. -DVFU_SANITIZERS=address,undefined.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir="${VFU_BUILD_DIR:-build}"
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

if [ ! -f "$build_dir/CMakeCache.txt" ] || [ $# -gt 0 ]; then
  cmake -S . -B "$build_dir" "${generator[@]}" "$@"
fi
cmake --build "$build_dir" --parallel "$(nproc 2>/dev/null || echo 2)"
