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
# The libraries Debian does not package for MinGW are built once per machine, outside the clone, in
# a folder named after what they are built with: the cross compiler, the Debian packages that go
# into them and the recipe (scripts/windows/libraries.sh and the toolchain file). A change of any
# of these gives a new folder; libraries.sh itself rebuilds when Debian's source versions change.
toolchain_key="$(
  {
    x86_64-w64-mingw32-g++-posix -dumpfullversion
    dpkg-query -W -f='${Package} ${Version}\n' mingw-w64-x86-64-dev libz-mingw-w64-dev googletest libcli11-dev
    sha256sum scripts/windows/libraries.sh "$toolchain" | cut -d ' ' -f 1
  } | sha256sum | cut -c 1-16
)"
third_party="${VFU_WINDOWS_LIBRARIES_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/vfu/windows-libraries/$toolchain_key}"
mkdir -p "$(dirname "$third_party")"
# One build of a folder at a time, whichever clone asks for it.
(
  flock 9
  VFU_JOBS="$jobs" bash scripts/windows/libraries.sh "$third_party" "$toolchain"
) 9> "$third_party.lock"

# Libraries found through pkg-config come from the folder above, never from the host.
export PKG_CONFIG_LIBDIR="$third_party/install/lib/pkgconfig" PKG_CONFIG_PATH=""

app_dir="$build_dir/app"
# Configured again when the libraries' folder changed (a new compiler, say).
if [ ! -f "$app_dir/CMakeCache.txt" ] || [ $# -gt 0 ] \
   || ! grep -qxF "CMAKE_PREFIX_PATH:UNINITIALIZED=$third_party/install" "$app_dir/CMakeCache.txt"; then
  launcher=()
  command -v ccache > /dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$app_dir" -G Ninja "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$third_party/install" \
    "$@"
fi

# What the Windows leg needs: the app, vfu, the test programs and the engine benchmark.
targets=(VornFirmwareUpdater vfu vfu_bench_engine)
while IFS= read -r suite; do
  targets+=("$suite")
done < <(cmake --build "$app_dir" --target help | sed -n 's/^\(vfu_[a-z]*_tests\):.*/\1/p' | sort -u)
cmake --build "$app_dir" --parallel "$jobs" --target "${targets[@]}"

bash scripts/windows/package.sh "$app_dir" "$build_dir/QuillboxFirmwareUpdater-windows.zip" "$third_party"
