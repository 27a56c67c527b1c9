#!/bin/sh
# Runs the whole test suite through CTest under Wine and Xvfb.
#   tools/run-tests.sh BUILD_DIR [ctest arguments]
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
arch=$("$here/host-arch.sh")
testdir="$build"
if [ "$arch" = x86_64 ]; then
  testdir="$build/x64"
  echo "run-tests: this machine cannot run 32-bit code; the tests run the x86_64 build of the same sources."
fi
"$here/services.sh" start "$testdir"
kiro_env_build="$testdir"; . "$here/wine-env.sh"
set +e
ctest --test-dir "$testdir" --output-on-failure -j 2 "$@"
status=$?
"$here/services.sh" stop "$testdir"
exit $status
