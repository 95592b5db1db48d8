#!/usr/bin/env bash
# Builds both targets and runs every test under Wine, with one X server.
#
# Both builds must pass the export check. The x86_64 tests always run; the
# i686 tests run where the host can start 32-bit programs, and where it
# cannot, one line says so and they count as neither passed nor failed. The
# last line is the summary over everything that ran. Arguments go to CTest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
. "$root/scripts/wine-env.sh"

bash "$root/scripts/build.sh" i686 x86_64

passed=0
failed=0
for target in i686 x86_64; do
  if bash "$root/scripts/check-exports.sh" "$target" "$build/$target/bin/tools.dll"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done

targets=(x86_64)
if why=$(tk_i686_runs); then
  targets=(i686 x86_64)
else
  echo "i686 tests not run: this host cannot start 32-bit programs ($why)"
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# A hung test program fails after five minutes instead of holding the run.
"$root/scripts/with-display.sh" bash -c '
  rc=0
  build=$1; shift
  log=$1; shift
  while [ "$1" != -- ]; do targets+=("$1"); shift; done
  shift
  for target in "${targets[@]}"; do
    echo "== $target tests"
    ctest --test-dir "$build/$target" --output-on-failure --timeout 300 -j2 "$@" | tee -a "$log" || rc=1
    # The marker lets the summary tell a run that ended without its own
    # summary line.
    echo "== end $target" >> "$log"
  done
  exit $rc' _ "$build" "$log" "${targets[@]}" -- "$@" || true

# CTest ends each run with "N% tests passed, F tests failed out of T".
runs=0
while read -r line; do
  total=${line##* out of }
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  runs=$((runs + 1))
done < <(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log")
if [ "$runs" -lt "${#targets[@]}" ]; then
  echo "a test run ended without its summary"
  failed=$((failed + ${#targets[@]} - runs))
fi
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
