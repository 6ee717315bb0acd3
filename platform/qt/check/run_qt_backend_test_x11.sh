#!/bin/bash
# Runs the Qt backend checks on a virtual X server (Xvfb, no window
# manager) through Qt's xcb platform, where focus, the pointer grab and the
# server's button state are real; the offscreen run cannot show those.
#   run_qt_backend_test_x11.sh QT_BACKEND_TEST [gtest options]
# Exits 77 (skipped) when no Xvfb is installed.
set -uo pipefail
test_binary="$1"
shift
command -v Xvfb >/dev/null 2>&1 || { echo "no Xvfb: skipped"; exit 77; }
xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; }
trap cleanup EXIT

display=""
for n in $(seq 200 259); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "FAIL: no free display number"; exit 1; }
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || { echo "FAIL: Xvfb did not start"; exit 1; }
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb
"$test_binary" "$@"
