#!/usr/bin/env bash
# Builds both targets and runs every benchmark program (bench_*.exe) of each
# target that runs here, one after the other: x86_64 always, i686 where the
# host can start 32-bit programs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
. "$root/scripts/wine-env.sh"
bash "$root/scripts/build.sh" i686 x86_64
targets=(x86_64)
if why=$(tk_i686_runs); then
  targets=(i686 x86_64)
else
  echo "i686 benchmarks not run: this host cannot start 32-bit programs ($why)"
fi
exec "$root/scripts/with-display.sh" bash -c '
  root=$1; build=$2; shift 2
  rc=0
  for target; do
    cd "$build/$target/bin"
    for b in bench_*.exe; do
      echo "== $target $b"
      "$root/scripts/wine-run.sh" "$target" "./$b" || rc=1
    done
  done
  exit $rc' _ "$root" "$build" "${targets[@]}"
