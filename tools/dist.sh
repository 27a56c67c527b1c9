#!/bin/sh
# "make dist": the release to hand out, dist/kiromenu-<FileVersion>.zip. It
# holds the 32-bit kiromenu.exe of the build folder (the one the tests ran),
# stripped of its symbols and signed with Authenticode (SHA-256), README.md,
# the user guide docs/brugervejledning.md and the design record
# docs/design.md that the README links to, with the screenshots that the
# documents show, and SHA256SUMS over all of them. The symbols go into
# dist/kiromenu-<FileVersion>.debug beside the zip, which the program names
# in its debug link, so a crash address can be read later.
#
# Before packing, the program is built a second time from a copy of the
# sources in a folder of its own elsewhere; the release is made only when
# the two kiromenu.exe are byte for byte the same, and so are their stripped
# images and symbol files: anyone can rebuild the program from the same
# sources and check it against the release. The signed program must differ
# from the stripped image only by its signature (tools/signed_copy.py), its
# signature must verify against the signing certificate, gdb must read the
# program's own functions through the debug link, and the signed program
# must run the demo tour (Wine showing it Windows 10).
#
# Signing, with the school's or vendor's code-signing certificate:
#   SIGN_CERT       the certificate (PEM), or the chain, leaf first
#   SIGN_KEY        its private key
#   SIGN_PASS_FILE  a file holding the key's pass phrase (optional)
#   SIGN_CA         root certificate(s) to verify the chain against, when
#                   the chain does not end in a root this machine trusts
#   SIGN_TIMESTAMP  an RFC 3161 time-stamp server (optional)
# Without SIGN_CERT and SIGN_KEY the release is signed with a throwaway test
# certificate made for this run (kept in BUILD_DIR/test-signing.crt), which
# no Windows trusts, and make dist says so.
#   tools/dist.sh BUILD_DIR
set -e
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
build=$(cd "${1:-build}" && pwd)
exe="$build/kiromenu.exe"
[ -f "$exe" ] || { echo "dist: $exe is missing; run 'make build' first" >&2; exit 1; }
for tool in osslsigncode openssl gdb i686-w64-mingw32-objcopy python3; do
  command -v "$tool" >/dev/null || { echo "dist: $tool is missing; run 'make setup'" >&2; exit 1; }
done
if [ -n "${SIGN_CERT:-}${SIGN_KEY:-}" ]; then
  [ -f "${SIGN_CERT:-}" ] && [ -f "${SIGN_KEY:-}" ] ||
    { echo "dist: SIGN_CERT and SIGN_KEY must both name files" >&2; exit 1; }
fi

version=$(sed -n 's/^ *VALUE "FileVersion", "\([^"]*\)".*/\1/p' "$top/resources/kiromenu.rc")
[ -n "$version" ] || { echo "dist: no FileVersion in resources/kiromenu.rc" >&2; exit 1; }
name="kiromenu-$version"
# The time of the last commit (1 January 2000 outside a git checkout): the
# signing time and the times in the zip, so a release made again from the
# same commit with the same certificate is the same file.
stamp=$(git -C "$top" log -1 --format=%ct 2>/dev/null || echo 946684800)

