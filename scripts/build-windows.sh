#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 into build-windows/ (or $VFU_WINDOWS_BUILD_DIR):
# QuillboxFirmwareUpdater.exe (with the delivered package appended), vfu.exe and the test
# programs, all statically linked, and a ZIP of the programs and the licences. Installs what it
# needs first. Build steps that run a built program (the package bundling) go through Wine.
# Extra arguments go to the CMake configure step.
#
# A release build like the .deb (VFU_RELEASE=ON): the delivered package is signed with the secret
# key file $VFU_SIGNING_KEY_FILE, trusted through $VFU_TRUSTED_KEY_FILES (default: the .pub beside
# it), never with the development key, which the programs do not trust. Without a key, a pair is
# made once with the development build's `vfu keygen` into build-windows/signing-key/ (never
# committed). The programs as delivered go to build-windows/programs/, signed with Authenticode
# when $VFU_WINDOWS_CERTIFICATE names a PKCS#12 file (scripts/windows/sign.sh).
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

# The key the delivered package is signed with.
if [ -n "${VFU_SIGNING_KEY_FILE:-}" ]; then
  signing_key="$(realpath "$VFU_SIGNING_KEY_FILE")"
  trusted_keys="${VFU_TRUSTED_KEY_FILES:-${signing_key%.key}.pub}"
else
  signing_key="$build_dir/signing-key/release.key"
  trusted_keys="$build_dir/signing-key/release.pub"
  if [ ! -f "$signing_key" ] || [ ! -f "$trusted_keys" ]; then
    dev_dir="${VFU_BUILD_DIR:-build}"
    VFU_BUILD_DIR="$dev_dir" bash scripts/build.sh --target vfu
    vfu_tool="$(find "$dev_dir/tools" -path '*vfu_artefacts*' -name vfu -type f -perm -u+x | head -n 1)"
    [ -n "$vfu_tool" ] || { echo "build-windows.sh: vfu was not built in $dev_dir" >&2; exit 1; }
    rm -rf "$build_dir/signing-key"
    mkdir -p "$build_dir/signing-key"
    "$vfu_tool" keygen --out "$build_dir/signing-key/release"
  fi
fi

app_dir="$build_dir/app"
# Configured again when the libraries' folder or the signing key changed.
if [ ! -f "$app_dir/CMakeCache.txt" ] || [ $# -gt 0 ] \
   || ! grep -qxF "CMAKE_PREFIX_PATH:UNINITIALIZED=$third_party/install" "$app_dir/CMakeCache.txt" \
   || ! grep -qxF "VFU_SIGNING_KEY_FILE:FILEPATH=$signing_key" "$app_dir/CMakeCache.txt"; then
  launcher=()
  command -v ccache > /dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$app_dir" -G Ninja "${launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$third_party/install" \
    -DVFU_RELEASE=ON -DVFU_SIGNING_KEY_FILE="$signing_key" -DVFU_TRUSTED_KEY_FILES="$trusted_keys" \
    "$@"
fi

# What the Windows leg needs: the app, vfu, the test programs and the engine benchmark.
targets=(VornFirmwareUpdater vfu vfu_bench_engine)
while IFS= read -r suite; do
  targets+=("$suite")
done < <(cmake --build "$app_dir" --target help | sed -n 's/^\(vfu_[a-z]*_tests\):.*/\1/p' | sort -u)
cmake --build "$app_dir" --parallel "$jobs" --target "${targets[@]}"

app="$(find "$app_dir/src/VornFirmwareUpdater_artefacts" -name QuillboxFirmwareUpdater.exe | head -n 1)"
vfu="$(find "$app_dir/tools/vfu_artefacts" -name vfu.exe | head -n 1)"
[ -f "$app" ] && [ -f "$vfu" ] || { echo "build-windows.sh: the programs are not built" >&2; exit 1; }
rm -rf "$build_dir/programs"
bash scripts/windows/sign.sh "$build_dir/programs" "$app" "$vfu"

bash scripts/windows/package.sh "$build_dir/programs" "$build_dir/QuillboxFirmwareUpdater-windows.zip" "$third_party"
