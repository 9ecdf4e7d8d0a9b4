#!/usr/bin/env bash
# Builds the Debian package vorn-firmware-updater_<version>_amd64.deb into build-release/deb/ (or
# $VFU_RELEASE_BUILD_DIR/deb) from a release configuration (VFU_RELEASE=ON) in its own build
# folder: the shipped programs never trust the development key, whose secret is in the repository.
#
# The delivered package is signed with the secret key file $VFU_SIGNING_KEY_FILE, trusted through
# $VFU_TRUSTED_KEY_FILES (default: the .pub beside the key file). Without it, a key pair is made
# once with `vfu keygen` into <release build>/signing-key/ (never committed; kept for later runs).
# Only the targets the package needs are built, not the test suites.
set -euo pipefail
cd "$(dirname "$0")/.."

# dpkg-shlibdeps (dpkg-dev) computes the dependencies; CPack finds the programs with file.
bash scripts/install-deps.sh dpkg-dev file

release_dir="${VFU_RELEASE_BUILD_DIR:-build-release}"
mkdir -p "$release_dir"
release_dir="$(cd "$release_dir" && pwd)"

if [ -n "${VFU_SIGNING_KEY_FILE:-}" ]; then
  signing_key="$(realpath "$VFU_SIGNING_KEY_FILE")"
  trusted_keys="${VFU_TRUSTED_KEY_FILES:-${signing_key%.key}.pub}"
else
  signing_key="$release_dir/signing-key/release.key"
  trusted_keys="$release_dir/signing-key/release.pub"
  if [ ! -f "$signing_key" ] || [ ! -f "$trusted_keys" ]; then
    # vfu of the development build writes the pair; only that program is built there for it.
    dev_dir="${VFU_BUILD_DIR:-build}"
    VFU_BUILD_DIR="$dev_dir" bash scripts/build.sh --target vfu
    vfu_tool="$(find "$dev_dir/tools" -path '*vfu_artefacts*' -name vfu -type f -perm -u+x | head -n 1)"
    [ -n "$vfu_tool" ] || { echo "package.sh: vfu was not built in $dev_dir" >&2; exit 1; }
    rm -rf "$release_dir/signing-key"
    mkdir -p "$release_dir/signing-key"
    "$vfu_tool" keygen --out "$release_dir/signing-key/release"
  fi
fi

VFU_BUILD_DIR="$release_dir" bash scripts/build.sh --target vfu_package_files \
  -DVFU_RELEASE=ON -DVFU_BUILD_TESTS=OFF \
  -DVFU_SIGNING_KEY_FILE="$signing_key" -DVFU_TRUSTED_KEY_FILES="$trusted_keys"

# CPack directly: the `package` target would build every tool of the project first.
rm -f "$release_dir"/deb/*.deb
(cd "$release_dir" && cpack --config CPackConfig.cmake)
ls "$release_dir"/deb/*.deb
