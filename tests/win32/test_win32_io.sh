#!/usr/bin/env bash
# The Windows I/O layer under Wine: runs win32_io_check.exe (files, share
# modes, 64-bit positions, names, paths, look-up bounds, sockets), looks at the names
# it made from the Linux side, and compares quorvax-list.exe with the Linux
# quorvax-list: the same commands must give the same exit status, the same
# output and a byte-identical list file.
#
# Usage: bash tests/win32/test_win32_io.sh BUILD_WIN32_DIR SOURCE_DIR [LINUX_LIST_TOOL]
#   BUILD_WIN32_DIR  the cross build (tools/build_win32.sh makes build-win32);
#                    win32_io_check.exe and quorvax-list.exe are built there
#   LINUX_LIST_TOOL  the Linux quorvax-list; by default the one of
#                    SOURCE_DIR/build-host-tools, built there
# Exit status: 0 passed, 77 skipped (no wine), anything else failed.
# Wine runs in $WINEPREFIX (the caller's choice; its default otherwise).
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_WIN32_DIR SOURCE_DIR [LINUX_LIST_TOOL]" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
source_dir=$(cd "$2" && pwd) || exit 2
linux_tool=${3:-$source_dir/build-host-tools/quorvax-list}

if ! command -v wine >/dev/null; then
  echo "SKIP: wine is not installed"
  exit 77
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine takes file names and arguments in the locale's character set: under
# the C locale every non-ASCII name fails.  The program's names are UTF-8.
export LC_ALL=C.UTF-8

# Brought up to date (nothing to do when they are).
cmake --build "$build" -j2 --target win32_io_check quorvax-list >/dev/null || exit 1
if [ -z "${3:-}" ] && [ -f "$source_dir/build-host-tools/CMakeCache.txt" ]; then
  cmake --build "$source_dir/build-host-tools" -j2 --target quorvax-list >/dev/null || exit 1
fi
if [ ! -x "$linux_tool" ]; then
  echo "FAIL: no Linux quorvax-list at $linux_tool" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvax-win32-io.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAIL $*"
  failed=1
}

# ---- the Windows program's own checks
mkdir "$work/check"
wine "$build/win32_io_check.exe" "$(winepath -w "$work/check")" "$(winepath -w "$build/quorvax-list.exe")" \
  >"$work/check.out" 2>"$work/check.err"
rc=$?
cat "$work/check.out"
if [ $rc -ne 0 ]; then
  fail "win32_io_check.exe exited with $rc"
  sed 's/^/  stderr: /' "$work/check.err"
fi

# The names it made, as Linux sees them: the same UTF-8 characters.
cafe=$(printf 'Caf\xc3\xa9 Society 123.flv')
[ "$(cat "$work/check/$cafe" 2>/dev/null)" = cafe ] || fail "no file named '$cafe' with its bytes"
wide=$(printf '\xe6\x97\xa5\xe6\x9c\xac \xce\xa9 \xf0\x9f\x8e\xac.flv')
[ -f "$work/check/$wide" ] || fail "no file named '$wide'"
if grep -q '^     ANSI code page 1252$' "$work/check.out"; then
  ansi=$(printf 'ansi-caf\xc3\xa9')
  [ -f "$work/check/$ansi/in-ansi.flv" ] || fail "the folder named in code page 1252 is not '$ansi'"
fi
# The positioned writes past 4 GiB ended in a truncate to nothing.
[ -f "$work/check/big.bin" ] && [ ! -s "$work/check/big.bin" ] || fail "big.bin is not empty"

# ---- quorvax-list.exe against the Linux quorvax-list
mkdir "$work/linux" "$work/windows"
folder_1=$(printf '/tmp/Caf\xc3\xa9 clips')
folder_2=$(printf 'D:\\Vid\xc3\xa9os\\Zo\xc3\xab \xd0\x92\xd0\xb8\xd0\xb4\xd0\xb5\xd0\xbe')
page_2=$(printf 'http://x/\xe6\x97\xa5\xe6\x9c\xac?q="a b"')
stream_2=$(printf 'http://s/\xf0\x9f\x8e\xac')
long_folder=$(printf 'f%.0s' $(seq 1 496))
step=0
# Runs one command with both tools in their own folders; the exit status,
# standard output and standard error must match.
both() {
  step=$((step + 1))
  (cd "$work/linux" && "$linux_tool" "$@" >"../l$step.out" 2>"../l$step.err"; echo $? >"../l$step.rc")
  (cd "$work/windows" && wine "$build/quorvax-list.exe" "$@" >"../w$step.out" 2>"../w$step.err"
   echo $? >"../w$step.rc")
  local name
  for name in rc out err; do
    cmp -s "$work/l$step.$name" "$work/w$step.$name" ||
      fail "quorvax-list $* gives another $name on Windows:" \
        "$(diff <(od -c "$work/l$step.$name") <(od -c "$work/w$step.$name") | head -8)"
  done
}
both init list.o --folder "$folder_1"
both init list.o
both init list.o --force --folder "$folder_2"
both set list.o --max 3 --proxy 127.0.0.1:8080 --use-proxy 1 --show-finished 1 --auto-remove 1 \
  --pos -40,1200
both add list.o --page http://www.example.com/watch?v=1 --site 3 --file "$cafe" \
  --state Downloading --total 4000000000 --done 123
both add list.o --page "$page_2" --site=25 --stream "$stream_2" --state 9
both add list.o --page p --site 26
both add missing.o --page p --site 1
both set list.o
both set list.o --folder "$long_folder"
both set list.o --folder "$folder_1"
both show list.o
both show list.o --json
both frobnicate list.o
both --help
cmp "$work/linux/list.o" "$work/windows/list.o" || fail "the list files differ"
[ "$(cat "$work/l6.out")" = "added item 1" ] || fail "the comparison did not add both items"
echo "compared $step quorvax-list commands with the Linux tool"

if [ $failed -ne 0 ]; then
  echo "test_win32_io: FAILED"
  exit 1
fi
echo "test_win32_io: passed"
exit 0
