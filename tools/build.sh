#!/bin/sh
# Configures and builds the program and its tests. build/kiromenu.exe is the
# 32-bit product. Where this machine cannot run 32-bit code under Wine, the
# same sources are also built for x86_64 in build/x64, and the tests run
# that twin instead (see README).
#   tools/build.sh BUILD_DIR
set -e
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
build=${1:-build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

configure() { # dir toolchain
  if [ ! -f "$1/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$1" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$2" -DKIRO_DEPS_DIR="$build/_deps" >/dev/null
  fi
  cmake --build "$1" -j "$jobs"
}

configure "$build" toolchain-i686-mingw.cmake
if [ "$("$here/host-arch.sh")" = x86_64 ]; then
  configure "$build/x64" toolchain-x86_64-mingw.cmake
fi
