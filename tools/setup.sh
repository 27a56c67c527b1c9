#!/bin/sh
# Installs, from Debian's packages, everything the build, the tests and the
# demo need, and unpacks the minizip sources into the build folder. Safe to
# run again: it installs only what is missing.
#   tools/setup.sh BUILD_DIR
set -e
build=${1:-build}

# Wine's TLS (Schannel) runs on GnuTLS, which Wine only recommends: named
# here for both architectures. The FTPS tests and the benchmark use
# pyftpdlib's TLS handler (python3-openssl) and make their certificates
# with openssl. The release (make dist) is signed with osslsigncode, and
# gdb checks that its symbol file reads the signed program.
packages="cmake make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  libz-mingw-w64-dev wine wine64 wine32:i386 libgnutls30:i386 libgnutls30:amd64
  xvfb x11-utils imagemagick
  googletest python3 python3-pyftpdlib python3-openssl openssl dpkg-dev zip unzip curl
  locales fonts-wine fonts-liberation exfatprogs exfat-fuse
  gcc libc6-dev pkg-config libfuse3-dev fuse3 stress-ng osslsigncode gdb"

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done

# minizip comes as source (zlib's contrib/minizip, Debian source package
# "minizip"), which needs a deb-src entry; add one of our own only when the
# machine has none.
if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  cat > /etc/apt/sources.list.d/kiromenu-deb-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

if [ -n "$missing" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  need_update=1
fi
if [ -n "$need_update" ]; then
  apt-get update -q
fi
if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
fi

# The tests and the demo run as a Danish Windows does: Wine takes its
# system texts (the buttons "Ja", "Nej", "Annuller") from the locale.
if ! locale -a 2>/dev/null | grep -qix 'da_DK.utf-\?8'; then
  sed -i 's/^# *\(da_DK.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^da_DK.UTF-8 UTF-8' /etc/locale.gen || echo 'da_DK.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

mkdir -p "$build/_deps"
if [ ! -f "$build/_deps/minizip/zip.c" ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get source -q minizip >/dev/null 2>&1) || {
    apt-get update -q && (cd "$tmp" && apt-get source -q minizip)
  }
  rm -rf "$build/_deps/minizip"
  mv "$tmp"/minizip-*/ "$build/_deps/minizip"
  chmod -R u+rwX "$build/_deps/minizip"
  rm -rf "$tmp"
fi
