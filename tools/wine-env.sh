# Sourced by the scripts that run programs under Wine: sets up the
# environment of the build's own Wine prefix. Never touches ~/.wine.
#   kiro_env_build=BUILD_DIR; . tools/wine-env.sh
kiro_build=$(cd "${kiro_env_build:-build}" && pwd)
export KIRO_BUILD="$kiro_build"
export WINEPREFIX="$kiro_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
# Where the machine runs 32-bit code, the 32-bit program runs in a pure
# 32-bit prefix, as on a 32-bit Windows; elsewhere the x86_64 twin runs in
# a 64-bit one.
if [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine ]; then
  export WINEARCH=win32
  export WINELOADER=/usr/lib/wine/wine
  export KIRO_WINE=/usr/lib/wine/wine
  KIRO_WINESERVER=/usr/lib/wine/wineserver32
else
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  export KIRO_WINE=/usr/lib/wine/wine64
  KIRO_WINESERVER=/usr/lib/wine/wineserver64
fi
[ -x "$KIRO_WINESERVER" ] || KIRO_WINESERVER=wineserver
export KIRO_WINESERVER
# A Danish Windows: Danish system texts, ANSI code page 1252.
export LANG=da_DK.UTF-8
export LC_ALL=da_DK.UTF-8
# Tests run under a fake home, so the desktop folder of the prefix (a link
# to $HOME) never touches the user's own.
export HOME="$kiro_build/home"
mkdir -p "$HOME"
if [ -f "$kiro_build/.display" ]; then
  export DISPLAY=":$(cat "$kiro_build/.display")"
fi
