#!/bin/sh
# "make dist": the release to hand out, dist/kiromenu-<FileVersion>.zip. It
# holds the 32-bit kiromenu.exe of the build folder (the one the tests ran),
# README.md, the user guide docs/brugervejledning.md with the screenshots
# that it and the README show, and SHA256SUMS over all of them.
#
# Before packing, the program is built a second time from a copy of the
# sources in a folder of its own elsewhere; the release is made only when
# the two kiromenu.exe are byte for byte the same, so anyone can rebuild
# the program from the same sources and check it against the release.
#   tools/dist.sh BUILD_DIR
set -e
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
build=$(cd "${1:-build}" && pwd)
exe="$build/kiromenu.exe"
[ -f "$exe" ] || { echo "dist: $exe is missing; run 'make build' first" >&2; exit 1; }

version=$(sed -n 's/^ *VALUE "FileVersion", "\([^"]*\)".*/\1/p' "$top/resources/kiromenu.rc")
[ -n "$version" ] || { echo "dist: no FileVersion in resources/kiromenu.rc" >&2; exit 1; }
name="kiromenu-$version"

work=$(mktemp -d "${TMPDIR:-/tmp}/kiromenu-dist.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The second build: sources and minizip copied to other folders, configured
# as tools/build.sh configures the product, without the tests.
echo "dist: building kiromenu.exe a second time in $work"
mkdir -p "$work/sources" "$work/deps"
(cd "$top" && tar -cf - CMakeLists.txt cmake resources src tools tests) | tar -xf - -C "$work/sources"
cp -R "$build/_deps/minizip" "$work/deps/minizip"
cmake -S "$work/sources" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$work/sources/cmake/toolchain-i686-mingw.cmake" \
  -DKIRO_DEPS_DIR="$work/deps" -DKIRO_TESTS=OFF >/dev/null
cmake --build "$work/build" --target kiromenu -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
if ! cmp -s "$exe" "$work/build/kiromenu.exe"; then
  cp "$work/build/kiromenu.exe" "$build/kiromenu-second-build.exe"
  echo "dist: the two builds of kiromenu.exe differ; the build is not reproducible:" >&2
  echo "  $exe" >&2
  echo "  $build/kiromenu-second-build.exe (built from a copy of the sources)" >&2
  echo "  differing bytes (offset from 1, value in each, octal):" >&2
  cmp -l "$exe" "$work/build/kiromenu.exe" 2>&1 | head -20 >&2
  exit 1
fi
rm -f "$build/kiromenu-second-build.exe"
echo "dist: both builds give the same kiromenu.exe"

# The release folder. The pictures are those the two documents show.
stage="$work/stage/$name"
mkdir -p "$stage/docs/screenshots"
cp "$exe" "$stage/kiromenu.exe"
cp "$top/README.md" "$stage/README.md"
cp "$top/docs/brugervejledning.md" "$stage/docs/brugervejledning.md"
for picture in $(cat "$top/README.md" "$top/docs/brugervejledning.md" |
                 grep -o 'screenshots/[A-Za-z0-9_.-]*\.png' | sort -u); do
  if [ ! -f "$top/docs/$picture" ]; then
    echo "dist: docs/$picture is shown by the documents but missing" >&2
    exit 1
  fi
  cp "$top/docs/$picture" "$stage/docs/$picture"
done
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
   while read -r file; do sha256sum "$file"; done > SHA256SUMS)

# The zip is reproducible too: fixed order, modes and times (the time of
# the last commit, or 1 January 2000 outside a git checkout), no extra
# attributes.
stamp=$(git -C "$top" log -1 --format=%ct 2>/dev/null || echo 946684800)
find "$work/stage" -type d -exec chmod 755 {} +
find "$work/stage" -type f -exec chmod 644 {} +
find "$work/stage" -exec touch -d "@$stamp" {} +
mkdir -p "$top/dist"
rm -f "$top/dist/$name.zip"
(cd "$work/stage" && find "$name" -type f | LC_ALL=C sort |
   TZ=UTC zip -q -X -D -9 "$top/dist/$name.zip" -@)
(cd "$top/dist" && sha256sum "$name.zip" > "$name.zip.sha256")
echo "dist: dist/$name.zip"
sed 's/^/  /' "$stage/SHA256SUMS"
echo "dist: sha256 of the zip: $(cut -d' ' -f1 "$top/dist/$name.zip.sha256") (dist/$name.zip.sha256)"
