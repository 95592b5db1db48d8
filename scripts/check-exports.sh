#!/usr/bin/env bash
# Checks that a built tools.dll exports exactly the names of
# scripts/tools.exports, the public interface as hosts link it. Both targets
# export the same names. A new public function goes into the list with the
# change that adds it.
# Usage: check-exports.sh <target> <path of tools.dll>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=$1
dll=$2
# objdump lists the export name table as "[ordinal] name" rows.
actual=$("$target-w64-mingw32-objdump" -p "$dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NF >= 2 && $0 !~ /Table/ { print $NF }' | sort)
missing=$(comm -23 "$root/scripts/tools.exports" <(printf '%s\n' "$actual"))
extra=$(comm -13 "$root/scripts/tools.exports" <(printf '%s\n' "$actual"))
if [ -n "$missing" ] || [ -n "$extra" ]; then
  [ -z "$missing" ] || printf '%s tools.dll lacks: %s\n' "$target" "$missing"
  [ -z "$extra" ] || printf '%s tools.dll exports what the list lacks: %s\n' "$target" "$extra"
  exit 1
fi
echo "$target tools.dll exports all $(wc -l < "$root/scripts/tools.exports") public names"
