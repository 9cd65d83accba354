#!/bin/sh
# The ARM guest's first process: mounts what the tests use, runs each line of
# /tests.list (from scripts/guest-suite.py) in its working folder within its
# time limit, JOBS at a time, and reports on the console:
#   @ran I STATUS START END   a run ended (seconds since boot)
#   @res I LINE               GoogleTest's line for each test it ran
#   @out I LINE               once all have ended, a failed run's output
# As in CI on amd64, a failed test runs once more, alone (a fault fails
# again, load rarely does): its lines then start @ran2, @res2 and @out2.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts && mount -t devpts -o ptmxmode=0666 devpts /dev/pts
# The tests get a /tmp of their own; a build tree that lives under /tmp on
# the build machine (a clone there) stays reachable through it.
mkdir -p /.tree-tmp && mount -o bind /tmp /.tree-tmp
mount -t tmpfs -o size=256m tmp /tmp
for d in /.tree-tmp/*; do
  [ -e "$d" ] && mkdir -p "/tmp/${d##*/}" && mount -o bind "$d" "/tmp/${d##*/}"
done
mkdir /tmp/claims
read -r jobs </jobs
read -r up _ </proc/uptime
echo "@info guest: $(nproc) CPUs, ready $up s after boot"

# Runs line I of /tests.list (with more arguments, if any) and reports with
# the tag given.
run() {
  tag=$1 i=$2
  shift 2
  IFS='	' read -r _ dir limit cmd <<EOF
$(sed -n "$((i + 1))p" /tests.list)
EOF
  read -r start _ </proc/uptime
  (cd "$dir" && exec timeout -s KILL "$limit" $cmd "$@") >/tmp/out.$i 2>&1 </dev/null
  status=$?
  read -r end _ </proc/uptime
  # One write for the lot, so that the two workers' lines do not mix.
  { echo "@$tag $i $status $start $end"
    grep -E '^\[ +(OK|FAILED|SKIPPED) +\] ' /tmp/out.$i | sed "s/^/@res${tag#ran} $i /"; } >/tmp/res.$i
  cat /tmp/res.$i
  rm -f /tmp/res.$i
  if [ $status -eq 0 ]; then rm -f /tmp/out.$i; else mv /tmp/out.$i /tmp/failed.$i; fi
}

# Each worker takes the next line no other has claimed (mkdir is atomic).
worker() {
  set -f  # commands are split on blanks, never globbed
  while IFS='	' read -r i _; do
    mkdir /tmp/claims/$i 2>/dev/null && run ran $i
  done </tests.list
}

# The first failures' output, then each failed run once more: only the tests
# that failed, where GoogleTest names them.
show() {
  sed "s/^/@out$1 ${2#/tmp/failed.} /" "$2"
  rm -f "$2"
}

n=0
while [ $n -lt "$jobs" ]; do worker & n=$((n + 1)); done
wait
for name in $(ls /tmp | grep '^failed\.'); do
  out=/tmp/$name i=${name#failed.}
  failed=$(sed -n 's/^\[  FAILED  \] \([^ ,]*\).*/\1/p' "$out" | sort -u | tr '\n' : | sed 's/:$//')
  show "" "$out"
  set -f
  run ran2 $i ${failed:+--gtest_filter=$failed}
  set +f
  [ -e "$out" ] && show 2 "$out"
done
read -r up _ </proc/uptime
echo "@info guest: done $up s after boot"
echo @done
poweroff -f
