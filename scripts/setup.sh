#!/usr/bin/env bash
# Installs what building and testing tools.dll needs on Debian 12, as root.
# Idempotent: when every package is present it only checks, in about a second.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# Installs those of the named packages that are missing.
install_missing() {
  local missing=() p
  for p in "$@"; do
    # dpkg-query prints "install ok installed" for a package that is fully in place.
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_missing g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev \
                wine wine32:i386 wine64 xvfb xauth cmake ninja-build googletest pkgconf

# Where the host cannot start 32-bit programs, the i686 tests run in a
# virtual machine (scripts/vm.sh), which these make and boot.
. "$root/scripts/wine-env.sh"
if ! tk_i686_runs >/dev/null; then
  install_missing debootstrap qemu-system-x86
fi
