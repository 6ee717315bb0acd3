#!/usr/bin/env bash
# The Windows backend's desktop side under Wine: runs win32_shell_check.exe
# (the skin and icons read back from the executable, the clipboard, a
# program started with one argument, a second process asking the first to
# show itself), then puts text on the X clipboard with xclip and checks
# that the backend reads it, through Wine's bridge, as the same UTF-8.
#
# Usage: bash tests/win32/test_win32_shell.sh BUILD_WIN32_DIR SOURCE_DIR
#   win32_shell_check.exe is built in BUILD_WIN32_DIR when missing.
# Needs DISPLAY (an X server for Wine's windows and clipboard); Wine runs
# in $WINEPREFIX.  Exit status: 0 passed, 77 skipped, anything else failed.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_WIN32_DIR SOURCE_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
source_dir=$(cd "$2" && pwd) || exit 2
command -v wine >/dev/null || { echo "SKIP: wine is not installed"; exit 77; }
[ -n "${DISPLAY:-}" ] || { echo "SKIP: no X display"; exit 77; }
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

check="$build/win32_shell_check.exe"
if [ ! -f "$check" ]; then
  (cd "$source_dir" && bash tools/build_win32.sh win32_shell_check >/dev/null) ||
    { echo "FAIL: win32_shell_check.exe could not be built"; exit 1; }
  [ -f "$check" ] || { echo "FAIL: no $check (tools/build_win32.sh builds into build-win32)"; exit 1; }
fi

failed=0
timeout 300 wine "$check" || failed=1

# The X clipboard as Wine hands it over: text with letters beyond ASCII
# and a character outside the basic plane.
if command -v xclip >/dev/null; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  text='http://x.test/watch?v=Grüße-☃-𝄞'
  # -quiet keeps xclip in the foreground, so that it can be ended here.
  printf '%s' "$text" | xclip -quiet -selection clipboard >/dev/null 2>&1 &
  xclip_pid=$!
  sleep 0.5
  timeout 60 wine "$check" --clipboard "$(winepath -w "$work/read.txt" 2>/dev/null)"
  kill "$xclip_pid" 2>/dev/null
  wait "$xclip_pid" 2>/dev/null
  if [ "$(cat "$work/read.txt" 2>/dev/null)" = "$(printf '1\n%s' "$text")" ]; then
    echo "[    OK] the X clipboard's text reads back as the same UTF-8"
  else
    echo "[FAILED] the X clipboard's text: got '$(cat "$work/read.txt" 2>/dev/null)', want '1' and '$text'"
    failed=1
  fi
else
  echo "(no xclip: the X clipboard is not checked)"
fi
exit "$failed"
