#!/usr/bin/env bash
# Builds the libraries the Windows build needs and Debian does not package for MinGW, with the
# same MinGW-w64 toolchain, static only, into THIRD_PARTY_DIR/install: libpng and libjpeg-turbo
# from Debian's own bookworm source packages (Debian's JUCE leaves its bundled copies out; zlib
# comes from Debian's libz-mingw-w64-dev), and GoogleTest from Debian's googletest sources in
# /usr/src/googletest (libgtest-dev is built for the host only).
#
# The sources come through a deb-src list of this build's own (apt-get pointed at folders below
# THIRD_PARTY_DIR), never through the system's sources, and everything is cached there: a second
# run with the libraries installed does nothing but look for newer Debian sources once a day.
#
# Usage: libraries.sh THIRD_PARTY_DIR TOOLCHAIN_FILE
set -euo pipefail

third_party="$(realpath -m "$1")"
toolchain="$(realpath "$2")"
mirror="${VFU_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
source_packages=(libpng1.6 libjpeg-turbo libsodium)

install_dir="$third_party/install"
stamp="$install_dir/.built-from"
apt_dir="$third_party/apt"
sources_dir="$third_party/sources"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d" "$sources_dir"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm main" > "$apt_dir/sources.list"

apt_options=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Sandbox::User=root"
  -q
)

if [ -f "$stamp" ] && [ -f "$install_dir/lib/libpng16.a" ] && [ -f "$install_dir/lib/libjpeg.a" ] \
   && [ -f "$install_dir/include/jpegint.h" ] \
   && [ -f "$install_dir/lib/libgtest.a" ] && [ -f "$install_dir/lib/libsodium.a" ] \
   && [ -d "$install_dir/include/CLI" ]; then
  # Debian's security updates bring new source versions now and then: the source lists are
  # refreshed at most once a day, and a newer source of any library rebuilds them all. Without
  # the network the libraries are used as they are.
  if ! find "$apt_dir/lists" -maxdepth 1 -name '*Sources*' -mtime -1 | grep -q .; then
    timeout 300 apt-get "${apt_options[@]}" update > /dev/null 2>&1 || true
  fi
  outdated=""
  for package in "${source_packages[@]}"; do
    version="$(apt-cache "${apt_options[@]}" showsrc "$package" 2> /dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1 || true)"
    # The .dsc's name leaves the epoch out.
    [ -z "$version" ] || grep -qx "${package}_${version#*:}.dsc" "$stamp" || outdated+=" ${package}_${version#*:}"
  done
  if [ -z "$outdated" ]; then
    echo "Libraries for Windows: cached in $third_party ($(tr '\n' ' ' < "$stamp"))"
    exit 0
  fi
  echo "Libraries for Windows: newer Debian sources (${outdated# }); building them again"
  rm -rf "$install_dir" "$sources_dir" "$third_party"/build-*
  mkdir -p "$sources_dir"
fi

if ! compgen -G "$apt_dir/lists/*Sources*" > /dev/null; then
  apt-get "${apt_options[@]}" update
fi

cd "$sources_dir"
for package in "${source_packages[@]}"; do
  if ! compgen -G "${package}_*.dsc" > /dev/null; then
    apt-get "${apt_options[@]}" source --download-only "$package"
  fi
done

# Unpacks a source package with Debian's patches applied and prints its folder.
unpack() {
  local dsc
  dsc="$(ls "$sources_dir/$1"_*.dsc | head -n 1)"
  local folder="$sources_dir/unpacked-$(basename "$dsc" .dsc)"
  if [ ! -d "$folder" ]; then
    dpkg-source --no-check -x "$dsc" "$folder" > /dev/null
  fi
  echo "$folder"
}

png_source="$(unpack libpng1.6)"
jpeg_source="$(unpack libjpeg-turbo)"
sodium_source="$(unpack libsodium)"

common=(
  -G Ninja
  -DCMAKE_TOOLCHAIN_FILE="$toolchain"
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_INSTALL_PREFIX="$install_dir"
  -DCMAKE_PREFIX_PATH="$install_dir"
)
if command -v ccache > /dev/null 2>&1; then
  common+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# Each library is built only when its installed files are missing, so a partial cache is completed.
