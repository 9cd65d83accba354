#!/usr/bin/env bash
# What an ARM build and its guest need that apt cannot install beside the
# amd64 packages, unpacked from the archive's own packages into
# /opt/tivlink-arm/ARCH (or DIR):
#   ola/     libola-dev of that architecture, with a libola.pc pointing
#            here; it cannot be installed, as it depends on the ola daemon
#            of the same architecture, which conflicts with the amd64 one
#   vmlinuz  Debian's kernel for the guest (arm64; armhf: armmp-lpae)
#   busybox  busybox-static, the guest's shell and tools
# The libraries libola.so links to come from libola1:ARCH, which
# install-deps.sh installs. A second run with the same versions does nothing.
# Usage: arm-deps.sh arm64|armhf [DIR]
set -euo pipefail
arch=${1:?usage: arm-deps.sh arm64|armhf [DIR]}
case $arch in
  arm64) kernel_meta=linux-image-arm64 ;;
  armhf) kernel_meta=linux-image-armmp-lpae ;;
  *) echo "arm-deps: no such architecture: $arch (arm64 or armhf)" >&2; exit 2 ;;
esac
dir=$(realpath -m "${2:-/opt/tivlink-arm/$arch}")
multiarch=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)

# The metapackage names the kernel of the day.
kernel=$(apt-cache depends "$kernel_meta:$arch" | sed -n 's/^ *Depends: \(linux-image-[^:]*\).*/\1/p' | head -n1)
[ -n "$kernel" ] || { echo "arm-deps: apt knows no $kernel_meta:$arch (apt-get update?)" >&2; exit 1; }
names=(libola-dev "$kernel" busybox-static)
mapfile -t versions < <(apt-cache policy "${names[@]/%/:$arch}" | sed -n 's/^ *Candidate: //p')
wanted=()
for i in "${!names[@]}"; do wanted+=("${names[$i]}=${versions[$i]}"); done
# This script's own hash too, so that a change to it unpacks again.
stamp="$(sha256sum <"$0" | cut -c1-16) ${wanted[*]}"
if [ "$(cat "$dir/versions" 2>/dev/null)" = "$stamp" ]; then
  exit 0
fi

echo "arm-deps: unpacking ${wanted[*]} ($arch) into $dir"
rm -rf "$dir"
mkdir -p "$dir/debs"
# apt's download user must be able to write the folder.
chmod 777 "$dir/debs"
(cd "$dir/debs" && apt-get download -qq "${wanted[@]/=/:$arch=}")

# libola-dev: headers, links and .pc; the static libraries are not wanted.
dpkg-deb -x "$dir"/debs/libola-dev_*.deb "$dir/ola"
lib=$dir/ola/usr/lib/$multiarch
rm -f "$lib"/*.a
# Its links name files of libola1:ARCH, which live in the system folder.
for link in "$lib"/*.so; do
  ln -sfn "/usr/lib/$multiarch/$(readlink "$link")" "$link"
done
# Only libola.pc is wanted, moved here; it comes with CRLF line ends.
pc=$lib/pkgconfig/libola.pc
tr -d '\r' <"$pc" | sed "s|^prefix=/usr\$|prefix=$dir/ola/usr|" >"$dir/libola.pc"
grep -qx "prefix=$dir/ola/usr" "$dir/libola.pc" || { echo "arm-deps: libola.pc has no prefix=/usr" >&2; exit 1; }
rm -f "$lib"/pkgconfig/*.pc
mv "$dir/libola.pc" "$pc"

# The kernel alone: the guest's drivers are built in.
dpkg-deb --fsys-tarfile "$dir"/debs/"$kernel"_*.deb | tar -x -C "$dir" --wildcards './boot/vmlinuz-*'
mv "$dir"/boot/vmlinuz-* "$dir/vmlinuz"
echo "${kernel#linux-image-}" > "$dir/kernel-version"
dpkg-deb --fsys-tarfile "$dir"/debs/busybox-static_*.deb | tar -x -C "$dir" ./bin/busybox
mv "$dir/bin/busybox" "$dir/busybox"
rm -rf "$dir/debs" "$dir/boot" "$dir/bin"
echo "$stamp" > "$dir/versions"
