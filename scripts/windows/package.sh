#!/usr/bin/env bash
# Packs the Windows programs and the licences of everything built into them into one ZIP.
#
# Usage: package.sh PROGRAMS_DIR ZIP_FILE THIRD_PARTY_DIR   (PROGRAMS_DIR holds the programs as
# delivered, signed or not, from scripts/windows/sign.sh; THIRD_PARTY_DIR the libraries' folder of
# scripts/windows/libraries.sh, whose sources hold the licence texts)
set -euo pipefail

programs_dir="$(realpath "$1")"
zip_file="$(realpath -m "$2")"
third_party="$(realpath "$3")"
repo="$(cd "$(dirname "$0")/../.." && pwd)"

app="$programs_dir/QuillboxFirmwareUpdater.exe"
vfu="$programs_dir/vfu.exe"
[ -f "$app" ] && [ -f "$vfu" ] || { echo "package.sh: the programs are not built" >&2; exit 1; }

stage="$(dirname "$zip_file")/package-stage"
rm -rf "$stage"
top="$stage/QuillboxFirmwareUpdater"
mkdir -p "$top/licences"
cp "$app" "$vfu" "$top/"

# The font held in the program, the libraries linked into it, and the MinGW-w64 runtime.
cp "$repo/resources/fonts/LeagueSpartan-OFL.txt" "$top/licences/League-Spartan-OFL.txt"
cp /usr/share/doc/juce-modules-source/copyright "$top/licences/JUCE.txt"
cp /usr/share/doc/libz-mingw-w64-dev/copyright "$top/licences/zlib.txt"
cp "$(ls -d "$third_party"/sources/unpacked-libpng1.6_*/ | head -n 1)LICENSE" "$top/licences/libpng.txt"
jpeg_source="$(ls -d "$third_party"/sources/unpacked-libjpeg-turbo_*/ | head -n 1)"
cat "$jpeg_source/LICENSE.md" "$jpeg_source/README.ijg" > "$top/licences/libjpeg-turbo.txt"
cp "$(ls -d "$third_party"/sources/unpacked-libsodium_*/ | head -n 1)LICENSE" "$top/licences/libsodium.txt"
cp /usr/share/doc/libcli11-dev/copyright "$top/licences/CLI11.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$top/licences/MinGW-w64-runtime.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$top/licences/GCC-runtime.txt"

rm -f "$zip_file"
(cd "$stage" && zip -q -r -X "$zip_file" QuillboxFirmwareUpdater)
rm -rf "$stage"
echo "Windows build: $zip_file"
