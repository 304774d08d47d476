#!/usr/bin/env bash
# Runs a Windows program under Wine in $WINEPREFIX (set by the test run), with Wine's
# own diagnostics silenced. Used by ctest as the cross-compiling emulator.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
