#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the headless window run need.
# Quick when everything is present already: apt is only called for missing packages.
# Extra package names given as arguments are installed too (clang for the fuzz targets, say).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  juce-modules-source
  libasound2-dev libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev
  libxcomposite-dev libfreetype-dev libfontconfig1-dev
  libgtest-dev libcli11-dev libsodium-dev libsystemd-dev
  fonts-league-spartan
  xvfb xauth xdotool x11-utils imagemagick python3-xlib
  zip unzip
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "Installing: ${missing[*]}"
  # Another apt run on the machine holds the lock for a while; wait for it instead of failing.
  lock_wait=(-o DPkg::Lock::Timeout=600)
  $SUDO apt-get "${lock_wait[@]}" update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${lock_wait[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
