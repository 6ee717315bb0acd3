#!/usr/bin/env bash
# start_time.sh - the real program's start-up time to its shown window, and
# its memory once started, with an empty list and with 100,000 items.
#
# On a virtual X display of its own, quorvax_start_bench (bench/
# start_bench.cpp) starts the program in the folder of a list and takes the
# time from the exec to the server's MapNotify of the program's window, then
# reads VmRSS and VmHWM from /proc after SETTLE seconds.  Each list is
# started RUNS times; the median and every run are printed.
#
# The lists are made with the list tool: an empty one, and one of 100,000
# stopped downloads (a stopped download is listed and never started by the
# engine), each with a size and a done count.  The big list (120 MB) takes a
# few minutes to make and is kept as BUILD_DIR/bench-lists/list-100000.o for
# the next run.  Both lists point their proxy at a loopback port on which
# nothing listens, so that the connectivity probe asks nothing of the
# outside world.
#
# Usage: bash bench/start_time.sh [BUILD_DIR] [RUNS] [SETTLE_S]
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/lib_bench.sh"
bench_begin "$here/.." "${1:-$here/../build}"
runs="${2:-5}"
settle="${3:-3}"
bench_need Xvfb python3
cmake --build "$build" --target quorvax quorvax-list quorvax_start_bench -j2 > /dev/null ||
  die "building quorvax, quorvax-list and quorvax_start_bench"

big_count=100000
big="$build/bench-lists/list-$big_count.o"
big_size=$(( 656 + 1204 * big_count ))
if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" != "$big_size" ]; then
  echo "making the list of $big_count items (kept as $big)..."
  mkdir -p "$build/bench-lists"
  list_tool init "$big.part" --force
  for i in $(seq 1 "$big_count"); do
    "$build/quorvax-list" add "$big.part" --page "reelbox.test/watch/clip-$i" --site 0 --state Stopped \
      --total $(( 1000000 + i )) --done $(( i * 7 )) > /dev/null || die "adding item $i"
  done
  mv "$big.part" "$big"
fi

bench_start_display
closed_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

echo "Quorvax start-up: exec to the window mapped, memory after ${settle} s, ${runs} runs per list"
echo "at start: $(load_now)"

# One list: the name, the list file to copy.
measure_list() {
  local name="$1" list="$2" k folder line
  local times=() rss=() hwm=()
  for k in $(seq 1 "$runs"); do
    folder="$work/$name-$k"
    mkdir -p "$folder/downloads"
    cp "$list" "$folder/list.o"
    list_tool set "$folder/list.o" --folder "$folder/downloads" --pos 100,100 \
      --proxy "127.0.0.1:$closed_port" --use-proxy 1 --max 0
    line=$("$build/quorvax_start_bench" "$build/quorvax" "$folder" "$settle") || die "$name: run $k failed"
    times+=("$(sed -n 's/.*window_ms=\([0-9]*\).*/\1/p' <<< "$line")")
    rss+=("$(sed -n 's/.*rss_kb=\([0-9]*\).*/\1/p' <<< "$line")")
    hwm+=("$(sed -n 's/.*hwm_kb=\([0-9]*\).*/\1/p' <<< "$line")")
    rm -rf "$folder"
  done
  python3 - "$name" "${times[*]}" "${rss[*]}" "${hwm[*]}" <<'PY'
import statistics, sys
name, times, rss, hwm = sys.argv[1], *[list(map(int, a.split())) for a in sys.argv[2:5]]
print("  %-14s window after %5.0f ms (median; runs: %s ms)" % (name, statistics.median(times), " ".join(map(str, times))))
print("  %-14s VmRSS %6.1f MB, VmHWM %6.1f MB (medians)" % ("", statistics.median(rss) / 1024, statistics.median(hwm) / 1024))
PY
}

empty="$work/empty.o"
list_tool init "$empty" --force
measure_list "empty list" "$empty"
measure_list "$big_count items" "$big"
echo "at end: $(load_now)"
