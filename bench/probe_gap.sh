#!/usr/bin/env bash
# The longest gap between two timer messages behind a dead proxy, for the
# code as it was and as it is in this tree, side by side in one run.
#
# "before" is another commit's tree (default: the last one whose probe and
# downloads still waited for their connects)
# with this tree's bench and platform layer put in: the program's own code
# (app, engine, web, ui, ...) is that commit's, while the bench calls only
# start-up, the per-message step, the engine step and shut-down, which every
# version has, and the platform layer (the real POSIX sockets; the test
# backend's window and a clock that follows the system's) only grew.
# Both are built without Qt; the runs take 5 x SECONDS each, one after the
# other (never at the same time, so that they do not slow each other).
# Prints figures; passes or fails nothing.
#
# Arguments: [--before REF] [--seconds N] [--build DIR]
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
before_ref=""
seconds=20
build="$src/build-probe-gap"
while [ $# -gt 0 ]; do
  case "$1" in
    --before) before_ref="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    *) echo "usage: $0 [--before REF] [--seconds N] [--build DIR]" >&2; exit 2 ;;
  esac
done
# The default "before" is the last commit whose probe and downloads still
# connected with a waiting connect.
if [ -z "$before_ref" ]; then
  before_ref=dc467ac
fi
before_commit=$(git -C "$src" rev-parse --verify "$before_ref^{commit}")

# before: the commit's files, with this tree's bench and platform layer
. "$src/bench/lib_before_after.sh"
build_before_after "$src" "$build" "$before_commit" quorvax_probe_gap \
  bench platform

echo "running before, 5 x ${seconds} s ..."
"$build/before/quorvax_probe_gap" "$seconds" > "$build/before.txt"
echo "running after, 5 x ${seconds} s ..."
"$build/after/quorvax_probe_gap" "$seconds" > "$build/after.txt"

echo
echo "Gaps between timer messages (25 ms timer), ${seconds} s per scenario; each column: before | after"
printf '%-30s %19s %19s %19s %19s %19s %19s\n' scenario "max gap ms" "p99 gap ms" "gaps over 100 ms" \
  "ms in those gaps" "probes failed" "timer messages"
LC_ALL=C join <(LC_ALL=C sort "$build/before.txt") <(LC_ALL=C sort "$build/after.txt") | while read -r name b_max b_p99 b_n b_ms b_probes b_steps a_max a_p99 a_n a_ms a_probes a_steps; do
  printf '%-30s' "$name"
  for pair in "$b_max $a_max" "$b_p99 $a_p99" "$b_n $a_n" "$b_ms $a_ms" "$b_probes $a_probes" "$b_steps $a_steps"; do
    set -- $pair
    printf ' %8s | %-8s' "$1" "$2"
  done
  printf '\n'
done