work=$(mktemp -d "${TMPDIR:-/tmp}/kiromenu-dist.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Symbols apart: the debug file keeps the symbol table and the debug data,
# the program keeps none and names the debug file (and its CRC) in its
# .gnu_debuglink section. objcopy stamps the header with the time unless
# SOURCE_DATE_EPOCH says otherwise: 0, as the linker leaves it. The second
# build is split half a minute later, so anything that depends on the
# clock shows as a difference.
split_symbols() { # exe dir
  mkdir -p "$2"
  SOURCE_DATE_EPOCH=0 i686-w64-mingw32-objcopy --only-keep-debug "$1" "$2/$name.debug"
  (cd "$2" && SOURCE_DATE_EPOCH=0 i686-w64-mingw32-objcopy --strip-all \
     --add-gnu-debuglink="$name.debug" "$1" kiromenu.exe)
}
split_symbols "$exe" "$work/lean"

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
split_symbols "$work/build/kiromenu.exe" "$work/lean-second"

for file in kiromenu.exe "$name.debug"; do
  if ! cmp -s "$work/lean/$file" "$work/lean-second/$file"; then
    echo "dist: the two builds' stripped $file differ (offset from 1, value in each, octal):" >&2
    cmp -l "$work/lean/$file" "$work/lean-second/$file" 2>&1 | head -10 >&2
    exit 1
  fi
done
cp "$work/lean/kiromenu.exe" "$build/kiromenu-unsigned.exe"
echo "dist: stripped kiromenu.exe: $(wc -c < "$exe") -> $(wc -c < "$work/lean/kiromenu.exe") bytes" \
  "(symbols: $(wc -c < "$work/lean/$name.debug") bytes in $name.debug); the same in both builds"

# The certificate: the one given, or a throwaway one of this run.
if [ -n "${SIGN_CERT:-}" ]; then
  cert=$SIGN_CERT key=$SIGN_KEY test_signed=
  rm -f "$build/test-signing.crt"
  trust="$work/trust.pem"
  cat "$SIGN_CERT" ${SIGN_CA:+"$SIGN_CA"} > "$trust"
  [ -f /etc/ssl/certs/ca-certificates.crt ] && cat /etc/ssl/certs/ca-certificates.crt >> "$trust"
else
  cert="$work/test-signing.crt" key="$work/test-signing.key" test_signed=1
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -keyout "$key" -out "$cert" \
    -subj "/CN=KIRO-skema TEST SIGNATURE - not for release" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" 2>/dev/null
  cp "$cert" "$build/test-signing.crt"
  trust=$cert
fi
openssl x509 -in "$cert" -noout 2>/dev/null || { echo "dist: $cert holds no PEM certificate" >&2; exit 1; }
leaf_hash=$(openssl x509 -in "$cert" -outform DER | sha256sum | cut -d' ' -f1)

echo "dist: signing kiromenu.exe (SHA-256) with $(openssl x509 -in "$cert" -noout -subject 2>/dev/null)"
osslsigncode sign -certs "$cert" -key "$key" ${SIGN_PASS_FILE:+-readpass "$SIGN_PASS_FILE"} \
  -h sha256 -n "KIRO-skema hovedmenu" -time "$stamp" ${SIGN_TIMESTAMP:+-ts "$SIGN_TIMESTAMP"} \
  -in "$work/lean/kiromenu.exe" -out "$work/signed.exe" > "$work/sign.log" 2>&1 ||
  { cat "$work/sign.log" >&2; echo "dist: signing failed" >&2; exit 1; }

# The signature holds: the digest matches the program, the chain reaches a
# trusted root and the signer is the certificate given. Revocation lists
# are left to Windows (newer osslsigncode would fetch them).
ignore_crl=
osslsigncode verify --help 2>&1 | grep -q -- -ignore-crl && ignore_crl=-ignore-crl
if ! osslsigncode verify -CAfile "$trust" $ignore_crl -require-leaf-hash "sha256:$leaf_hash" \
       -in "$work/signed.exe" > "$work/verify.log" 2>&1; then
  cat "$work/verify.log" >&2
  echo "dist: the signature of kiromenu.exe does not verify against $cert" >&2
  exit 1
fi
python3 "$here/signed_copy.py" "$work/lean/kiromenu.exe" "$work/signed.exe" ||
  { echo "dist: the signed kiromenu.exe differs from the stripped one by more than its signature" >&2; exit 1; }
echo "dist: the signature verifies; the signed kiromenu.exe is the stripped image plus its signature"

# The debug file serves the signed program: gdb finds it through the debug
# link (checking its CRC) and names the functions at the entry point and at
# WinMain's address in the build's kiromenu.exe.
mkdir -p "$work/debug-check"
cp "$work/signed.exe" "$work/debug-check/kiromenu.exe"
cp "$work/lean/$name.debug" "$work/debug-check/$name.debug"
entry=$(i686-w64-mingw32-objdump -f "$work/signed.exe" | sed -n 's/^start address //p')
winmain=$(i686-w64-mingw32-nm "$exe" | sed -n 's/^\([0-9a-f]*\) T _WinMain@16$/0x\1/p')
(cd "$work/debug-check" && gdb -nx -batch -ex "info symbol $entry" -ex "info symbol $winmain+5" kiromenu.exe) \
  > "$work/gdb.log" 2>&1 || true
if ! grep -q "^WinMainCRTStartup in section .text" "$work/gdb.log" ||
   ! grep -q "^WinMain@16 + 5 in section .text" "$work/gdb.log"; then
  cat "$work/gdb.log" >&2
  echo "dist: $name.debug does not give the functions of the signed kiromenu.exe" >&2
  exit 1
fi
echo "dist: $name.debug matches: gdb names WinMainCRTStartup at $entry and WinMain at $winmain"

# The signed program runs the demo tour, every dialog, under Xvfb.
if [ "$("$here/host-arch.sh")" = x86_64 ]; then
  echo "dist: this machine cannot run 32-bit code; the signed kiromenu.exe is not toured"
else
  echo "dist: the signed kiromenu.exe runs the demo tour (log: $build/dist-tour.log)"
  if ! env -u DISPLAY KIRO_DEMO_MENU="$work/signed.exe" KIRO_DEMO_WINDOWS=win10 \
         "$here/demo.sh" "$build" > "$build/dist-tour.log" 2>&1; then
    tail -20 "$build/dist-tour.log" >&2
    echo "dist: the demo tour failed on the signed kiromenu.exe" >&2
    exit 1
  fi
fi

# The release folder. The pictures are those the documents show.
stage="$work/stage/$name"
mkdir -p "$stage/docs/screenshots"
cp "$work/signed.exe" "$stage/kiromenu.exe"
cp "$top/README.md" "$stage/README.md"
cp "$top/docs/brugervejledning.md" "$stage/docs/brugervejledning.md"
cp "$top/docs/design.md" "$stage/docs/design.md"
for picture in $(cat "$top/README.md" "$top/docs/brugervejledning.md" "$top/docs/design.md" |
                 grep -o 'screenshots/[A-Za-z0-9_.-]*\.png' | sort -u); do
  if [ ! -f "$top/docs/$picture" ]; then
    echo "dist: docs/$picture is shown by the documents but missing" >&2
    exit 1
  fi
  cp "$top/docs/$picture" "$stage/docs/$picture"
done
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
   while read -r file; do sha256sum "$file"; done > SHA256SUMS)

