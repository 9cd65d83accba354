#!/usr/bin/env bash
# Checks the two libraries' export tables against tivlink/exports.txt and the
# DLL's imports and format. Usage: check-exports.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
linux=$1 windows=$2
fail=0

so=$(ls "$linux"/libtivlink.so.* 2>/dev/null | head -1)
got=$(nm -D --defined-only "$so" | awk '{print $3}' | awk NF | sort)
want=$(awk NF "$linux/exports-linux.txt" | sort)
linux_count=$(echo "$want" | awk NF | wc -l)
if [ "$got" != "$want" ]; then
  echo "libtivlink.so exports differ from the list:"; diff <(echo "$want") <(echo "$got") || true; fail=1
fi

dll=$windows/tivlink.dll
dump=$(i686-w64-mingw32-objdump -p "$dll")
got=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\]/ {print $NF}' | grep -v Table | sort || true)
want=$(awk NF "$windows/exports-windows.txt" | sort)
if [ "$got" != "$want" ]; then
  echo "tivlink.dll exports differ from the list:"; diff <(echo "$want") <(echo "$got") || true; fail=1
fi
imports=$(echo "$dump" | awk '/DLL Name:/ {print $3}' | sort -u)
extra=$(echo "$imports" | grep -vxE 'KERNEL32.dll|USER32.dll|msvcrt.dll' || true)
if [ -n "$extra" ]; then echo "tivlink.dll imports more than it may: $extra"; fail=1; fi
if ! file -b "$dll" | grep -q 'PE32 executable (DLL).*Intel 80386'; then
  echo "tivlink.dll is not a 32-bit i386 DLL: $(file -b "$dll")"; fail=1
fi
[ $fail -eq 0 ] && echo "exports: libtivlink.so $linux_count names, tivlink.dll $(echo "$want" | awk NF | wc -l) names as listed, imports $(echo $imports)"
exit $fail
