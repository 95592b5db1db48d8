#!/usr/bin/env bash
# Builds everything and runs the example host program under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
cd "$build/bin"
exec "$root/scripts/with-display.sh" wine ./tools_example.exe "$@"
