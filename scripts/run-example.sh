#!/usr/bin/env bash
# Builds both targets and runs the example host program under Wine: the
# i686 one where the host can run it, the x86_64 one otherwise, saying
# which. It needs no virtual machine, so set-up installs none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
. "$root/scripts/wine-env.sh"
. "$root/scripts/host.sh"
TOOLS_SETUP_MODE=example bash "$root/scripts/build.sh" i686 x86_64
if why=$(tk_i686_runs); then
  target=i686
  echo "example: the i686 build"
else
  target=x86_64
  echo "example: the x86_64 build; $why"
fi
cd "$build/$target/bin"
exec "$root/scripts/with-display.sh" "$root/scripts/wine-run.sh" "$target" ./tools_example.exe "$@"
