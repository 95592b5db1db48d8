#!/usr/bin/env bash
# Builds everything and runs all tests under Wine, with one X server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
cd "$build"
# A hung test program fails after five minutes instead of holding the run.
exec "$root/scripts/with-display.sh" ctest --output-on-failure --timeout 300 -j2 "$@"
