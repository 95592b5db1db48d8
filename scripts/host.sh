# Sourced by the scripts that decide what this host can do: whether its
# kernel starts 32-bit programs, and so where the i686 programs run.

# Succeeds where the kernel starts 32-bit x86 programs. Some kernels have
# their 32-bit emulation switched off; nothing but the attempt tells, and
# it must not need Wine, which is installed only where it succeeds. The
# attempt is a 96-byte 32-bit Linux program that exits with 42.
# TOOLS_HOST_RUNS_32BIT=yes or no stands in for the answer (set-up's tests).
tk_host_runs_32bit() {
  case "${TOOLS_HOST_RUNS_32BIT:-}" in
    yes) return 0 ;;
    no) return 1 ;;
  esac
  local probe rc=0
  probe=$(mktemp) || return 1
  # ELF header, one loadable segment at 0x08048000, then the code at 0x54:
  # mov eax, 1 (exit); mov ebx, 42; int 0x80.
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0' > "$probe"
  printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\140\0\0\0\140\0\0\0\5\0\0\0\0\20\0\0' >> "$probe"
  printf '\270\1\0\0\0\273\52\0\0\0\315\200' >> "$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  [ "$rc" -eq 42 ]
}

# Where the i686 programs run: succeeds where they run on this host;
# otherwise prints why not, for the line that says they run in the
# virtual machine (or, for the example, that it runs its x86_64 build).
tk_i686_runs() {
  local loader=${TOOLS_WINE32_LOADER:-/usr/lib/wine/wine} out failed
  if ! tk_host_runs_32bit; then
    echo "this host cannot start 32-bit programs"
    return 1
  fi
  if [ ! -x "$loader" ]; then
    failed=${TOOLS_STATE_DIR:-$HOME/.cache/tools}/wine32-failed
    if [ -f "$failed" ]; then
      echo "this host starts 32-bit programs, but 32-bit Wine could not be installed ($(cat "$failed"))"
    else
      echo "this host starts 32-bit programs, but 32-bit Wine is not installed"
    fi
    return 1
  fi
  if out=$("$loader" --version 2>&1); then
    return 0
  fi
  echo "the 32-bit Wine loader does not start: $(printf '%s\n' "$out" | tail -n 1)"
  return 1
}
