#!/usr/bin/env bash
# Builds both targets and runs every benchmark program (bench_*.exe) of each
# target that runs here: x86_64 always, i686 where the host can run it
# (32-bit programs and 32-bit Wine). Prints one table per target
# (operation, figure, the baseline measured in the same run, ratio, target)
# and keeps it as Markdown in build/<target>/bench.md, so that runs can be
# compared.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
. "$root/scripts/wine-env.sh"
. "$root/scripts/host.sh"
bash "$root/scripts/build.sh" i686 x86_64
targets=(x86_64)
if why=$(tk_i686_runs); then
  targets=(i686 x86_64)
else
  echo "i686 benchmarks not run: $why"
fi
exec "$root/scripts/with-display.sh" bash -c '
  root=$1; build=$2; shift 2
  rc=0
  for target; do
    table=$build/$target/bench.md
    {
      echo "# Benchmarks, $target ($(date -u +%Y-%m-%d))"
      echo
      echo "| Operation | Figure | Baseline in the same run | Ratio | Target |"
      echo "|---|---|---|---|---|"
    } > "$table"
    cd "$build/$target/bin"
    for b in bench_*.exe; do
      # Each program prints its rows; anything else it says goes on stderr.
      if ! "$root/scripts/wine-run.sh" "$target" "./$b" > "$table.part"; then
        rc=1
      fi
      grep "^|" "$table.part" >> "$table" || echo "| $b | printed no result | | | |" >> "$table"
    done
    rm -f "$table.part"
    echo
    cat "$table"
  done
  exit $rc' _ "$root" "$build" "${targets[@]}"
