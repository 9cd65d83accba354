#!/usr/bin/env bash
# Builds the Debian packages the way Debian builds them (prefix /usr, the
# library in the multiarch folder, dpkg-buildflags' hardening) in their own
# tree, and checks them with lintian: no error, and no warning but those
# README.md explains. Prints the packages' paths, one per line, last.
# --arch cross-builds them for arm64 or armhf (preset linux-ARCH; see
# tests/arm/run.sh); --tests configures the tree with the tests, which a
# later `cmake --build` of the same tree builds with the same flags.
# Usage: build-debs.sh [--arch ARCH] [--tests] [BUILD_DIR]
#   (default build/deb, or build/deb-ARCH for a foreign ARCH)
set -euo pipefail
cd "$(dirname "$0")/.."
native=$(dpkg --print-architecture)
arch=$native tests=OFF
while [ $# -gt 0 ]; do
  case $1 in
    --arch) arch=$2; shift 2 ;;
    --tests) tests=ON; shift ;;
    *) break ;;
  esac
done
out=$(realpath -m "${1:-build/deb$([ "$arch" = "$native" ] || echo "-$arch")}")

configure=(-B "$out" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DTIVLINK_TESTS=$tests
           -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)
if [ "$arch" = "$native" ]; then
  configure=(-S . "${configure[@]}")
else
  [ -f "cmake/linux-$arch.cmake" ] || { echo "build-debs: no cross build for '$arch' (arm64, armhf)" >&2; exit 2; }
  # The target's build flags and multiarch folder. CMake leaves the
  # multiarch folder out when cross-compiling, and CPack would label the
  # packages with the build machine's architecture.
  eval "$(dpkg-architecture -a"$arch" -s 2>/dev/null)"
  # No debug information: the packages are stripped all the same, and the
  # tests of the same tree build about a quarter faster.
  export DEB_CFLAGS_MAINT_APPEND=-g0 DEB_CXXFLAGS_MAINT_APPEND=-g0
  configure=(--preset "linux-$arch" "${configure[@]}" -DTIVLINK_BENCH=OFF
             -DCMAKE_INSTALL_LIBDIR="lib/$DEB_HOST_MULTIARCH" -DCPACK_DEBIAN_PACKAGE_ARCHITECTURE="$arch")
fi
eval "$(dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"
cmake "${configure[@]}" >/dev/null
targets=(tivlink tivctl tivsim man_tivctl_1 man_tivsim_1)
# tivgate where its dependencies were found.
cmake --build "$out" --target help | grep -E '^\.\.\. tivgate$' >/dev/null && targets+=(tivgate man_tivgate_1)
cmake --build "$out" -j "$(nproc)" --target "${targets[@]}" >/dev/null
rm -rf "$out/packages"
(cd "$out" && cpack -G DEB) > "$out/cpack.log" 2>&1 || { cat "$out/cpack.log" >&2; exit 1; }

# CPack calls ldconfig from postinst and postrm; the package's trigger does
# that job, so the library package goes without them.
lib=$(ls "$out"/packages/libtivlink1_*.deb)
unpacked=$(mktemp -d)
dpkg-deb -R "$lib" "$unpacked/pkg"
rm -f "$unpacked/pkg/DEBIAN/postinst" "$unpacked/pkg/DEBIAN/postrm"
dpkg-deb --root-owner-group -Zxz -b "$unpacked/pkg" "$lib" >/dev/null
rm -rf "$unpacked"

# Explained in README.md ("Debian packages"); anything else fails the build.
allowed='^W: $'  # none so far
report=$(lintian --no-tag-display-limit "$out"/packages/*.deb 2>&1 || true)
errors=$(echo "$report" | grep -c '^E: ' || true)
warnings=$(echo "$report" | grep -c '^W: ' || true)
unexplained=$(echo "$report" | grep '^W: ' | grep -vE "$allowed" || true)
echo "$report" | grep -E '^[EW]: ' >&2 || true
echo "lintian: $(ls "$out"/packages/*.deb | wc -l) packages, $errors errors, $warnings warnings" >&2
if [ "$errors" -ne 0 ] || [ -n "$unexplained" ] || [ "$warnings" -gt 2 ]; then
  echo "lintian: the packages need mending" >&2
  exit 1
fi
ls "$out"/packages/*.deb
