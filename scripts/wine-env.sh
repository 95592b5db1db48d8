# Sourced by every script that runs Windows programs: one Wine set-up for
# tests, the example and the benchmarks.

# No Wine debug chatter; no crash debugger waiting on a dialog when a child
# process is meant to die of a fault; no offer to install the .NET or HTML
# runtimes when a fresh prefix is made.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree=d;mshtml=d}
# A prefix of our own, made by the 64-bit loader: it runs 64-bit programs and,
# where the host can, 32-bit ones too. A prefix that an older 32-bit-only
# Wine made could not run 64-bit programs at all.
export WINEPREFIX=${WINEPREFIX:-$HOME/.local/share/tools-wine}

# The loader of a target. Debian's `wine` wrapper starts the 32-bit loader
# whenever it is installed, even for a 64-bit program, so each target names
# its own.
tk_wine_loader() {
  case "$1" in
    i686) echo /usr/lib/wine/wine ;;
    x86_64) echo /usr/lib/wine/wine64 ;;
    *) echo "unknown target '$1'" >&2; return 1 ;;
  esac
}
