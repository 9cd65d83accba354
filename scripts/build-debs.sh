#!/usr/bin/env bash
# Builds the Debian packages the way Debian builds them (prefix /usr, the
# library in the multiarch folder, dpkg-buildflags' hardening) in their own
# tree, and checks them with lintian: no error, and no warning but those
# README.md explains. Prints the packages' paths, one per line, last.
# Usage: build-debs.sh [BUILD_DIR]   (default build/deb)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/deb}")

eval "$(dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"
cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DTIVLINK_TESTS=OFF \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
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
