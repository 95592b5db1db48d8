#!/usr/bin/env bash
# The decisions of scripts/setup.sh, against stand-in apt-get, dpkg and
# dpkg-query commands first on PATH that record what they are asked and
# answer as each case scripts them: a mirror whose index fails, packages
# that cannot be installed, a host with or without 32-bit programs.
# Prints one line per case and exits non-zero when any failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/bin"
# Scripted by files in $STANDIN: installed (one package a line), arches
# (foreign architectures), update-failures (a count, or "always"), broken
# (packages whose install fails); every call is appended to calls.
cat > "$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "apt-get $*" >> "$STANDIN/calls"
if [ "$1" = update ] || [ "${*: -1}" = update ]; then
  n=$(cat "$STANDIN/update-failures" 2>/dev/null || echo 0)
  [ "$n" = 0 ] && exit 0
  [ "$n" = always ] || echo $((n - 1)) > "$STANDIN/update-failures"
  echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
  exit 100
fi
simulate= packages=()
for a in "$@"; do
  case "$a" in
    -s) simulate=1 ;;
    -*|install) ;;
    *) packages+=("$a") ;;
  esac
done
for p in "${packages[@]}"; do
  if grep -qxF "$p" "$STANDIN/broken" 2>/dev/null; then
    echo "The following packages have unmet dependencies:"
    echo " $p : Depends: zlib1g:i386 (>= 1:1.2.3.3) but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100
  fi
done
[ -n "$simulate" ] || printf '%s\n' "${packages[@]}" >> "$STANDIN/installed"
EOF
cat > "$work/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
echo "dpkg $*" >> "$STANDIN/calls"
case "$1" in
  --print-foreign-architectures) cat "$STANDIN/arches" 2>/dev/null ;;
  --add-architecture) echo "$2" >> "$STANDIN/arches" ;;
  --remove-architecture) sed -i "/^$2\$/d" "$STANDIN/arches" ;;
esac
EOF
cat > "$work/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
# -W -f=FORMAT PATTERN: only the two questions set-up asks.
pattern=${*: -1}
if [ "$pattern" = '*:i386' ]; then
  grep ':i386$' "$STANDIN/installed" 2>/dev/null
  exit 0
fi
grep -qxF "$pattern" "$STANDIN/installed" 2>/dev/null && { echo "install ok installed"; exit 0; }
echo "dpkg-query: no packages found matching $pattern" >&2
exit 1
EOF
chmod +x "$work/bin"/*

common="g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 xvfb xauth cmake ninja-build googletest pkgconf"

failures=0
# run NAME RUNS32 MODE SCRIPT CHECKS: sets up a fresh scene with SCRIPT,
# runs set-up, and evaluates CHECKS, each line a command that must succeed
# in the scene's folder; $out, $rc and $calls are theirs to read.
run() {
  local name=$1 runs32=$2 mode=$3 scene=$4 checks=$5
  export STANDIN=$work/$name
  mkdir -p "$STANDIN"
  : > "$STANDIN/calls"
  (cd "$STANDIN" && eval "$scene")
  out=$(PATH="$work/bin:$PATH" TOOLS_HOST_RUNS_32BIT=$runs32 TOOLS_APT_PAUSES="0 0" \
        TOOLS_STATE_DIR="$STANDIN/state" bash "$root/scripts/setup.sh" "$mode" 2>&1)
  rc=$?
  calls=$(cat "$STANDIN/calls")
  local check bad=
  while IFS= read -r check; do
    [ -n "$check" ] || continue
    if ! (cd "$STANDIN" && eval "$check"); then
      bad+="    failed: $check"$'\n'
    fi
  done <<<"$checks"
  if [ -n "$bad" ]; then
    failures=$((failures + 1))
    echo "FAIL setup: $name"
    printf '%s' "$bad"
    printf '    output:\n%s\n    calls:\n%s\n' "$(sed 's/^/      /' <<<"$out")" "$(sed 's/^/      /' <<<"$calls")"
  else
    echo "ok   setup: $name"
  fi
}
has() { grep -qxF "$1" "$STANDIN/installed" 2>/dev/null; }
asked() { grep -qE "$1" <<<"$calls"; }
updates() { grep -c 'apt-get.* update' <<<"$calls"; }

run update-fails-once no test 'echo 1 > update-failures' '
[ "$rc" -eq 0 ]
[ "$(updates)" -eq 2 ]
! grep -q "index still fails" <<<"$out"
has cmake && has debootstrap && has qemu-system-x86'

run update-always-fails no test 'echo always > update-failures' '
[ "$rc" -eq 0 ]
[ "$(updates)" -eq 3 ]
[ "$(grep -c "index still fails" <<<"$out")" -eq 1 ]
grep -q "after 3 tries an index still fails.*binary-i386/Packages.xz: File has unexpected size" <<<"$out"
has g++-mingw-w64-i686 && has wine64 && has debootstrap'

run no-32-bit-programs no test '' '
[ "$rc" -eq 0 ]
! asked "wine32"
! asked "add-architecture"
has debootstrap && has qemu-system-x86 && has wine64'

run no-32-bit-programs-example no example '' '
[ "$rc" -eq 0 ]
! has debootstrap && ! has qemu-system-x86
has wine64'

run wine32-installs yes test '' '
[ "$rc" -eq 0 ]
grep -qx i386 arches
has wine32:i386
! has debootstrap && ! has qemu-system-x86'

run wine32-broken yes test 'echo always > update-failures; echo wine32:i386 > broken' '
[ "$rc" -eq 0 ]
grep -q "cannot install wine32:i386 (wine32:i386 : Depends: zlib1g:i386" <<<"$out"
grep -q "the i686 tests run in a virtual machine" <<<"$out"
has debootstrap && has qemu-system-x86
! grep -qx i386 arches
TOOLS_HOST_RUNS_32BIT=yes TOOLS_WINE32_LOADER=/nonexistent TOOLS_STATE_DIR=state bash -c ". \"$root/scripts/host.sh\"; ! tk_i686_runs" | grep -q "32-bit Wine could not be installed (wine32:i386 : Depends: zlib1g:i386"'

run wine32-broken-remembered yes test 'mkdir state; echo "its reason" > state/wine32-failed; printf "%s\n" '"$common"' debootstrap qemu-system-x86 > installed' '
[ "$rc" -eq 0 ]
[ -z "$calls" ]
grep -q "not trying wine32:i386 again.*its reason" <<<"$out"'

run needed-package-broken no test 'echo cmake > broken' '
[ "$rc" -ne 0 ]
grep -q "cannot install cmake: cmake : Depends: zlib1g:i386" <<<"$out"
! grep -q "cannot install ninja-build" <<<"$out"'

run all-installed yes test 'printf "%s\n" '"$common"' wine32:i386 > installed' '
[ "$rc" -eq 0 ]
[ -z "$calls" ]
[ -z "$out" ]'

[ "$failures" -eq 0 ]
