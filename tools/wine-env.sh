# Sourced by the scripts that run programs under Wine: sets up the
# environment of the build's own Wine prefix. Never touches ~/.wine.
#   kiro_env_build=BUILD_DIR; . tools/wine-env.sh
kiro_build=$(cd "${kiro_env_build:-build}" && pwd)
export KIRO_BUILD="$kiro_build"
export WINEPREFIX="$kiro_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
export WINEARCH=win64
# The launcher of 64-bit Wine also starts 32-bit programs where the machine
# can run 32-bit code (with wine32 installed).
export WINELOADER=/usr/lib/wine/wine64
export KIRO_WINE=/usr/lib/wine/wine64
# Tests run under a fake home, so the desktop folder of the prefix (a link
# to $HOME) never touches the user's own.
export HOME="$kiro_build/home"
mkdir -p "$HOME"
if [ -f "$kiro_build/.display" ]; then
  export DISPLAY=":$(cat "$kiro_build/.display")"
fi
