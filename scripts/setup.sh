#!/usr/bin/env bash
# Installs what building and testing tools.dll needs on Debian 12, as root.
# Idempotent: when every package is present it only checks, in about a second.
set -euo pipefail

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
          wine wine32:i386 wine64 xvfb xauth
          cmake ninja-build googletest)

missing=()
for p in "${packages[@]}"; do
  # dpkg-query prints "install ok installed" for a package that is fully in place.
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
