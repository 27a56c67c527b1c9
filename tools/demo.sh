#!/bin/sh
# "make demo": a PC of its own with KIRO-skema installed as a school has it,
# and the menu running on it. The PC is a Wine prefix in BUILD_DIR/demo
# (kept between runs; the installation is made anew each time), under the
# Danish locale with the fonts the layout was made for:
#   C:\Program Files\KIRO\  kiromenu.exe, a stand-in schedule program for
#                           version 10327 (10327.exe), a pending update
#                           (opd10328.exe) and START.LOG
#   C:\Skoledata\           ini\kiro.ini of installation 123, whose "kontakt"
#                           settings point at a loopback FTP server the demo
#                           starts; a realistic set of table files, ini and
#                           log files
#   E:                      the stick, a removable drive (BUILD_DIR/demo/stick)
# With a display (DISPLAY set and answering) the menu runs there for you;
# without one it runs under Xvfb, where a scripted tour visits every dialog,
# saves a screenshot of each, prints where they are and ends. For the tour's
# move on two disks, two small sticks of the same size are mounted as tmpfs
# (where mounting is allowed; otherwise the data move on one stick).
#
# With a second argument the tour's pictures for the README and the user
# guide (cut to the dialogs) replace the PNG files in that folder:
#   tools/demo.sh BUILD_DIR [docs/screenshots]
# KIRO_DEMO_MENU installs another kiromenu.exe than the build's (make dist
# tours the release's); KIRO_DEMO_WINDOWS is the Windows version Wine shows
# the menu (win7, win10, ...), Wine's own when unset.
set -e
user_display="${DISPLAY:-}"   # the user's own display, if any
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
docs_dir=${2:-}
arch=$("$here/host-arch.sh")
run="$build"
if [ "$arch" = x86_64 ]; then
  run="$build/x64"
  echo "demo: this machine cannot run 32-bit code; running the x86_64 build of the same sources."
fi

demo="$build/demo"
stick="$demo/stick"
sticks="$demo/sticks"
ftp="$demo/support-ftp"
mkdir -p "$demo"
ftp_pid=
cleanup() {
  [ -n "$ftp_pid" ] && kill "$ftp_pid" 2>/dev/null
  for k in 1 2; do
    mountpoint -q "$sticks/$k" 2>/dev/null && umount "$sticks/$k" 2>/dev/null
  done
  "$here/services.sh" stop "$demo" >/dev/null 2>&1
  true
}
trap cleanup EXIT

"$here/services.sh" start "$demo" >/dev/null
kiro_env_build="$demo"; . "$here/wine-env.sh"

# The installation, on C: of the demo PC.
prog="$WINEPREFIX/drive_c/Program Files/KIRO"
data="$WINEPREFIX/drive_c/Skoledata"
prog_win='C:\Program Files\KIRO'
data_win='C:\Skoledata'
rm -rf "$prog" "$data" "$stick" "$ftp"
mkdir -p "$prog" "$data/ini" "$data/log" "$data/datakopi" "$data/inikopi" "$stick" "$ftp"
cp "${KIRO_DEMO_MENU:-$run/kiromenu.exe}" "$prog/kiromenu.exe"
cp "$run/standins/standin_schedule.exe" "$prog/10327.exe"
cp "$run/standins/standin_update.exe" "$prog/opd10328.exe"
printf '03,10327,station1\r\n05,10327,station2\r\n' > "$prog/START.LOG"
python3 "$here/make_dataset.py" "$data" 4
cp "$data/data/anom.DAT" "$data/datakopi/anom.DAT"
cp "$data/ini/skema.ini" "$data/inikopi/skema.ini"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[global]\r\ninsnr=123\r\nversion=10327\r\nskemal\345st=nej\r\nsuperkiro=nej\r\nflytdrev=e:\r\n' > "$data/ini/kiro.ini"
printf '[kontakt]\r\ndatabase=skole\r\nserver=sql01.skole.local\r\nsupportserver=127.0.0.1:%s\r\n' "$port" >> "$data/ini/kiro.ini"

/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$port" -w -d "$ftp" -u kirodata -P 4monbek >/dev/null 2>&1 &
ftp_pid=$!

windows_key='HKCU\Software\Wine\AppDefaults\kiromenu.exe'
if [ -n "${KIRO_DEMO_WINDOWS:-}" ]; then
  "$KIRO_WINE" reg add "$windows_key" /v Version /d "$KIRO_DEMO_WINDOWS" /f >/dev/null 2>&1
else
  "$KIRO_WINE" reg delete "$windows_key" /f >/dev/null 2>&1 || true
fi

# The stick is drive E:.
ln -sfn "$stick" "$WINEPREFIX/dosdevices/e:"

if [ -n "$user_display" ] && command -v xdpyinfo >/dev/null && xdpyinfo -display "$user_display" >/dev/null 2>&1; then
  echo "demo: running the menu on $user_display (program: $prog_win, data: $data_win, stick E: $stick)"
  DISPLAY="$user_display" "$KIRO_WINE" "$prog_win\\kiromenu.exe" "-p$prog_win" "-d$data_win"
  status=0
else
  touch "$prog/standin.quiet"   # the stand-ins record their start without a window
  # Two empty sticks of 512 KiB each: the data need two of them.
  stick1=- stick2=-
  for k in 1 2; do
    mkdir -p "$sticks/$k"
    mountpoint -q "$sticks/$k" && umount "$sticks/$k"
  done
  if mount -t tmpfs -o size=524288,mode=0777 tmpfs "$sticks/1" 2>/dev/null &&
     mount -t tmpfs -o size=524288,mode=0777 tmpfs "$sticks/2" 2>/dev/null; then
    stick1="$sticks/1" stick2="$sticks/2"
  else
    echo "demo: no small sticks could be mounted here; the data move on one stick."
  fi
  shots="$build/screenshots/demo"
  rm -rf "$shots"
  mkdir -p "$shots"
  set +e
  # The menu's FTP dialogue (its standard error) goes into a file of its own.
  "$KIRO_WINE" "$run/tools/demo_tour.exe" "$prog_win\\kiromenu.exe" "Z:$(echo "$shots" | tr / '\\')" \
    "$stick1" "$stick2" "-p$prog_win" "-d$data_win" 2>"$demo/ftp-trace.log"
  status=$?
  set -e
  echo "demo: support uploads received: $(ls "$ftp" | tr '\n' ' ')"
  printf 'demo: the schedule program stand-in was started with: %s\n' "$(tail -1 "$prog/10327.exe.cmdline" 2>/dev/null)"
  echo "demo: the menu's FTP dialogue is in $demo/ftp-trace.log"
  echo "demo: screenshots in $shots"
  if [ -n "$docs_dir" ]; then
    if [ $status -ne 0 ] || [ "$stick1" = - ]; then
      echo "demo: the pictures in $docs_dir are left as they were (the tour needs both sticks and must succeed)" >&2
      status=1
    else
      mkdir -p "$docs_dir"
      rm -f "$docs_dir"/*.png
      cp "$shots/docs/"*.png "$docs_dir/"
      echo "demo: the pictures of the README and the user guide are now in $docs_dir"
    fi
  fi
fi
exit $status
