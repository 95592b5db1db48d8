#!/usr/bin/env bash
# Builds both targets and runs the example host program under Wine: the
# i686 one where the host can start 32-bit programs, the x86_64 one
# otherwise, saying which.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
. "$root/scripts/wine-env.sh"
bash "$root/scripts/build.sh" i686 x86_64
if why=$(tk_i686_runs); then
  target=i686
  echo "example: the i686 build"
else
  target=x86_64
  echo "example: the x86_64 build; this host cannot start 32-bit programs ($why)"
fi
cd "$build/$target/bin"
exec "$root/scripts/with-display.sh" "$root/scripts/wine-run.sh" "$target" ./tools_example.exe "$@"
