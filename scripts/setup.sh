#!/usr/bin/env bash
# Installs what building and testing tools.dll needs on Debian 12, as root,
# and only what this host can use. Usage: setup.sh [test|example]
#
#   test      (the default) everything the test command runs: the i686
#             tests need 32-bit Wine where this host starts 32-bit programs,
#             and the virtual machine's tools (scripts/vm.sh) where it
#             cannot, or where 32-bit Wine cannot be installed;
#   example   the same without the virtual machine's tools: the example runs
#             its x86_64 build wherever the i686 one cannot run.
#
# A package mirror in the middle of a sync serves some indexes broken: the
# index update is tried a few times, then set-up goes on with the indexes
# that came in, naming the one that failed. It stops only when a package
# this host needs cannot be installed, naming it with the package manager's
# reason. 32-bit Wine is not such a package: without it the i686 tests run
# in the virtual machine. A failed attempt is remembered (in
# $TOOLS_STATE_DIR, default ~/.cache/tools) for six hours, so that every
# command does not pay for the mirror's retries again; delete
# wine32-failed there to try at once.
#
# Idempotent: when every package is present it makes no package-manager
# call but dpkg-query's, in about a second.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/host.sh"

mode=${1:-test}
case "$mode" in
  test|example) ;;
  *) echo "setup: unknown mode '$mode' (test or example)" >&2; exit 2 ;;
esac

common=(g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
        wine wine64 xvfb xauth cmake ninja-build googletest pkgconf)
wine32=wine32:i386
vm_tools=(debootstrap qemu-system-x86)
# Pauses before the second and third index update, in seconds.
read -r -a pauses <<< "${TOOLS_APT_PAUSES:-15 45}"

say() { echo "setup: $*"; }

installed() {
  # dpkg-query prints "install ok installed" for a package that is fully in place.
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# Prints those of the named packages that are not installed.
missing_of() {
  local p
  for p in "$@"; do
    installed "$p" || echo "$p"
  done
}

# The package manager's reason for a failed install, in one line: the first
# unmet dependency, else its first error.
reason_of() {
  local reason
  reason=$(grep -m 1 -E '^ +[^ ]+ : (Pre)?Depends:' <<<"$1" | sed -E 's/^ +//; s/ +/ /g') ||
    reason=$(grep -m 1 '^E: ' <<<"$1") || reason=$(tail -n 1 <<<"$1")
  echo "$reason"
}

updated=
# Fetches the package indexes, at most once a run. Tries a few times with a
# growing pause, then goes on with what was fetched: one index failing
# leaves the others usable.
update_indexes() {
  [ -z "$updated" ] || return 0
  updated=1
  say "fetching the package indexes"
  local out try=0 pause
  while :; do
    if out=$(apt-get update -qq 2>&1); then
      return 0
    fi
    [ "$try" -lt "${#pauses[@]}" ] || break
    pause=${pauses[$try]}
    try=$((try + 1))
    sleep "$pause"
  done
  local failed
  failed=$(grep -m 1 -E '^[EW]: Failed to fetch ' <<<"$out" | sed -E 's/^[EW]: Failed to fetch +//; s/ {2,}/: /') ||
    failed=$(reason_of "$out")
  say "after $((try + 1)) tries an index still fails, going on with the others: $failed"
}

# Installs the named packages, or stops naming each that cannot be
# installed and why.
install_required() {
  [ $# -gt 0 ] || return 0
  update_indexes
  say "installing $*"
  local out p why bad=0
  if out=$(apt-get install -y -q --no-install-recommends "$@" 2>&1); then
    return 0
  fi
  # apt refuses the whole set for one package: ask for each alone which it is.
  for p in "$@"; do
    if ! why=$(apt-get install -s -q --no-install-recommends "$p" 2>&1); then
      say "cannot install $p: $(reason_of "$why")"
      bad=1
    fi
  done
  [ "$bad" = 1 ] || say "cannot install $*: $(reason_of "$out")"
  exit 1
}

state=${TOOLS_STATE_DIR:-$HOME/.cache/tools}
wine32_failed=$state/wine32-failed

# Installs the named packages this host needs, then 32-bit Wine, which
# only a host that starts 32-bit programs can use; false, with the reason
# remembered, when 32-bit Wine cannot be installed.
install_with_wine32() {
  local added= out
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    added=1
  fi
  install_required "$@"
  update_indexes
  say "installing $wine32"
  if out=$(apt-get install -y -q --no-install-recommends "$wine32" 2>&1); then
    rm -f "$wine32_failed"
    return 0
  fi
  mkdir -p "$state"
  reason_of "$out" > "$wine32_failed"
  say "cannot install $wine32 ($(cat "$wine32_failed")); the i686 tests run in a virtual machine, the example runs its x86_64 build"
  # Leave the package manager as it was: an architecture whose indexes the
  # mirror serves broken fails every later update.
  if [ -n "$added" ] && [ -z "$(dpkg-query -W -f='${Package}\n' '*:i386' 2>/dev/null)" ]; then
    dpkg --remove-architecture i386 || true
  fi
  return 1
}

export DEBIAN_FRONTEND=noninteractive
mapfile -t need < <(missing_of "${common[@]}")

wine32_usable=
if tk_host_runs_32bit; then
  if installed "$wine32"; then
    wine32_usable=1
  elif [ -n "$(find "$wine32_failed" -mmin -360 2>/dev/null)" ]; then
    say "not trying $wine32 again, which failed within six hours ($(cat "$wine32_failed"))"
  else
    install_with_wine32 "${need[@]}" && wine32_usable=1
    need=()
  fi
fi

if [ "$mode" = test ] && [ -z "$wine32_usable" ]; then
  mapfile -t -O "${#need[@]}" need < <(missing_of "${vm_tools[@]}")
fi
install_required "${need[@]}"
