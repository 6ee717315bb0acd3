#!/bin/bash
# Runs the desktop-side checks of the Windows backend
# (tests/win32/test_win32_shell.sh) under Wine on a virtual X server of
# their own (Xvfb, no window manager).
#   bash platform/win32/check/run_win32_shell_check.sh
# The Wine prefix is $WINEPREFIX (Wine's default when unset).  Exits 77
# (skipped) when Wine or Xvfb is missing.
set -uo pipefail
cd "$(dirname "$0")/../../.."
command -v wine >/dev/null 2>&1 || { echo "no wine: skipped"; exit 77; }
command -v Xvfb >/dev/null 2>&1 || { echo "no Xvfb: skipped"; exit 77; }
bash tools/build_win32.sh win32_shell_check >/dev/null || { echo "FAIL: build"; exit 1; }

. tools/lib_display.sh
use_own_display 320 60 || { echo "FAIL: Xvfb did not start"; exit 1; }

bash tests/win32/test_win32_shell.sh build-win32 .
result=$?
# The prefix's server keeps its display connection a few seconds longer.
timeout 30 wineserver -w
exit $result
