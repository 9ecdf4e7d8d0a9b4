#!/usr/bin/env bash
# Configures (once) and builds the project into build/ (or $VFU_BUILD_DIR). Extra arguments go to
# the CMake configure step, e.g. -DVFU_SANITIZERS=address,undefined. VFU_BUILD_TARGETS (targets
# separated by blanks) builds only those instead of everything.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir="${VFU_BUILD_DIR:-build}"
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
# ccache keeps the JUCE modules compiled once across build folders and clones.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(pwd)}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi

if [ ! -f "$build_dir/CMakeCache.txt" ] || [ $# -gt 0 ]; then
  cmake -S . -B "$build_dir" "${generator[@]}" "${launcher[@]}" "$@"
fi
targets=()
for target in ${VFU_BUILD_TARGETS:-}; do
  targets+=(--target "$target")
done
cmake --build "$build_dir" --parallel "$(nproc 2>/dev/null || echo 2)" "${targets[@]}"
