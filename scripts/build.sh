#!/usr/bin/env bash
# Installs what is missing, then configures and builds both targets, each in
# build/<target> (under $TOOLS_BUILD_DIR instead of build/ when it is set).
# With target names as arguments, builds only those. TOOLS_SETUP_MODE picks
# what set-up installs (scripts/setup.sh; the test command's by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOOLS_BUILD_DIR:-$root/build}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(i686 x86_64)

bash "$root/scripts/setup.sh" "${TOOLS_SETUP_MODE:-test}"
for target in "${targets[@]}"; do
  if [ ! -f "$build/$target/build.ninja" ]; then
    cmake -S "$root" -B "$build/$target" -G Ninja \
          -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$target.cmake" \
          -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build/$target"
done
