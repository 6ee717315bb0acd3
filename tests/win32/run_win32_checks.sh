#!/usr/bin/env bash
# Runs the Windows checks under Wine: the I/O layer's check
# (tests/win32/test_win32_io.sh), the window side's check
# (platform/win32/check/), the shell side's (tests/win32/test_win32_shell.sh,
# on this script's display), TLS with Schannel (tests/win32/test_win32_tls.sh),
# the program end to end (tests/win32/test_win32_e2e.sh) and the unit tests
# cross-built for Windows (quorvax_tests.exe, run directly).  Wine gets a
# fresh prefix of its own under BUILD_WIN32_DIR, made once here and timed,
# and a virtual X display; Mono and Gecko are never installed into it.
# Prints what ran and how it ended, and fails when a check fails (a check
# that exits 77 is reported as skipped).
#
# Usage: run_win32_checks.sh BUILD_WIN32_DIR SOURCE_DIR [LINUX_BUILD_DIR [TESTS_BUILD_DIR]]
# LINUX_BUILD_DIR holds the Linux list tool (quorvax-list), TESTS_BUILD_DIR
# the unit tests (default: build-win32-tests beside BUILD_WIN32_DIR).
set -uo pipefail

[ $# -ge 2 ] || { echo "usage: $0 BUILD_WIN32_DIR SOURCE_DIR [LINUX_BUILD_DIR [TESTS_BUILD_DIR]]" >&2; exit 2; }
build_win32="$(cd "$1" && pwd)" || exit 2
src="$(cd "$2" && pwd)" || exit 2
linux_build=""
if [ -n "${3:-}" ]; then linux_build="$(cd "$3" && pwd)" || exit 2; fi
tests_build="$(dirname "$build_win32")/build-win32-tests"
if [ -n "${4:-}" ]; then tests_build="$(cd "$4" && pwd)" || exit 2; fi
check_bound_s=900

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
seconds() { printf '%d.%d s' $(( $1 / 1000 )) $(( $1 % 1000 / 100 )); }

for tool in wine wineboot wineserver Xvfb; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (bash tools/setup.sh --windows)"; exit 1; }
done

export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEPREFIX="$build_win32/wineprefix"
export WINEARCH=win32
# Wine turns file names and arguments into Unix ones in the locale's
# character set: under the C locale no non-ASCII name could be made.
export LC_ALL=C.UTF-8

checks_begin=$(now_ms)
display_pid=""
cleanup() {
  wineserver -k 2>/dev/null
  [ -n "$display_pid" ] && kill "$display_pid" 2>/dev/null
  rm -f "$build_win32/display.ready"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

. "$src/tools/lib_display.sh"
start_virtual_display 64 40 "$build_win32/display.ready" ||
  { echo "FAIL: no virtual display could be started"; exit 1; }
display_pid="$virtual_display_pid"
export DISPLAY="$virtual_display"
echo "virtual display $DISPLAY"

# A fresh prefix, so that nothing of an earlier run (registry, files in
# its drive C:) changes what the checks see.
rm -rf "$WINEPREFIX"
begin=$(now_ms)
if ! wineboot -i > "$build_win32/wineboot.log" 2>&1; then
  echo "FAIL: wineboot -i could not make the prefix:"; tail -n 20 "$build_win32/wineboot.log"; exit 1
fi
wineserver -w
echo "Wine prefix $WINEPREFIX made in $(seconds $(( $(now_ms) - begin ))) ($(wine --version))"

passed=0 failed=0 skipped=0
failures=()

# run_check [--persistent] NAME COMMAND...: runs one check with its output
# indented, bounded in time; the prefix's processes are ended before the
# next.  --persistent keeps Wine's server up for the whole check, for checks
# that run Wine commands one after another: a server ends a few seconds
# after its last process, and one that is ending just as the next command
# connects fails that command ("recvmsg: Connection reset by peer").  Checks
# that end or wait for the server themselves run without it.
run_check() {
  local persistent=0 name rc begin
  [ "$1" = --persistent ] && { persistent=1; shift; }
  name="$1"
  shift
  echo "== $name"
  begin=$(now_ms)
  [ "$persistent" = 1 ] && wineserver -p
  # The output goes to a file, not a pipe: a helper a check leaves behind
  # (xclip serving the clipboard) would hold a pipe open after the check.
  local log="$build_win32/check.log"
  if declare -F "$1" >/dev/null; then
    "$@" > "$log" 2>&1
  else
    timeout -k 10 "$check_bound_s" "$@" > "$log" 2>&1
  fi
  rc=$?
  sed 's/^/   /' "$log"
  wineserver -k 2>/dev/null
  timeout 60 wineserver -w 2>/dev/null
  local took
  took=$(seconds $(( $(now_ms) - begin )))
  case "$rc" in
    0) passed=$(( passed + 1 )); echo "== $name: passed ($took)" ;;
    77) skipped=$(( skipped + 1 )); echo "== $name: skipped ($took)" ;;
    124) failed=$(( failed + 1 )); failures+=("$name"); echo "== $name: FAILED, still running after $check_bound_s s" ;;
    *) failed=$(( failed + 1 )); failures+=("$name"); echo "== $name: FAILED with exit code $rc ($took)" ;;
  esac
}

# The unit tests: a test program that did not build is a failure, not a
# skip, since tools/build_win32.sh --tests runs before this.
run_unit_tests() {
  local exe="$tests_build/quorvax_tests.exe"
  [ -f "$exe" ] || { echo "no unit tests at $exe"; return 1; }
  (cd "$tests_build" && timeout -k 10 "$check_bound_s" wine "$exe" --gtest_color=no --gtest_brief=1) \
    > "$tests_build/unit-tests.log" 2>&1
  local rc=$?
  grep -v '^\[       OK \]' "$tests_build/unit-tests.log" | tail -n 40
  return $rc
}

linux_list_tool=""
[ -n "$linux_build" ] && linux_list_tool="$linux_build/quorvax-list"
run_check --persistent "Windows I/O layer and list tool (test_win32_io)" \
  bash "$src/tests/win32/test_win32_io.sh" "$build_win32" "$src" $linux_list_tool
run_check "window side (win32_window_check.exe)" \
  bash "$src/platform/win32/check/run_win32_window_check.sh" "$build_win32/win32_window_check.exe"
run_check --persistent "shell side (test_win32_shell)" \
  bash "$src/tests/win32/test_win32_shell.sh" "$build_win32" "$src"
run_check "TLS with Schannel (test_win32_tls)" \
  bash "$src/tests/win32/test_win32_tls.sh" "$build_win32" "$src"
run_check "the program end to end (test_win32_e2e)" \
  bash "$src/tests/win32/test_win32_e2e.sh" "$build_win32" "$src" "$linux_build"
run_check "unit tests (quorvax_tests.exe)" run_unit_tests

echo "Windows checks took $(seconds $(( $(now_ms) - checks_begin )))"
echo "Windows checks: $passed passed, $failed failed, $skipped skipped"
for name in "${failures[@]}"; do echo "  failed: $name"; done
[ "$failed" -eq 0 ]
