#!/usr/bin/env bash
# Proves the installed forms: an install prefix that C (pkg-config) and C++
# (find_package) hosts build against, with the manual pages and completion;
# the Python package from the prefix; the split Debian packages
# (scripts/build-debs.sh, lintian-checked) installed for real, used (a C
# host, the binding's tests) and removed again; the binding's wheel in a
# venv over the library's package; each run against tivsim.
# Usage: test-install.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "$1")
repo=$(pwd)
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  remove_debs
  rm -rf "$work"
}
trap cleanup EXIT
debs=(tivgate python3-tivlink tivlink-tools libtivlink-dev libtivlink1)
remove_debs() {
  local p
  for p in "${debs[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      dpkg --purge "$p" >/dev/null
    fi
  done
}

# Starts tivsim on COM<n> with one device at 0x123456 in group 5 and exports
# the line it prints.
start_sim() {
  local n=$1
  rm -f "$work/sim$n.json"
  "$build/tools/tivsim" --com "$n" --device 0x123456:5 --quiet --json "$work/sim$n.json" \
    > "$work/sim$n.out" 2> "$work/sim$n.err" &
  sim_pid=$!
  # Bounded, but generous: a loaded machine can be slow to start a process.
  for _ in $(seq 600); do
    grep -q '^TIVLINK_COM' "$work/sim$n.out" 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  local line; line=$(grep -m1 '^TIVLINK_COM' "$work/sim$n.out" || true)
  if [ -z "$line" ]; then
    echo "tivsim printed no line; its errors:"; cat "$work/sim$n.err"; exit 1
  fi
  export "$line"
}
stop_sim() {
  kill -TERM "$sim_pid"; wait "$sim_pid"; sim_pid=""
}
expect_frames() {  # FILE COUNT: the sim saw exactly COUNT good frames
  python3 -c "import json,sys; s=json.load(open('$1')); g=s['counts']['good']; sys.exit(0 if g==$2 else f'{g} frames, wanted $2')"
}

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

# C host through pkg-config, against the install prefix.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
cc -Wall -Werror examples/c/host.c $(pkg-config --cflags --libs tivlink) -Wl,-rpath,"$prefix/lib" -o "$work/c_host"
start_sim 6
"$work/c_host" 6 0x123456 | grep -qx done
status=0; "$work/c_host" 6 zz 2>/dev/null || status=$?
[ "$status" -eq 2 ] || { echo "install: C host took address 'zz' (status $status)"; exit 1; }
stop_sim
expect_frames "$work/sim6.json" 4
for f in share/man/man1/tivctl.1.gz share/man/man1/tivsim.1.gz share/bash-completion/completions/tivctl; do
  [ -s "$prefix/$f" ] || { echo "install: $f missing from the prefix"; exit 1; }
done
[ "$("$prefix/bin/tivctl" --version)" = "tivctl $(sed -n 's/^#define TIVLINK_VERSION_STRING "\(.*\)"/\1/p' include/tivlink.h)" ]
echo "install: C host built with pkg-config ran against tivsim"

# C++ host through find_package.
cmake -S examples/cpp -B "$work/cpp" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cpp" >/dev/null
start_sim 6
LD_LIBRARY_PATH=$prefix/lib "$work/cpp/cpp_host" 6 5 | grep -qx done
status=0; LD_LIBRARY_PATH=$prefix/lib "$work/cpp/cpp_host" 6 five 2>/dev/null || status=$?
[ "$status" -eq 2 ] || { echo "install: C++ host took group 'five' (status $status)"; exit 1; }
stop_sim
expect_frames "$work/sim6.json" 12
echo "install: C++ host built with find_package(tivlink) ran against tivsim"
unset PKG_CONFIG_PATH

# Python from the install prefix: the package finds the prefix's own library.
start_sim 6
env -u TIVLINK_LIBRARY PYTHONPATH="$prefix/lib/python3/dist-packages" /usr/bin/python3 -c \
  "import tivlink; tivlink.load_library(); assert '$prefix/lib/libtivlink.so' in open('/proc/self/maps').read()"
(cd "$work" && env -u TIVLINK_LIBRARY PYTHONPATH="$prefix/lib/python3/dist-packages" \
  /usr/bin/python3 "$repo/examples/python/demo.py" 6 0x123456 | tail -1 | grep -qx done)
stop_sim
echo "install: the Python example ran from the install prefix against tivsim"