# libjpeg-turbo: the plain C code paths (its SIMD parts need NASM and do not matter for the few
# images the app loads); no TurboJPEG API, no tools, no shared library.
if [ ! -f "$install_dir/lib/libjpeg.a" ] || [ ! -f "$install_dir/include/jpegint.h" ]; then
cmake -S "$jpeg_source" -B "$third_party/build-jpeg" "${common[@]}" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -Wno-dev > /dev/null
cmake --build "$third_party/build-jpeg" --parallel "${VFU_JOBS:-2}" --target jpeg-static > /dev/null
# Its install step wants the tools too, so the library and the headers are copied by hand: those
# its install step lists, and jpegint.h as Debian's libjpeg62-turbo-dev installs it (JUCE's JPEG
# code includes jpeglib.h with JPEG_INTERNALS defined).
mkdir -p "$install_dir/include" "$install_dir/lib"
cp "$third_party/build-jpeg/libjpeg.a" "$install_dir/lib/"
cp "$third_party/build-jpeg/jconfig.h" "$jpeg_source/jerror.h" "$jpeg_source/jmorecfg.h" "$jpeg_source/jpeglib.h" \
  "$jpeg_source/jpegint.h" "$install_dir/include/"
# JUCE includes jpeglib.h inside a namespace of its own and names jpeglibNamespace::boolean, but
# the Windows jconfig.h leaves that typedef out when windows.h has defined ::boolean already (both
# are unsigned char). An identical typedef may be repeated in C11 and C++, so drop the condition.
sed -i '/^#ifndef __RPCNDR_H__/{n;n;/^#endif/d}' "$install_dir/include/jconfig.h"
sed -i 's|^#ifndef __RPCNDR_H__.*$|/* boolean: also when rpcndr.h has defined it (same type) */|' "$install_dir/include/jconfig.h"
fi

# libpng against Debian's MinGW zlib.
if [ ! -f "$install_dir/lib/libpng16.a" ]; then
cmake -S "$png_source" -B "$third_party/build-png" "${common[@]}" \
  -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON > /dev/null
cmake --build "$third_party/build-png" --parallel "${VFU_JOBS:-2}" > /dev/null
cmake --install "$third_party/build-png" > /dev/null
fi

# GoogleTest for the test programs (no GoogleMock: the tests do not use it).
if [ ! -f "$install_dir/lib/libgtest.a" ]; then
cmake -S /usr/src/googletest -B "$third_party/build-gtest" "${common[@]}" \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON > /dev/null
cmake --build "$third_party/build-gtest" --parallel "${VFU_JOBS:-2}" > /dev/null
cmake --install "$third_party/build-gtest" > /dev/null
fi

# libsodium (package signatures) with its own autotools build, as a static library with its
# pkg-config file, which the project's build finds through PKG_CONFIG_LIBDIR.
# Debian's source has no generated configure script (its packaging runs autoreconf too).
if [ ! -f "$install_dir/lib/libsodium.a" ]; then
  if [ ! -x "$sodium_source/configure" ]; then
    (cd "$sodium_source" && autoreconf -fi > /dev/null 2>&1)
  fi
  mkdir -p "$third_party/build-sodium"
  (
    cd "$third_party/build-sodium"
    cc=x86_64-w64-mingw32-gcc-posix
    command -v ccache > /dev/null 2>&1 && cc="ccache $cc"
    CC="$cc" "$sodium_source/configure" --host=x86_64-w64-mingw32 --prefix="$install_dir" \
      --disable-shared --enable-static --disable-dependency-tracking > /dev/null
    make -j "${VFU_JOBS:-2}" > /dev/null
    make install > /dev/null
  )
  # On Windows its headers declare every function dllimport unless SODIUM_STATIC is defined,
  # which the pkg-config file of a static build does not say.
  sed -i 's|^Cflags: -I${includedir}$|Cflags: -I${includedir} -DSODIUM_STATIC|' "$install_dir/lib/pkgconfig/libsodium.pc"
fi

# CLI11 (vfu's command lines) is header-only: Debian's copy, with its CMake package file, which
# finds the headers relative to itself.
mkdir -p "$install_dir/share/cmake"
cp -r /usr/include/CLI "$install_dir/include/"
cp -r /usr/share/cmake/CLI11 "$install_dir/share/cmake/"

{
  ls "$sources_dir"/*.dsc | xargs -n 1 basename
  dpkg-query -W -f='googletest_${Version}\n' googletest
} > "$stamp"
echo "Libraries for Windows: built ($(tr '\n' ' ' < "$stamp"))"
