#!/usr/bin/env bash
# One download (or --count at once) over plain http and over https, for the
# code as it was and as it is in this tree, side by side in one run
# (quorvax_bench --tls).
#
# "before" is another commit's tree (default: where this branch left main)
# with this tree's bench put in: the program's code and its platform layer,
# the TLS connections included, are that commit's; the bench only starts
# the program's core, aims one item at its stream and steps the engine,
# which every version does alike.  Both are built without Qt.  The rounds
# alternate, before then after, so that a change in the machine's load hits
# both alike.  Prints figures; passes or fails nothing.
#
# Arguments: [--before REF] [--rounds N] [--size MB] [--count N] [--build DIR]
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
before_ref=""
rounds=3
size=200
count=1
build="$src/build-tls-speed"
while [ $# -gt 0 ]; do
  case "$1" in
    --before) before_ref="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --count) count="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    *) echo "usage: $0 [--before REF] [--rounds N] [--size MB] [--count N] [--build DIR]" >&2; exit 2 ;;
  esac
done
command -v curl >/dev/null || apt-get install -y curl
[ -n "$before_ref" ] || before_ref=$(git -C "$src" merge-base HEAD main)
before_commit=$(git -C "$src" rev-parse --verify "$before_ref^{commit}")

. "$src/bench/lib_before_after.sh"
build_before_after "$src" "$build" "$before_commit" quorvax_bench bench

: > "$build/before.txt"
: > "$build/after.txt"
for round in $(seq 1 "$rounds"); do
  for which in before after; do
    echo "round $round, $which (load: $(cut -d' ' -f1-3 /proc/loadavg)) ..."
    "$build/$which/quorvax_bench" --tls --size "$size" --count "$count" | grep -E '^  (engine|curl) ' >> "$build/$which.txt"
  done
done

# Per case and build: the medians of the rounds' MB/s, CPU seconds per
# 100 MB (client, server) and, for the engine, its median step time.
summary() {   # FILE CASE
  local rows column out=""
  rows=$(grep -E "^  $2 " "$1" | awk '{
    step = "-"
    if (match($0, /step median [0-9]+/)) step = substr($0, RSTART + 12, RLENGTH - 12)
    print $4, $5, $6, step }')
  for column in 1 2 3 4; do
    out="$out $(echo "$rows" | cut -d' ' -f$column | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}')"
  done
  set -- $out
  printf '%8s MB/s %6s / %-6s %6s' "$1" "$2" "$3" "$4"
}
echo
echo "$count download(s) of $size MB over loopback, median of $rounds rounds:"
echo "MB/s in all, CPU s per 100 MB client / server, engine step median in us"
printf '%-14s %-42s %-42s\n' case before after
for c in "engine http" "engine https" "curl http" "curl https"; do
  printf '%-14s %-42s %-42s\n' "$c" "$(summary "$build/before.txt" "$c")" "$(summary "$build/after.txt" "$c")"
done
echo
echo "every round:"
for which in before after; do
  echo "$which:"
  cat "$build/$which.txt"
done
