#!/bin/sh
# Runs a Windows program under Wine in the build's prefix; CTest uses it as
# the cross-compiling emulator. tools/services.sh must have been started.
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "$KIRO_BUILD" ]; then
  kiro_env_build="$here/../build"; . "$here/wine-env.sh"
fi
exec "$KIRO_WINE" "$@"
