#!/usr/bin/env bash
# Builds the Debian package vorn-firmware-updater_<version>_amd64.deb into build/deb/ (or
# $VFU_BUILD_DIR/deb), from the programs of the normal build: nothing is compiled twice.
set -euo pipefail
cd "$(dirname "$0")/.."

# dpkg-shlibdeps (dpkg-dev) computes the dependencies; CPack finds the programs with file.
bash scripts/install-deps.sh dpkg-dev file
bash scripts/build.sh

build_dir="${VFU_BUILD_DIR:-build}"
rm -f "$build_dir"/deb/*.deb
cmake --build "$build_dir" --target package
ls "$build_dir"/deb/*.deb
