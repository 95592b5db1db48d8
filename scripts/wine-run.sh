#!/usr/bin/env bash
# Runs a Windows program under Wine the way tests and the example expect:
# no Wine debug chatter, and no crash debugger waiting on a dialog when a
# child process is meant to die of a fault.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree=d;mshtml=d}
exec wine "$@"
