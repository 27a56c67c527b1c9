#!/bin/sh
# "make demo": builds a demo installation inside the build folder and runs
# the menu on it. With a display (DISPLAY set and answering) the menu runs
# there for you to use; without one it runs under Xvfb, where a scripted tour
# saves screenshots, prints where they are, closes the menu and ends.
#   tools/demo.sh BUILD_DIR
set -e
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
arch=$("$here/host-arch.sh")
run="$build"
if [ "$arch" = x86_64 ]; then
  run="$build/x64"
  echo "demo: this machine cannot run 32-bit code; running the x86_64 build of the same sources."
fi

demo="$build/demo"
prog="$demo/Program Files/KIRO"
data="$demo/Skoledata"
rm -rf "$demo"
mkdir -p "$prog" "$data/ini" "$data/data" "$data/log"
cp "$run/kiromenu.exe" "$prog/kiromenu.exe"
# Stand-ins for the schedule program and a pending update: started from the
# menu, each shows the command line it received.
cp "$run/standins/standin_schedule.exe" "$prog/10327.exe"
cp "$run/standins/standin_update.exe" "$prog/opd10328.exe"
printf '[global]\r\ninsnr=7\r\nversion=10327\r\nskemal\345st=nej\r\nsuperkiro=nej\r\nflytdrev=e:\r\n' > "$data/ini/kiro.ini"
for t in anom akti loka pers elev kaldag; do
  head -c 4096 /dev/urandom > "$data/data/$t.DAT"
done

user_display="$DISPLAY"
if [ -n "$user_display" ] && command -v xdpyinfo >/dev/null && xdpyinfo -display "$user_display" >/dev/null 2>&1; then
  "$here/services.sh" start "$run" >/dev/null
  kiro_env_build="$run"; . "$here/wine-env.sh"
  export DISPLAY="$user_display"
  "$KIRO_WINE" "$prog/kiromenu.exe" "-p$(echo "Z:$prog" | tr / '\\')" "-d$(echo "Z:$data" | tr / '\\')"
  "$here/services.sh" stop "$run"
  exit 0
fi

"$here/services.sh" start "$run"
kiro_env_build="$run"; . "$here/wine-env.sh"
shots="$build/screenshots/demo"
mkdir -p "$shots"
set +e
"$KIRO_WINE" "$run/tools/demo_tour.exe" "Z:$(echo "$prog/kiromenu.exe" | tr / '\\')" \
  "Z:$(echo "$shots" | tr / '\\')" \
  "-pZ:$(echo "$prog" | tr / '\\')" "-dZ:$(echo "$data" | tr / '\\')"
status=$?
"$here/services.sh" stop "$run"
exit $status