# The Debian packages, installed for real, then removed.
bash scripts/build-debs.sh "$build/../deb" > "$work/debs.txt"
mapfile -t built < <(grep '\.deb$' "$work/debs.txt")
remove_debs
apt-get install -y -qq --no-install-recommends "${built[@]}" >/dev/null
tivctl --version >/dev/null
man -w tivctl >/dev/null
[ -s /usr/share/bash-completion/completions/tivctl ]
ldconfig -p | grep "libtivlink.so.1 .*lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/libtivlink.so.1" >/dev/null
if [ -x "$build/tools/tivgate/tivgate" ]; then
  tivgate --help >/dev/null
  grep -qx 'ExecStart=/usr/bin/tivgate --patch /etc/tivgate/patch.toml --control /run/tivgate/tivgate/control.sock $TIVGATE_OPTIONS' /usr/lib/systemd/system/tivgate.service ||
    { echo "install: tivgate.service does not start /usr/bin/tivgate as packaged"; exit 1; }
  grep -qx 'ExecStart=/usr/bin/tivgate --patch /etc/tivgate/%i.toml --control /run/tivgate/%i/control.sock $TIVGATE_OPTIONS' /usr/lib/systemd/system/tivgate@.service ||
    { echo "install: tivgate@.service does not start /usr/bin/tivgate as packaged"; exit 1; }
  [ ! -e "$build/man/tivgate.1.gz" ] || [ -e /usr/share/man/man1/tivgate.1.gz ]
fi
pkg-config --exists tivlink
cc examples/c/host.c $(pkg-config --cflags --libs tivlink) -o "$work/c_host_deb"
start_sim 6
"$work/c_host_deb" 6 0x123456 | grep -qx done
stop_sim
echo "install: the packages installed; tivctl, its manual page and completion, and a pkg-config build ran"
# The binding's tests against the installed package: no variable, and away
# from the source tree, whose tivlink/ folder is not the package.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
(cd "$work" && unset TIVLINK_LIBRARY PYTHONPATH &&
  /usr/bin/python3 -c "import tivlink; assert tivlink.__file__ == '/usr/lib/python3/dist-packages/tivlink/__init__.py', tivlink.__file__" &&
  TIVSIM="$build/tools/tivsim" TIVLINK_VERSION="$version" \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider "$repo/tests/python")
echo "install: the binding's tests passed against the package from the .deb"
remove_debs

# The binding as pip users get it: a wheel, offline, into a fresh venv, where
# the .deb's package is out of sight; the library alone from its .deb.
# Built from a copy: setuptools leaves its build folders beside the sources.
cp -r bindings/python "$work/binding"
/usr/bin/python3 -m pip wheel -q --no-deps --no-build-isolation --no-index "$work/binding" -w "$work/wheel" >/dev/null
wheel=$(ls "$work"/wheel/tivlink-*.whl)
[ "$(basename "$wheel")" = "tivlink-$version-py3-none-any.whl" ] || { echo "install: the wheel is $wheel, not of $version"; exit 1; }
/usr/bin/python3 -m venv "$work/venv"
venv_python=$work/venv/bin/python
"$venv_python" -m pip install -q --no-index --no-deps "$wheel"
status=0
(cd "$work" && env -u TIVLINK_LIBRARY -u PYTHONPATH -u LD_LIBRARY_PATH "$venv_python" -c "import tivlink") \
  2>"$work/import.err" || status=$?
if [ "$status" -eq 0 ] || ! grep -q "^ImportError: .*apt install libtivlink1" "$work/import.err"; then
  echo "install: without the library, import tivlink in the venv did not say what to install:"
  cat "$work/import.err"; exit 1
fi
apt-get install -y -qq --no-install-recommends "$(printf '%s\n' "${built[@]}" | grep '/libtivlink1_')" >/dev/null
# pytest, which pip cannot fetch offline, from Debian's python3-pytest, after
# the venv's own packages.
site=$("$venv_python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
echo /usr/lib/python3/dist-packages >"$site/debian-pytest.pth"
(cd "$work" && unset TIVLINK_LIBRARY PYTHONPATH &&
  "$venv_python" -c "import tivlink; assert tivlink.__file__ == '$site/tivlink/__init__.py', tivlink.__file__" &&
  TIVSIM="$build/tools/tivsim" TIVLINK_VERSION="$version" \
  "$venv_python" -m pytest -q -p no:cacheprovider "$repo/tests/python")
echo "install: the wheel ($(basename "$wheel")) in a venv passed the binding's tests against libtivlink1 from its .deb"
remove_debs
if [ -e /usr/bin/tivctl ] || ldconfig -p | grep libtivlink.so.1 >/dev/null; then
  echo "install: the packages left files behind"; exit 1
fi
echo "install: ${#built[@]} packages installed ($(cd "$(dirname "${built[0]}")" && ls *.deb | sed 's/_.*//' | tr '\n' ' ')), used and removed"