# The zip is reproducible too: fixed order, modes and times, no extra
# attributes.
find "$work/stage" -type d -exec chmod 755 {} +
find "$work/stage" -type f -exec chmod 644 {} +
find "$work/stage" -exec touch -d "@$stamp" {} +
mkdir -p "$top/dist"
rm -f "$top/dist/$name.zip" "$top/dist/$name.debug"
(cd "$work/stage" && find "$name" -type f | LC_ALL=C sort |
   TZ=UTC zip -q -X -D -9 "$top/dist/$name.zip" -@)
(cd "$top/dist" && sha256sum "$name.zip" > "$name.zip.sha256")
cp "$work/lean/$name.debug" "$top/dist/$name.debug"
chmod 644 "$top/dist/$name.debug"
echo "dist: dist/$name.zip"
sed 's/^/  /' "$stage/SHA256SUMS"
echo "dist: sha256 of the zip: $(cut -d' ' -f1 "$top/dist/$name.zip.sha256") (dist/$name.zip.sha256)"
echo "dist: symbols for reading crash addresses: dist/$name.debug (keep it; it is not handed out)"

if [ -n "$test_signed" ]; then
  cat >&2 <<'BANNER'

  +------------------------------------------------------------------------+
  |  TEST-SIGNED RELEASE: kiromenu.exe is signed with a throwaway test     |
  |  certificate that no Windows trusts. Do not hand this zip out.         |
  |  Sign for real with the school's or vendor's certificate:              |
  |      make dist SIGN_CERT=cert.pem SIGN_KEY=key.pem                     |
  |  (see "The release" in README.md)                                      |
  +------------------------------------------------------------------------+

BANNER
fi
