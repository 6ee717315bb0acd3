#!/usr/bin/env bash
# idle_cpu.sh - how much CPU the real program takes while it sits idle and
# while it downloads, on a virtual X display of its own.
#
# Three cases, each run on a fresh list made with the list tool, the demo
# web (tests/testweb/testweb.py, streams at 1 MB/s) as the list's proxy so
# that the program goes online at once and no look-up leaves the machine:
#   empty      an empty list
#   finished   30 finished downloads listed (show finished on)
#   downloads  9 downloads running at 1 MB/s each (max downloads 9, 60 MB
#              streams, so none ends during the measurement)
# For each case the program is started, left alone with the pointer away
# from its window until it has settled (idle: 4 s; downloads: all nine
# Downloading, then 4 s more), and then its CPU time (user + system, from
# /proc/PID/stat) is read over SECONDS of wall time, as a share of one core.
# The X server's CPU over the same time is shown beside it: presenting the
# window costs the server too.
#
# Several programs can be compared: each LABEL=PROGRAM is run in turn on
# the same list in every case, so that figures set side by side were taken
# under the same load; with --repeat N the whole round is run N times and
# the median of each figure is given after every single one.  The
# machine's load (uptime) is printed at the start and the end.  Figures
# only; nothing passes or fails.
#
# Usage: bash bench/idle_cpu.sh [--build DIR] [--seconds N] [--repeat N]
#                               [--cases LIST] [LABEL=PROGRAM ...]
#   --build DIR     where quorvax-list (and the default program) are
#                   (default build/)
#   --seconds N     length of each measurement (default 20)
#   --repeat N      rounds (default 1)
#   --cases LIST    comma-separated subset of empty,finished,downloads
#   LABEL=PROGRAM   programs to measure (default: quorvax=DIR/quorvax)
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/lib_bench.sh"

build_dir="$here/../build"
seconds=20
repeat=1
cases="empty,finished,downloads"
programs=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build_dir="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --repeat) repeat="$2"; shift 2 ;;
    --cases) cases="$2"; shift 2 ;;
    *=*) programs+=("$1"); shift ;;
    *) die "usage: idle_cpu.sh [--build DIR] [--seconds N] [--repeat N] [--cases LIST] [LABEL=PROGRAM ...]" ;;
  esac
done
bench_begin "$here/.." "$build_dir"
[ ${#programs[@]} -eq 0 ] && programs=("quorvax=$build/quorvax")
for p in "${programs[@]}"; do [ -x "${p#*=}" ] || die "no program at ${p#*=}"; done
bench_need Xvfb xdotool python3

bench_start_display
start_bench_web --rate 1000000
park_pointer

echo "Quorvax CPU use, idle and busy: ${seconds} s per measurement, ${repeat} round(s), $(nproc) cores"
echo "at start: $(load_now)"

# The list of a case in folder $1 (the proxy is the demo web).
make_case_list() {
  local case="$1" folder="$2" i
  new_list "$folder"
  list_tool set "$folder/list.o" --proxy "127.0.0.1:$web_port" --use-proxy 1
  case "$case" in
    empty) ;;
    finished)
      list_tool set "$folder/list.o" --show-finished 1
      for i in $(seq 1 30); do
        local size=$(( 3000000 + i * 123457 ))
        list_tool add "$folder/list.o" --page "reelbox.test/watch/finished-$i" --site 0 \
          --state Finished --total "$size" --done "$size" --file "finished-$i.flv"
      done ;;
    downloads)
      list_tool set "$folder/list.o" --max 9
      for i in $(seq 1 9); do
        list_tool add "$folder/list.o" --page "reelbox.test/watch/busy-$i?size=60000000" --site 0
      done ;;
    *) die "unknown case $case" ;;
  esac
}

