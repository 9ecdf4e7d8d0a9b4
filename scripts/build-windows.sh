#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 into build-windows/ (or $VFU_WINDOWS_BUILD_DIR):
# QuillboxFirmwareUpdater.exe (with the delivered package appended), vfu.exe and the test
# programs, all statically linked, and a ZIP of the programs and the licences. Installs what it
# needs first. Build steps that run a built program (the package bundling) go through Wine.
# Extra arguments go to the CMake configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

build_dir="${VFU_WINDOWS_BUILD_DIR:-build-windows}"
toolchain="$root/cmake/toolchains/mingw-w64-x86_64.cmake"
jobs="${VFU_JOBS:-$(nproc 2>/dev/null || echo 2)}"

bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 \
  autoconf automake libtool

mkdir -p "$build_dir"
build_dir="$(realpath "$build_dir")"

# Wine keeps its prefix in the build folder, so the build never touches the user's own.
export WINEPREFIX="${WINEPREFIX:-$build_dir/wine}" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i > /dev/null 2>&1
fi

if command -v ccache > /dev/null 2>&1; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi
VFU_JOBS="$jobs" bash scripts/windows/libraries.sh "$build_dir/third-party" "$toolchain"

# Libraries found through pkg-config come from the folder above, never from the host.
export PKG_CONFIG_LIBDIR="$build_dir/third-party/install/lib/pkgconfig" PKG_CONFIG_PATH=""

app_dir="$build_dir/app"
if [ ! -f "$app_dir/CMakeCache.txt" ] || [ $# -gt 0 ]; then
  launcher=()
  command -v ccache > /dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$app_dir" -G Ninja "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$build_dir/third-party/install" \
    "$@"
fi

# What the Windows leg needs: the app, vfu, the test programs and the engine benchmark.
targets=(VornFirmwareUpdater vfu vfu_bench_engine)
while IFS= read -r suite; do
  targets+=("$suite")
done < <(cmake --build "$app_dir" --target help | sed -n 's/^\(vfu_[a-z]*_tests\):.*/\1/p' | sort -u)
cmake --build "$app_dir" --parallel "$jobs" --target "${targets[@]}"

bash scripts/windows/package.sh "$app_dir" "$build_dir/QuillboxFirmwareUpdater-windows.zip"
