#!/bin/bash
# Runs the window-side checks of the Windows backend under Wine on a
# virtual X server of its own (Xvfb, no window manager).
#   run_win32_window_check.sh [build-win32/win32_window_check.exe]
# Builds the check first when no program is named.  The Wine prefix is
# $WINEPREFIX (Wine's default when unset).  Exits 77 (skipped) when Wine or
# Xvfb is missing.
set -uo pipefail
cd "$(dirname "$0")/../../.."
command -v wine >/dev/null 2>&1 || { echo "no wine: skipped"; exit 77; }
command -v Xvfb >/dev/null 2>&1 || { echo "no Xvfb: skipped"; exit 77; }
check="${1:-}"
if [ -z "$check" ]; then
  bash tools/build_win32.sh win32_window_check >/dev/null || { echo "FAIL: build"; exit 1; }
  check=build-win32/win32_window_check.exe
fi

. tools/lib_display.sh
use_own_display 260 60 || { echo "FAIL: Xvfb did not start"; exit 1; }

export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG="${WINEDEBUG:--all}"
# On a terminal Wine gives the program a console, which the Ctrl+C check
# needs; script(1) provides one, and Wine's cursor codes are taken out of
# what it prints.
if command -v script >/dev/null 2>&1; then
  timeout 300 script -qec "wine '$check'" /dev/null |
    sed -e 's/\x1b\[[0-9]*C/ /g' -e 's/\x1b\[[0-9;?]*[a-zA-Z]//g' -e 's/\r//g'
  result=${PIPESTATUS[0]}
else
  timeout 300 wine "$check"
  result=$?
fi
# The prefix's server keeps its display connection a few seconds longer.
timeout 30 wineserver -w
exit $result