# Bytes in the download folder of folder $1.
downloaded_bytes() {
  local total=0 f
  for f in "$1"/downloads/*; do
    [ -f "$f" ] && total=$(( total + $(stat -c %s "$f") ))
  done
  echo "$total"
}

# One measurement: program $2 (labelled $1) on case $3.
measure() {
  local label="$1" program="$2" case="$3"
  local folder="$work/$case-$label"
  rm -rf "$folder"
  mkdir -p "$folder"
  cp "$work/$case-list.o" "$folder/list.o"
  mkdir -p "$folder/downloads"
  list_tool set "$folder/list.o" --folder "$folder/downloads"
  start_program "$program" "$folder"
  park_pointer
  if [ "$case" = downloads ]; then
    local begin
    begin=$(now_ms)
    until [ "$(items_in_state "$folder" Downloading)" = 9 ]; do
      [ "$(now_ms)" -ge $(( begin + 60000 )) ] &&
        die "$label: nine downloads not running within 60 s ($(items_in_state "$folder" Downloading) are)"
      sleep 0.5
    done
  fi
  sleep 4

  local bytes0 cpu0 x0 t0 bytes1 cpu1 x1 t1
  bytes0=$(downloaded_bytes "$folder")
  cpu0=$(cpu_ticks "$prog_pid")
  x0=$(cpu_ticks "$xvfb_pid")
  t0=$(now_ms)
  sleep "$seconds"
  cpu1=$(cpu_ticks "$prog_pid")
  x1=$(cpu_ticks "$xvfb_pid")
  t1=$(now_ms)
  bytes1=$(downloaded_bytes "$folder")
  local running=""
  [ "$case" = downloads ] && running=$(items_in_state "$folder" Downloading)
  stop_program

  local result="$case $label $(( cpu1 - cpu0 )) $(( x1 - x0 )) $(( t1 - t0 )) $(( bytes1 - bytes0 )) ${running:--}"
  echo "$result" >> "$work/results"
  report_line $result
  rm -rf "$folder"
}

# One line of figures: case label ticks x_ticks ms bytes running.
report_line() {
  python3 - "$clock_ticks_per_s" "$@" <<'PY'
import sys
hz = int(sys.argv[1])
case, label, ticks, xticks, ms, nbytes, running = sys.argv[2:9]
wall = int(ms) / 1000.0
cpu = int(ticks) / hz
line = "  %-10s %-9s program %6.2f%% of one core (%.2f s CPU in %.1f s), X server %5.2f%%" % (
    case, label, 100.0 * cpu / wall, cpu, wall, 100.0 * int(xticks) / hz / wall)
if case == "downloads":
    line += ", %.2f MB/s received, %s of 9 still downloading" % (int(nbytes) / wall / 1e6, running)
print(line)
PY
}

IFS=',' read -r -a case_list <<< "$cases"
for case in "${case_list[@]}"; do
  make_case_list "$case" "$work/$case-list"
  cp "$work/$case-list/list.o" "$work/$case-list.o"
done
: > "$work/results"
for round in $(seq 1 "$repeat"); do
  [ "$repeat" -gt 1 ] && echo "round $round ($(load_now))"
  for case in "${case_list[@]}"; do
    for p in "${programs[@]}"; do
      measure "${p%%=*}" "${p#*=}" "$case"
    done
  done
done
if [ "$repeat" -gt 1 ]; then
  echo "medians of $repeat rounds:"
  python3 - "$clock_ticks_per_s" "$work/results" <<'PY'
import statistics, sys
hz = int(sys.argv[1])
rows = [line.split() for line in open(sys.argv[2])]
seen = []
for r in rows:
    if (r[0], r[1]) not in seen:
        seen.append((r[0], r[1]))
for case, label in seen:
    mine = [r for r in rows if r[0] == case and r[1] == label]
    cpu = [100.0 * int(r[2]) / hz / (int(r[4]) / 1000.0) for r in mine]
    xs = [100.0 * int(r[3]) / hz / (int(r[4]) / 1000.0) for r in mine]
    print("  %-10s %-9s program %6.2f%% of one core (rounds: %s), X server %5.2f%%" % (
        case, label, statistics.median(cpu), " ".join("%.2f" % c for c in cpu), statistics.median(xs)))
PY
fi
echo "at end: $(load_now)"
