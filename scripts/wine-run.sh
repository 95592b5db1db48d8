#!/usr/bin/env bash
# Runs a Windows program of the given target (i686 or x86_64) under Wine the
# way tests and the example expect; CTest starts every test program so.
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"
target=$1
shift
exec "$(tk_wine_loader "$target")" "$@"
