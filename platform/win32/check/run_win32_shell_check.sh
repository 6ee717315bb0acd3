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

xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; }
trap cleanup EXIT
display=""
for n in $(seq 320 379); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "FAIL: no free display number"; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "FAIL: Xvfb did not start"; exit 1; }

bash tests/win32/test_win32_shell.sh build-win32 .
result=$?
# The prefix's server keeps its display connection a few seconds longer.
timeout 30 wineserver -w
exit $result
