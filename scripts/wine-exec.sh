#!/usr/bin/env bash
# Runs a Windows program under Wine in $WINEPREFIX (set by the test run), with Wine's
# own diagnostics silenced. Used by ctest as the cross-compiling emulator.
export WINEDEBUG=${WINEDEBUG:--all}
# The display of the test run's prefix, when each prefix has its own.
display_variable=BRINDLEX_DISPLAY_$(basename "${WINEPREFIX:-none}")
[ -n "${!display_variable:-}" ] && export DISPLAY=${!display_variable}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$@"
