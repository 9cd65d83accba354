#!/usr/bin/env bash
# Makes the Windows zip with CPack and checks what a user unpacks: the DLL,
# its import library, the header, the licence, and tivctl.exe beside the
# DLL, needing nothing but tivlink.dll and system DLLs. Usage: check-windows-zip.sh WINDOWS_BUILD
set -euo pipefail
windows=$(realpath "$1")

(cd "$windows" && cpack -G ZIP >/dev/null)
zip=$(ls -t "$windows"/packages/tivlink-*-win32.zip | head -1)
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT

python3 - "$zip" "$unpacked" <<'PY'
import sys, zipfile
path, into = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(path) as z:
    names = z.namelist()
    bad = z.testzip()
    if bad:
        sys.exit(f"zip: {path}: {bad} is damaged")
    # Every entry sits under the one top folder the zip is named after.
    top = names[0].split("/")[0]
    wanted = ["bin/tivlink.dll", "bin/tivctl.exe", "lib/libtivlink.dll.a", "include/tivlink.h", "LICENSE.txt"]
    missing = [w for w in wanted if f"{top}/{w}" not in names]
    if missing:
        sys.exit(f"zip: {path} lacks {', '.join(missing)}; it holds:\n  " + "\n  ".join(names))
    z.extract(f"{top}/bin/tivctl.exe", into)
PY

exe=$(find "$unpacked" -name tivctl.exe)
imports=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | sort -u)
extra=$(echo "$imports" | grep -vxiE 'tivlink.dll|KERNEL32.dll|USER32.dll|msvcrt.dll|ADVAPI32.dll|SETUPAPI.dll' || true)
if [ -n "$extra" ]; then
  echo "zip: tivctl.exe needs more than tivlink.dll and system DLLs: $extra"
  exit 1
fi
echo "zip: $(basename "$zip") holds tivlink.dll, libtivlink.dll.a, tivlink.h, LICENSE.txt and tivctl.exe (imports $(echo $imports))"
