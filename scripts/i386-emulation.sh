#!/usr/bin/env bash
# Makes this machine run i386 programs, which Wine's root and Wine are. A
# kernel with IA-32 emulation runs them itself, and then nothing changes.
# Where the kernel runs 64-bit user code only, they go through qemu-i386 from
# bookworm-backports' qemu-user (QEMU 10; Debian 12's own 7.2 crashes Wine),
# unpacked into /opt/tivlink-qemu-i386 beside the Wine root, not over the
# host's emulators, which tests/arm uses. binfmt_misc hands every i386 program
# to it under the name tivlink-i386, with the F flag, so that it serves
# inside the root's chroot too. Entries do not survive a reboot: every stage
# that runs i386 programs calls this first. A second call does nothing.
#   --force  registers the emulator even where the kernel runs i386 itself,
#            to try the emulated path on such a machine
#   --off    removes the registration
# Usage: i386-emulation.sh [--force|--off]   (as root)
set -euo pipefail
dir=/opt/tivlink-qemu-i386
emulator=$dir/qemu-i386
name=tivlink-i386
binfmt=/proc/sys/fs/binfmt_misc
# QEMU's own magic and mask for i386 executables and shared objects.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
mode=${1:-}

[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
if [ "$mode" = --off ]; then
  [ -e "$binfmt/$name" ] && echo -1 >"$binfmt/$name"
  exit 0
fi

# True when an i386 program runs here: a static one that only exits with 42
# (ELF header, one program header, then mov eax,1; mov ebx,42; int 0x80).
runs_i386() {
  local probe status=0
  probe=$(mktemp /tmp/tivlink-i386-probe.XXXXXX)
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0' >"$probe"
  printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0' >>"$probe"
  printf '\270\1\0\0\0\273\52\0\0\0\315\200' >>"$probe"
  chmod 755 "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# Each enabled entry that takes i386 programs: "NAME INTERPRETER".
i386_entries() {
  local entry
  for entry in "$binfmt"/*; do
    [ -f "$entry" ] && [ "$(basename "$entry")" != register ] && [ "$(basename "$entry")" != status ] || continue
    grep -qx enabled "$entry" && grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" || continue
    echo "$(basename "$entry") $(sed -n 's/^interpreter //p' "$entry")"
  done
}

# An entry whose QEMU is older than 8 runs the probe but not Wine.
entry_serves() {
  local version
  version=$("$2" --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
  [ -n "$version" ] && [ "$version" -ge 8 ]
}

if [ "$mode" != --force ] && runs_i386; then
  serves=yes
  while read -r entry interpreter; do
    [ -n "$entry" ] || continue
    entry_serves "$entry" "$interpreter" && { serves=yes; break; }
    serves=no
  done < <(i386_entries)
  [ "$serves" = yes ] && exit 0
fi

# The emulator: one file out of bookworm-backports' qemu-user, found through
# an apt configuration of its own, so the host's packages stay as they are.
if ! [ -x "$emulator" ] || ! entry_serves "" "$emulator"; then
  . "$(dirname "$0")/archive.sh"
  uri=$(archive_uri bookworm-backports)
  uri=${uri:-$(archive_uri bookworm)}
  if [ -z "$uri" ]; then
    echo "i386: this kernel runs no i386 programs, and the host's apt sources name no Debian archive to take QEMU from" >&2
    exit 1
  fi
  start=$(date +%s)
  apt=$(mktemp -d /tmp/tivlink-qemu-apt.XXXXXX)
  trap 'rm -rf "$apt"' EXIT
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
  echo "deb $uri bookworm-backports main" >"$apt/sources.list"
  aptopts=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
           -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o APT::Get::List-Cleanup=false -o APT::Sandbox::User=root)
  for try in 1 2 3; do
    apt-get "${aptopts[@]}" update -qq && break
    [ $try -lt 3 ] || { echo "i386: bookworm-backports' index from $uri cannot be had" >&2; exit 1; }
    sleep 10
  done
  (cd "$apt" && apt-get "${aptopts[@]}" download -qq qemu-user) ||
    { echo "i386: no qemu-user in bookworm-backports at $uri" >&2; exit 1; }
  deb=$(ls "$apt"/qemu-user_*.deb)
  rm -rf "$dir" && mkdir -p "$dir"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -O ./usr/bin/qemu-i386 >"$emulator.part"
  chmod 755 "$emulator.part" && mv "$emulator.part" "$emulator"
  dpkg-deb -f "$deb" Version >"$dir/version"
  echo "i386: qemu-i386 $(cat "$dir/version") from bookworm-backports in $emulator, $(($(date +%s) - start)) s"
fi
if ! file -L "$emulator" | grep -qE 'static(-pie)? linked|statically linked'; then
  echo "i386: $emulator is not statically linked: it would not run inside Wine's chroot" >&2
  exit 1
fi
if ! entry_serves "" "$emulator"; then
  echo "i386: $emulator is not QEMU 8 or newer: $("$emulator" --version 2>&1 | head -n1)" >&2
  exit 1
fi

[ -e "$binfmt/$name" ] && echo -1 >"$binfmt/$name"
# P keeps argv[0], O hands the emulator an open file, F opens the emulator
# now, so that it also runs in a chroot that has none.
echo ":$name:M::$magic:$mask:$emulator:POF" >"$binfmt/register"
if ! runs_i386; then
  echo "i386: this kernel runs no i386 programs, and neither does $emulator through binfmt_misc" >&2
  exit 1
fi
if [ "$mode" = --force ]; then why="as asked (--force), though this kernel runs i386 programs itself"; else why="this kernel runs none itself"; fi
echo "i386: i386 programs run under $emulator ($(cat "$dir/version")), registered in binfmt_misc as $name: $why"
