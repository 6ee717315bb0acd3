#!/bin/bash
# Cross-builds the Windows backend's desktop checks and runs them under Wine
# on a virtual X server of their own (Wine needs a display for windows and
# the clipboard).
#   bash platform/win32/check/run_win32_shell_check.sh
# WINEPREFIX is used when set, else a fresh prefix in a temporary folder.
# Exits 77 (skipped) when Wine, Xvfb or the mingw-w64 compiler is missing.
set -uo pipefail
cd "$(dirname "$0")/../../.."
for tool in wine Xvfb xdpyinfo i686-w64-mingw32-g++; do
  command -v "$tool" >/dev/null 2>&1 || { echo "no $tool: skipped"; exit 77; }
done
bash tools/build_win32.sh win32_shell_check >/dev/null || { echo "FAIL: the cross build failed"; exit 1; }

xvfb_pid=""
scratch=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  if [ -n "$scratch" ]; then
    wineserver -k 2>/dev/null
    rm -rf "$scratch"
  fi
}
trap cleanup EXIT
if [ -z "${WINEPREFIX:-}" ]; then
  scratch=$(mktemp -d)
  export WINEPREFIX="$scratch/prefix"
fi
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG="${WINEDEBUG:--all}"

display=""
for n in $(seq 200 259); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "FAIL: no free display number"; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "FAIL: Xvfb did not start"; exit 1; }
timeout 300 wine build-win32/win32_shell_check.exe
