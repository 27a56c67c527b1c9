#!/bin/sh
# "make bench": benchmarks, not tests (see tools/bench.py).
#   tools/bench.sh BUILD_DIR [name ...]   (names: see tools/bench.py)
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
run="$build"
[ "$("$here/host-arch.sh")" = x86_64 ] && run="$build/x64"
"$here/services.sh" start "$run"
kiro_env_build="$run"; . "$here/wine-env.sh"
set +e
python3 "$here/bench.py" "$run" "$build/bench" "$@"
status=$?
"$here/services.sh" stop "$run"
exit $status
