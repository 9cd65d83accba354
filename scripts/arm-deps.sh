#!/usr/bin/env bash
# What an ARM build and its guest need, from the archive's packages of that
# architecture alone, into /opt/tivlink-arm/ARCH (or DIR):
#   root/    the libraries and headers the cross build links against
#            (CLI11, googletest, toml++, protobuf, libola-dev, libsystemd-dev,
#            libmicrohttpd-dev and what they depend on), unpacked; its var/lib/dpkg records each
#            package's files at their paths here, so that dpkg-shlibdeps
#            names the packages they come from (scripts/build-debs.sh)
#   vmlinuz  Debian's kernel for the guest (arm64; armhf: armmp-lpae)
#   busybox  busybox-static, the guest's shell and tools
# None of it is installed beside the amd64 packages: that needs every
# shared package at the same version on every architecture, which a mirror
# whose architectures are synced apart cannot give. A second run of the same
# script does nothing; remove DIR to take newer packages.
# Usage: arm-deps.sh arm64|armhf [DIR]   (as root)
set -euo pipefail
arch=${1:?usage: arm-deps.sh arm64|armhf [DIR]}
case $arch in
  arm64) kernel_meta=linux-image-arm64 ;;
  armhf) kernel_meta=linux-image-armmp-lpae ;;
  *) echo "arm-deps: no such architecture: $arch (arm64 or armhf)" >&2; exit 2 ;;
esac
dir=$(realpath -m "${2:-/opt/tivlink-arm/$arch}")
stamp=$(sha256sum <"$0" | cut -c1-16)
if [ "$(cat "$dir/versions" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi
multiarch=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
root=$dir/root
packages=libcli11-dev,libgtest-dev,libgmock-dev,libtomlplusplus-dev,libprotobuf-dev,libola-dev,libsystemd-dev,libmicrohttpd-dev,busybox-static,$kernel_meta

echo "arm-deps: unpacking the $arch packages into $dir"
rm -rf --one-file-system "$dir"
mkdir -p "$dir"
bash "$(dirname "$0")/debian-root.sh" "$arch" "$root" \
  --variant=extract --include="$packages" --skip=cleanup/apt/cache

# The package database dpkg-shlibdeps reads (--admindir): each package's
# control fields, symbols and shlibs, and its files under this root.
admin=$root/var/lib/dpkg
rm -rf "$admin"
mkdir -p "$admin/info" "$admin/updates"
echo 1 >"$admin/info/format"  # info files named PACKAGE:ARCH where Multi-Arch: same
printf '%s\n' "$(dpkg --print-architecture)" "$arch" >"$admin/arch"
control=$(mktemp -d)
for deb in "$root"/var/cache/apt/archives/*.deb; do
  name=$(dpkg-deb -f "$deb" Package)
  [ "$(dpkg-deb -f "$deb" Multi-Arch)" = same ] && name="$name:$(dpkg-deb -f "$deb" Architecture)"
  { dpkg-deb -f "$deb"; echo "Status: install ok installed"; echo; } >>"$admin/status"
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' -e '/^$/d' -e "s|^/|$root/|" >"$admin/info/$name.list"
  rm -rf "$control"/*
  dpkg-deb -e "$deb" "$control"
  for f in symbols shlibs; do
    [ -f "$control/$f" ] && cp "$control/$f" "$admin/info/$name.$f"
  done
done
rm -rf "$control" "$root"/var/cache/apt/archives/*.deb
# qemu-user looks up every absolute path in the root first (QEMU_LD_PREFIX),
# so the root holds what programs load and nothing they open: the tests'
# terminals, temporary files and settings are the machine's own.
rm -rf "${root:?}"/{dev,etc,proc,run,sys,tmp}

# libola.pc comes with CRLF line ends, which pkg-config takes into its paths.
sed -i 's/\r$//' "$root/usr/lib/$multiarch/pkgconfig/libola.pc"

# The kernel alone, apart from the root: the guest's drivers are built in.
kernel=$(basename "$(ls "$root"/boot/vmlinuz-*)")
mv "$root/boot/$kernel" "$dir/vmlinuz"
echo "${kernel#vmlinuz-}" >"$dir/kernel-version"
rm -rf "$root/boot" "$root/lib/modules" "$root/usr/lib/modules"
cp "$root/bin/busybox" "$dir/busybox"
echo "arm-deps: $arch: $(grep -c '^Package:' "$admin/status") packages, $(du -sh "$root" | cut -f1), kernel $(cat "$dir/kernel-version")"
echo "$stamp" >"$dir/versions"
