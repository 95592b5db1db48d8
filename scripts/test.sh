#!/usr/bin/env bash
# Builds both targets and runs every test under Wine, with one X server.
#
# First the tests of set-up's own decisions, which need nothing built. Both
# builds must pass the export check. The x86_64 tests run on the host. The
# i686 tests run on the host where it starts 32-bit programs and has 32-bit
# Wine, and in a virtual machine (scripts/vm.sh) otherwise. The last line is
# the summary over everything that ran. Arguments go to CTest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
. "$root/scripts/wine-env.sh"
. "$root/scripts/host.sh"

passed=0
failed=0
if bash "$root/tests/scripts/setup_test.sh"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

bash "$root/scripts/build.sh" i686 x86_64

for target in i686 x86_64; do
  if bash "$root/scripts/check-exports.sh" "$target" "$build/$target/bin/tools.dll"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
  fi
done

targets=(x86_64)
in_vm=
if why=$(tk_i686_runs); then
  targets=(i686 x86_64)
else
  echo "i686 tests: $why; they run in a virtual machine"
  in_vm=1
fi
runs_expected=$((${#targets[@]} + ${in_vm:-0}))

log=$(mktemp)
trap 'rm -f "$log"' EXIT
# A hung test program fails after five minutes instead of holding the run.
"$root/scripts/with-display.sh" bash -c '
  build=$1 log=$2
  shift 2
  targets=()
  while [ "$1" != -- ]; do targets+=("$1"); shift; done
  shift
  for target in "${targets[@]}"; do
    echo "== $target tests"
    ctest --test-dir "$build/$target" --output-on-failure --timeout 300 -j2 "$@" | tee -a "$log"
  done' _ "$build" "$log" "${targets[@]}" -- "$@" || true
if [ -n "$in_vm" ]; then
  # CTest's output comes back from the machine; its summary counts below
  # like that of a run here.
  echo "== i686 tests, in a virtual machine"
  bash "$root/scripts/vm.sh" "$@" | tee -a "$log" || true
fi

# CTest ends each run with "N% tests passed, F tests failed out of T".
runs=0
while read -r line; do
  total=${line##* out of }
  bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  runs=$((runs + 1))
done < <(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log")
if [ "$runs" -lt "$runs_expected" ]; then
  echo "$((runs_expected - runs)) test run(s) ended without a summary"
  failed=$((failed + runs_expected - runs))
fi
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
