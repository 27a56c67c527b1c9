#!/bin/sh
# Starts or stops what the tests and the demo need: an Xvfb display of
# their own, the build's Wine prefix (created and configured once) and a
# persistent wine server.
#   tools/services.sh start|stop BUILD_DIR
set -e
here=$(cd "$(dirname "$0")" && pwd)
action=$1
build=$(cd "${2:-build}" && pwd)

display_alive() {
  [ -f "$build/.display" ] && [ -f "$build/.xvfb.pid" ] &&
    kill -0 "$(cat "$build/.xvfb.pid")" 2>/dev/null
}

start_xvfb() {
  display_alive && return 0
  # Xvfb picks a free display itself and writes its number once it listens,
  # so two builds on one machine never race for the same one.
  rm -f "$build/.display" "$build/.display.new"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$build/.display.new" >/dev/null 2>&1 &
  echo $! > "$build/.xvfb.pid"
  i=0
  while ! grep -q '^[0-9][0-9]*$' "$build/.display.new" 2>/dev/null && [ $i -lt 200 ]; do
    sleep 0.1; i=$((i + 1))
  done
  grep -q '^[0-9][0-9]*$' "$build/.display.new" 2>/dev/null ||
    { echo "services: Xvfb did not report a display within 20 s" >&2; exit 1; }
  mv "$build/.display.new" "$build/.display"
}

# Mounts and loop devices that a crashed or timed-out test left below the
# build's own drives folder: unmounted (deepest first, lazily when still
# busy) and detached. Nothing outside that folder is touched.
sweep_drives() {
  drives="$build/drives"
  [ -d "$drives" ] || return 0
  escaped=$(printf '%s/' "$drives" | sed 's/ /\\040/g')
  under="$escaped" awk 'index($2, ENVIRON["under"]) == 1 { print $2 }' /proc/mounts | sed 's/\\040/ /g' | sort -r |
    while IFS= read -r target; do
      umount "$target" 2>/dev/null || umount -l "$target" 2>/dev/null ||
        echo "services: could not unmount $target" >&2
    done
  losetup -n -O NAME,BACK-FILE 2>/dev/null | while read -r device file; do
    case "$file" in
    "$drives"/*) losetup -d "$device" 2>/dev/null || echo "services: could not detach $device" >&2 ;;
    esac
  done
}

case "$action" in
start)
  start_xvfb
  kiro_env_build="$build"; . "$here/wine-env.sh"
  wineserver=$KIRO_WINESERVER
  # A persistent server of an earlier start would never let "wineserver -w"
  # return: end it first; a new one starts below.
  "$wineserver" -k >/dev/null 2>&1 </dev/null || true
  sweep_drives
  # A prefix of the other architecture (an earlier machine) is made anew.
  if [ "$(cat "$WINEPREFIX/.kiro-arch" 2>/dev/null)" != "$WINEARCH" ]; then
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    "$KIRO_WINE" wineboot -i >/dev/null 2>&1 </dev/null
    timeout 120 "$wineserver" -w || "$wineserver" -k || true
    echo "$WINEARCH" > "$WINEPREFIX/.kiro-arch"
  fi
  # The prefix's settings are applied again whenever they change.
  wanted=$(cksum < "$here/wineprefix.reg")
  if [ "$(cat "$WINEPREFIX/.kiro-configured" 2>/dev/null)" != "$wanted" ]; then
    "$KIRO_WINE" regedit /S "Z:$(echo "$here/wineprefix.reg" | tr / '\\')" >/dev/null 2>&1 </dev/null
    timeout 60 "$wineserver" -w || "$wineserver" -k || true
    echo "$wanted" > "$WINEPREFIX/.kiro-configured"
  fi
  # Wine's own fonts (MS Sans Serif of the dialogs, Tahoma, Marlett of the
  # caption buttons) go where Windows keeps its fonts: Debian's Wine looks
  # for them in its data folder by a path it never resolves, and without
  # them the dialogs get another face and the caption buttons show letters.
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  for font in /usr/share/wine/fonts/*; do
    if [ -f "$font" ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/${font##*/}" ]; then
      cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
  done
  # E: is a removable drive backed by a folder of the build (tests that
  # need other drives define them themselves).
  mkdir -p "$build/drives/e"
  ln -sfn "$build/drives/e" "$WINEPREFIX/dosdevices/e:"
  # A persistent server, its streams detached so no pipe is held open.
  "$wineserver" -p >/dev/null 2>&1 </dev/null
  "$KIRO_WINE" cmd /c exit >/dev/null 2>&1 </dev/null
  # The desktop, kept open for the whole run by a program of ours whose
  # streams are detached too (see tools/standins/desktop_keeper.cpp).
  keeper="$build/standins/desktop_keeper.exe"
  if [ -f "$keeper" ]; then
    rm -f "$build/.desktop"
    "$KIRO_WINE" "$keeper" "Z:$(echo "$build/.desktop" | tr / '\\')" >/dev/null 2>&1 </dev/null &
    i=0
    while [ ! -f "$build/.desktop" ] && [ $i -lt 600 ]; do
      sleep 0.1; i=$((i + 1))
    done
    [ -f "$build/.desktop" ] ||
      { echo "services: the prefix's desktop did not come up within 60 s" >&2; exit 1; }
  fi
  ;;
stop)
  if [ -d "$build/wineprefix" ]; then
    kiro_env_build="$build"; . "$here/wine-env.sh"
    "$KIRO_WINESERVER" -k >/dev/null 2>&1 || true
  fi
  # Power-cut and counterfeit-stick file systems that a test that died left
  # mounted below this build folder: unmounting them ends their daemons.
  awk '$3 == "fuse.powercutfs" || $3 == "fuse.counterfeitfs" { print $2 }' /proc/mounts 2>/dev/null | while read -r mounted; do
    case "$mounted" in
    "$build"/*) fusermount3 -u "$mounted" 2>/dev/null || umount -l "$mounted" 2>/dev/null || true ;;
    esac
  done
  sweep_drives
  rm -f "$build/.desktop"
  if [ -f "$build/.xvfb.pid" ]; then
    kill "$(cat "$build/.xvfb.pid")" 2>/dev/null || true
    rm -f "$build/.xvfb.pid" "$build/.display"
  fi
  ;;
*)
  echo "usage: $0 start|stop BUILD_DIR" >&2; exit 2 ;;
esac
