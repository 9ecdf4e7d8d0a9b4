#!/usr/bin/env bash
# Prepares what the test guest boots: Debian's current kernel package (downloaded and unpacked, never
# installed on this machine) and a small busybox initramfs that mounts the host's root read-only with
# a tmpfs overlay for writes. Both are cached in the folder given as the first argument; the kernel
# version is the one Debian's linux-image-amd64 depends on today.
# Prints the kernel version on standard output.
set -euo pipefail

cache="${1:?usage: prepare-kernel.sh CACHE_DIR}"
mkdir -p "$cache"
here="$(cd "$(dirname "$0")" && pwd)"

version="$(apt-cache depends linux-image-amd64 2>/dev/null |
  grep -o 'linux-image-[0-9][^ ]*-amd64' | head -n 1 | sed 's/^linux-image-//')"
if [ -z "$version" ]; then
  echo "prepare-kernel: apt knows no linux-image-amd64 (run apt-get update first)" >&2
  exit 2
fi

kernel_root="$cache/kernel-$version"
if [ ! -f "$kernel_root/boot/vmlinuz-$version" ]; then
  echo "prepare-kernel: fetching linux-image-$version" >&2
  rm -rf "$cache/debs" "$kernel_root.partial"
  mkdir -p "$cache/debs"
  (cd "$cache/debs" && timeout 600 apt-get download -q "linux-image-$version" >&2)
  dpkg -x "$cache"/debs/linux-image-"${version}"_*.deb "$kernel_root.partial"
  depmod -b "$kernel_root.partial" "$version"
  rm -rf "$cache/debs"
  mv "$kernel_root.partial" "$kernel_root"
fi

# The initramfs depends on the kernel's modules and on our init script only.
initramfs="$cache/initramfs-$version.gz"
if [ ! -f "$initramfs" ] || [ "$here/initramfs-init" -nt "$initramfs" ]; then
  staging="$cache/initramfs-root"
  rm -rf "$staging"
  mkdir -p "$staging"/{bin,dev,proc,sys,lib/modules,mnt/lower,mnt/rw,newroot}
  cp /bin/busybox "$staging/bin/busybox"
  # The modules in load order, dependencies first, each once.
  for module in virtio_pci 9pnet_virtio 9p overlay; do
    modprobe -d "$kernel_root" -S "$version" --show-depends "$module"
  done | awk '$1 == "insmod" && !seen[$2]++ { print $2 }' > "$staging/lib/modules/paths"
  : > "$staging/lib/modules/order"
  while read -r path; do
    cp "$path" "$staging/lib/modules/"
    basename "$path" >> "$staging/lib/modules/order"
  done < "$staging/lib/modules/paths"
  rm "$staging/lib/modules/paths"
  install -m 755 "$here/initramfs-init" "$staging/init"
  (cd "$staging" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) > "$initramfs.partial"
  mv "$initramfs.partial" "$initramfs"
  rm -rf "$staging"
fi

echo "$version"
