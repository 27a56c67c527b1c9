#!/bin/sh
# Shows that the power-cut campaign can fail. The menu is built again with
# each planted fault of tools/powercut/mutants/*.patch in turn, applied to a
# copy of the sources (never to the tree), and the campaign's sample runs
# against each mutant and against the menu itself; one line each:
#   mutant NAME: V violations in N crash states
#   product: V violations in N crash states
# Exit code 0 only when every mutant shows at least one violation and the
# product none. A patch that no longer applies fails the run, naming it.
# --with PATCH applies a change to every build, the product's too (a change
# tried before it lands); --sample N is the campaign's (default 8, the
# sample CTest runs). The copies are built in BUILD_DIR/mutants/build, kept
# between runs so that only what a patch touches is compiled again; the
# copy of the sources is removed at the end.
#   tools/powercut/campaign.sh --mutants BUILD_DIR [--sample N] [--with PATCH]...
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
top=$(cd "$here/.." && pwd)
usage() {
  echo "usage: tools/powercut/campaign.sh --mutants BUILD_DIR [--sample N] [--with PATCH]..." >&2
  exit 2
}
[ "$1" = --mutants ] && shift
[ -n "$1" ] || usage
build=$(cd "$1" && pwd)
shift
work="$build/mutants"
mkdir -p "$work"
: > "$work/with.list"
sample=8
while [ $# -gt 0 ]; do
  case "$1" in
  --sample) [ -n "$2" ] || usage; sample=$2; shift 2 ;;
  --with) [ -f "$2" ] || usage; realpath "$2" >> "$work/with.list"; shift 2 ;;
  *) usage ;;
  esac
done

testdir="$build"
toolchain=toolchain-i686-mingw.cmake
if [ "$("$here/host-arch.sh")" = x86_64 ]; then
  testdir="$build/x64"
  toolchain=toolchain-x86_64-mingw.cmake
fi
mbuild="$work/build"
sources="$work/src"
cleanup() {
  rm -rf "$sources"
  "$here/services.sh" stop "$testdir" >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Every file a patch touches, now or in an earlier run: compiled again in
# every build, so no build keeps another one's mutant.
touched="$work/touched.list"
touch "$touched"
for patch in "$here"/powercut/mutants/*.patch $(cat "$work/with.list"); do
  sed -n 's#^+++ b/\([^	]*\).*#\1#p' "$patch" >> "$touched"
done
sort -u -o "$touched" "$touched"

apply() { # patch
  if ! patch -p1 --batch --forward --fuzz=0 --no-backup-if-mismatch -r - -s -d "$sources" < "$1" >/dev/null; then
    echo "mutants: $1 no longer applies to the sources; it must be written again" >&2
    exit 1
  fi
}

# The sources as they are, with the changes asked for and a mutant.
prepare() { # [mutant patch]
  rm -rf "$sources"
  mkdir -p "$sources"
  for part in CMakeLists.txt cmake resources src tests tools; do
    cp -a "$top/$part" "$sources/"
  done
  while read -r patch; do apply "$patch"; done < "$work/with.list"
  [ -z "$1" ] || apply "$1"
  (cd "$sources" && xargs -r touch < "$touched")
}

build_copy() { # name
  if [ ! -f "$mbuild/CMakeCache.txt" ]; then
    cmake -S "$sources" -B "$mbuild" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$sources/cmake/$toolchain" -DKIRO_DEPS_DIR="$build/_deps" >/dev/null
  fi
  if ! cmake --build "$mbuild" --target powercut_campaign -j "$(nproc 2>/dev/null || echo 2)" \
       >"$work/$1.build.log" 2>&1; then
    echo "mutants: $1 does not build; see $work/$1.build.log" >&2
    exit 1
  fi
}

# Runs the sample on the copy just built: sets violations and tried, and
# judged=1 when the campaign judged every round it ran.
run_sample() { # name
  (kiro_env_build="$testdir"; . "$here/wine-env.sh"
   cd "$mbuild/powercut" && "$KIRO_WINE" powercut_campaign.exe --sample "$sample") >"$work/$1.log" 2>&1 || true
  figures=$(grep -a '^crash states tried:' "$work/$1.log" | tail -n 1)
  tried=$(echo "$figures" | sed -n 's/^crash states tried: \([0-9]*\),.*/\1/p')
  violations=$(echo "$figures" | sed -n 's/.* violations: \([0-9]*\),.*/\1/p')
  untried=$(echo "$figures" | sed -n 's/.*rounds not tried: \([0-9]*\).*/\1/p')
  judged=1
  if [ -z "$tried" ] || [ -z "$violations" ] || [ "$untried" != 0 ] ||
     grep -aq '^the campaign could not run' "$work/$1.log"; then
    judged=0
  fi
}

line() {
  if [ "$judged" = 1 ]; then
    echo "$violations violations in $tried crash states"
  else
    echo "the campaign could not judge its rounds, see $work/$1.log"
  fi
}

"$here/services.sh" start "$testdir"
status=0
for patch in "$here"/powercut/mutants/*.patch; do
  name=$(basename "$patch" .patch)
  prepare "$patch"
  build_copy "$name"
  run_sample "$name"
  echo "mutant $name: $(line "$name")"
  [ "$judged" = 1 ] && [ "$violations" -gt 0 ] || status=1
done
prepare
build_copy product
run_sample product
echo "product: $(line product)"
[ "$judged" = 1 ] && [ "$violations" = 0 ] || status=1
exit $status
