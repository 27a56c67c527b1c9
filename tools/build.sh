#!/bin/sh
# Configures and builds the program and its tests. build/kiromenu.exe is the
# 32-bit product. Where this machine cannot run 32-bit code under Wine, the
# same sources are also built for x86_64 in build/x64, and the tests run
# that twin instead (see README). The file systems of the tests, power-cut
# (tools/powercut) and counterfeit stick (tools/counterfeit), are built for
# this machine into BUILD_DIR/powercut and BUILD_DIR/counterfeit.
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

# The file systems of the tests are programs of this machine, built with
# its own compiler against libfuse3.
fuse_tool() { # build dir, name
  mkdir -p "$1/$2"
  if [ ! -x "$1/$2/$2fs" ] || [ "$top/tools/$2/$2fs.c" -nt "$1/$2/$2fs" ]; then
    cc -O2 -Wall -Wextra -o "$1/$2/$2fs" "$top/tools/$2/$2fs.c" $(pkg-config --cflags --libs fuse3)
  fi
}
fuse_tools() { # build dir
  fuse_tool "$1" powercut
  fuse_tool "$1" counterfeit
}

configure "$build" toolchain-i686-mingw.cmake
fuse_tools "$build"
if [ "$("$here/host-arch.sh")" = x86_64 ]; then
  configure "$build/x64" toolchain-x86_64-mingw.cmake
  fuse_tools "$build/x64"
fi
