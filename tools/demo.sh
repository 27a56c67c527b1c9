#!/bin/sh
# "make demo": builds a complete demo installation inside the build folder
# and runs the menu on it. The installation: a program folder with
# kiromenu.exe, a stand-in schedule program for version 10327, a pending
# update (opd10328.exe) and START.LOG; a data folder with ini\kiro.ini whose
# "kontakt" settings point at a loopback FTP server the demo starts, a
# realistic set of table files, ini and log files; and a removable drive E:
# backed by a folder (the "stick"). With a display (DISPLAY set and
# answering) the menu runs there for you; without one it runs under Xvfb,
# where a scripted tour visits every dialog, saves a screenshot of each,
# prints where they are and ends.
#   tools/demo.sh BUILD_DIR
set -e
user_display="${DISPLAY:-}"   # the user's own display, if any
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
arch=$("$here/host-arch.sh")
run="$build"
if [ "$arch" = x86_64 ]; then
  run="$build/x64"
  echo "demo: this machine cannot run 32-bit code; running the x86_64 build of the same sources."
fi
win() { echo "Z:$1" | tr / '\\'; }

demo="$build/demo"
prog="$demo/Program Files/KIRO"
data="$demo/Skoledata"
stick="$demo/stick"
ftp="$demo/support-ftp"
rm -rf "$demo"
mkdir -p "$prog" "$data/ini" "$data/log" "$data/datakopi" "$data/inikopi" "$stick" "$ftp"
cp "$run/kiromenu.exe" "$prog/kiromenu.exe"
cp "$run/standins/standin_schedule.exe" "$prog/10327.exe"
cp "$run/standins/standin_update.exe" "$prog/opd10328.exe"
printf '03,10327,station1\r\n05,10327,station2\r\n' > "$prog/START.LOG"
python3 "$here/make_dataset.py" "$data" 4
cp "$data/data/anom.DAT" "$data/datakopi/anom.DAT"
cp "$data/ini/skema.ini" "$data/inikopi/skema.ini"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[global]\r\ninsnr=7\r\nversion=10327\r\nskemal\345st=nej\r\nsuperkiro=nej\r\nflytdrev=e:\r\n' > "$data/ini/kiro.ini"
printf '[kontakt]\r\ndatabase=skole\r\nserver=sql01.skole.local\r\nsupportserver=127.0.0.1:%s\r\n' "$port" >> "$data/ini/kiro.ini"

/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$port" -w -d "$ftp" -u kirodata -P 4monbek >/dev/null 2>&1 &
ftp_pid=$!
trap 'kill $ftp_pid 2>/dev/null || true' EXIT

"$here/services.sh" start "$run" >/dev/null
kiro_env_build="$run"; . "$here/wine-env.sh"
# The demo's stick is drive E:.
ln -sfn "$stick" "$WINEPREFIX/dosdevices/e:"

if [ -n "$user_display" ] && command -v xdpyinfo >/dev/null && xdpyinfo -display "$user_display" >/dev/null 2>&1; then
  echo "demo: running the menu on $user_display (program: $prog, data: $data)"
  DISPLAY="$user_display" "$KIRO_WINE" "$prog/kiromenu.exe" "-p$(win "$prog")" "-d$(win "$data")"
  status=0
else
  touch "$prog/standin.quiet"   # the stand-ins record their start without a window
  shots="$build/screenshots/demo"
  rm -rf "$shots"
  mkdir -p "$shots"
  set +e
  # The menu's FTP dialogue (its standard error) goes into a file of its own.
  "$KIRO_WINE" "$run/tools/demo_tour.exe" "$(win "$prog/kiromenu.exe")" "$(win "$shots")" \
    "-p$(win "$prog")" "-d$(win "$data")" 2>"$demo/ftp-trace.log"
  status=$?
  set -e
  echo "demo: support uploads received: $(ls "$ftp" | tr '\n' ' ')"
  printf 'demo: the schedule program stand-in was started with: %s\n' "$(cat "$prog"/10327.exe.cmdline 2>/dev/null | tail -1)"
  echo "demo: the menu's FTP dialogue is in $demo/ftp-trace.log"
  echo "demo: screenshots in $shots"
fi
ln -sfn "$run/drives/e" "$WINEPREFIX/dosdevices/e:"
"$here/services.sh" stop "$run"
exit $status
