#!/usr/bin/env bash
# Runs a command with one X server and one Wine server for its whole length:
# windows and message boxes need a display, and a Wine server kept alive
# spares every program a fresh start. Both end with the command.
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
if [ -z "${TOOLS_IN_DISPLAY:-}" ]; then
  export TOOLS_IN_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
mkdir -p "$(dirname "$WINEPREFIX")"
wineserver -p >/dev/null 2>&1 || true
# The first Wine start on a machine creates the prefix, and the first window
# starts the desktop process, which other programs wait for only so long (a
# message box then fails under a slow, loaded machine): both before any test.
/usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1 || true
/usr/lib/wine/wine64 rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1 || true
set +e
"$@"
rc=$?
wineserver -k >/dev/null 2>&1
exit $rc
