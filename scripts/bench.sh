#!/usr/bin/env bash
# Builds everything and runs every benchmark program (build/bin/bench_*.exe)
# under Wine, one after the other.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh"
cd "$build/bin"
exec "$root/scripts/with-display.sh" bash -c 'rc=0; for b in bench_*.exe; do echo "== $b"; wine "./$b" || rc=1; done; exit $rc'
