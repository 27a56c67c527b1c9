#!/bin/sh
# Runs the whole test suite again and again, as CI runs it (CTest, two tests
# side by side), to show that it passes every time: N runs in a row (default
# 5), stopping at the first failure. With --stress, both cores are kept busy
# by Debian's stress-ng the whole time. With --beside, another Wine workload
# runs beside every run: a second copy of the suite, from a clone of the
# commit the tree is at (uncommitted changes do not travel) in a temporary
# folder, with its own build, Wine prefix, display and mounts; both copies
# start together and both must pass. The clone is built once before the
# first run and removed at the end, also after a failure or an interrupt.
# Prints how long each run took; the output of each run is kept in
# BUILD_DIR/soak/ (beside-K.log for the second copy).
#   tools/soak.sh BUILD_DIR [N] [--stress] [--beside]
set -e
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
runs=5
stress=""
beside=""
for arg in "$@"; do
  case "$arg" in
  --stress) stress=1 ;;
  --beside) beside=1 ;;
  *[!0-9]*|"") echo "usage: $0 BUILD_DIR [N] [--stress] [--beside]" >&2; exit 2 ;;
  *) runs=$arg ;;
  esac
done
logs="$build/soak"
mkdir -p "$logs"

stress_pid=""
twin=""
twin_pid=""
stop_twin_run() {
  if [ -n "$twin_pid" ]; then
    # The copy's suite runs in a session of its own: end all of it.
    kill -TERM -- "-$twin_pid" 2>/dev/null || true
    wait "$twin_pid" 2>/dev/null || true
    twin_pid=""
  fi
}
remove_twin() {
  [ -n "$twin" ] || return 0
  stop_twin_run
  [ ! -d "$twin/kiro/build" ] || "$twin/kiro/tools/services.sh" stop "$twin/kiro/build" >/dev/null 2>&1 || true
  if awk -v t="$twin/" 'index($2, t) == 1 { f = 1 } END { exit !f }' /proc/mounts; then
    echo "soak: something is still mounted below $twin; it is left there" >&2
  else
    rm -rf --one-file-system "$twin"
  fi
  twin=""
}
finish() {
  if [ -n "$stress_pid" ]; then
    kill "$stress_pid" 2>/dev/null || true
    wait "$stress_pid" 2>/dev/null || true
    stress_pid=""
  fi
  remove_twin
}
trap finish EXIT
trap 'exit 130' INT TERM

# Outside the build folder: the first copy's clean-up must never reach the
# second copy's mounts.
if [ -n "$beside" ]; then
  commit=$(git -C "$top" rev-parse HEAD)
  twin=$(mktemp -d "${TMPDIR:-/tmp}/kiro-soak.XXXXXX")
  git clone -q "$top" "$twin/kiro"
  git -C "$twin/kiro" checkout -q --detach "$commit"
  mkdir -p "$twin/kiro/build/_deps"
  [ ! -d "$build/_deps/minizip" ] || cp -r "$build/_deps/minizip" "$twin/kiro/build/_deps/"
  start=$(date +%s)
  if ! make -C "$twin/kiro" build >"$logs/beside-build.log" 2>&1; then
    echo "soak: the second copy ($commit) did not build; see $logs/beside-build.log" >&2
    exit 1
  fi
  echo "soak: a second copy of $commit in $twin, built in $(( $(date +%s) - start )) s, runs beside every run"
fi

if [ -n "$stress" ]; then
  command -v stress-ng >/dev/null || { echo "soak: stress-ng is missing (make setup installs it)" >&2; exit 1; }
  stress-ng --cpu 2 --quiet >/dev/null 2>&1 &
  stress_pid=$!
  echo "soak: stress-ng --cpu 2 runs beside the tests (pid $stress_pid)"
fi

failed_tests() { # log
  grep -aE '^[[:space:]]+[0-9]+ - ' "$1" >&2 || true
}

all_start=$(date +%s)
k=1
while [ $k -le "$runs" ]; do
  start=$(date +%s)
  if [ -n "$twin" ]; then
    setsid -w "$twin/kiro/tools/run-tests.sh" "$twin/kiro/build" >"$logs/beside-$k.log" 2>&1 &
    twin_pid=$!
  fi
  first=0
  "$here/run-tests.sh" "$build" >"$logs/run-$k.log" 2>&1 || first=$?
  first_time=$(( $(date +%s) - start ))
  second=0
  if [ -n "$twin_pid" ]; then
    wait "$twin_pid" || second=$?
    twin_pid=""
    echo "soak: run $k: the second copy $( [ $second = 0 ] && echo passed || echo FAILED )" \
         "in $(( $(date +%s) - start )) s"
  fi
  if [ $first = 0 ] && [ $second = 0 ]; then
    echo "soak: run $k of $runs passed in $first_time s"
  else
    if [ $first != 0 ]; then
      echo "soak: run $k of $runs FAILED after $first_time s; its output: $logs/run-$k.log" >&2
      failed_tests "$logs/run-$k.log"
    fi
    if [ $second != 0 ]; then
      echo "soak: run $k of $runs: the second copy FAILED; its output: $logs/beside-$k.log" >&2
      failed_tests "$logs/beside-$k.log"
    fi
    exit 1
  fi
  k=$((k + 1))
done
echo "soak: $runs runs in a row passed in $(( $(date +%s) - all_start )) s${stress:+ under stress-ng --cpu 2}" \
     "${twin:+beside a second copy of the suite}"
