#!/bin/sh
# Runs the whole test suite again and again, as CI runs it (CTest, two tests
# side by side), to show that it passes every time: N runs in a row (default
# 5), stopping at the first failure. With --stress, both cores are kept busy
# by Debian's stress-ng the whole time. Prints how long each run took; the
# output of each run is kept in BUILD_DIR/soak/.
#   tools/soak.sh BUILD_DIR [N] [--stress]
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
runs=5
stress=""
for arg in "$@"; do
  case "$arg" in
  --stress) stress=1 ;;
  *[!0-9]*|"") echo "usage: $0 BUILD_DIR [N] [--stress]" >&2; exit 2 ;;
  *) runs=$arg ;;
  esac
done
logs="$build/soak"
mkdir -p "$logs"

stress_pid=""
stop_stress() {
  if [ -n "$stress_pid" ]; then
    kill "$stress_pid" 2>/dev/null || true
    wait "$stress_pid" 2>/dev/null || true
    stress_pid=""
  fi
}
trap stop_stress EXIT
trap 'exit 130' INT TERM
if [ -n "$stress" ]; then
  command -v stress-ng >/dev/null || { echo "soak: stress-ng is missing (make setup installs it)" >&2; exit 1; }
  stress-ng --cpu 2 --quiet >/dev/null 2>&1 &
  stress_pid=$!
  echo "soak: stress-ng --cpu 2 runs beside the tests (pid $stress_pid)"
fi

all_start=$(date +%s)
k=1
while [ $k -le "$runs" ]; do
  start=$(date +%s)
  if "$here/run-tests.sh" "$build" >"$logs/run-$k.log" 2>&1; then
    echo "soak: run $k of $runs passed in $(( $(date +%s) - start )) s"
  else
    echo "soak: run $k of $runs FAILED after $(( $(date +%s) - start )) s; its output:" \
         "$logs/run-$k.log" >&2
    grep -E '^[[:space:]]+[0-9]+ - ' "$logs/run-$k.log" >&2 || true
    exit 1
  fi
  k=$((k + 1))
done
echo "soak: $runs runs in a row passed in $(( $(date +%s) - all_start )) s${stress:+ under stress-ng --cpu 2}"
