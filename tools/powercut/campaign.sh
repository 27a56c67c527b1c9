#!/bin/sh
# The whole power-cut campaign: every action of kiromenu.exe that writes
# kiro.ini or flyt.ini, cut off after every one of its file operations on
# power-cut file systems (see tools/powercut/campaign.h). Needs root,
# /dev/fuse and the build (tools/build.sh). Prints every violation and the
# number of crash states tried and of violations; exit code 0 only when
# there was none. Takes about a quarter of an hour. With --mutants it runs
# the sample against menus with planted faults instead (mutants.sh).
#   tools/powercut/campaign.sh BUILD_DIR [--sample N] [--verbose] [--folders-at-once] [action ...]
#   tools/powercut/campaign.sh --mutants BUILD_DIR [--sample N] [--with PATCH]...
set -e
if [ "$1" = --mutants ]; then
  exec "$(dirname "$0")/mutants.sh" "$@"
fi
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
shift || true
testdir="$build"
if [ "$("$here/host-arch.sh")" = x86_64 ]; then
  testdir="$build/x64"
fi
"$here/services.sh" start "$testdir"
kiro_env_build="$testdir"; . "$here/wine-env.sh"
set +e
# A campaign that was ended from outside (its Wine server stopped, the
# process killed) may still give exit code 0: it counts only when it
# printed its figures.
# Its output goes to a file that is shown as it grows (a pipe would wait for
# every program the campaign leaves running).
log="$testdir/powercut/campaign-$$.log"
(cd "$testdir/powercut" && exec "$KIRO_WINE" powercut_campaign.exe "$@") >"$log" 2>&1 &
pid=$!
tail -n +1 -f --pid="$pid" "$log"
wait "$pid"
status=$?
if [ "$status" = 0 ] && ! grep -aq '^crash states tried:' "$log"; then
  echo "campaign.sh: the campaign ended without its figures: it did not finish" >&2
  status=1
fi
rm -f "$log"
"$here/services.sh" stop "$testdir"
exit $status
