# lib_bench.sh - sourced by the benchmark scripts that run the real program:
# a scratch folder cleaned up on every way out, a virtual X display of the
# script's own, lists made with the list tool, the demo web, starting the
# program in a folder and waiting for its window, and the CPU time and
# memory of a process as /proc tells them.
#
# bench_begin SOURCE_DIR BUILD_DIR sets src, build and work and arms the
# clean-up, which ends every process registered with bench_track (newest
# first, the display last) and removes the scratch folder.
#
# Sections: [RUN] [DISPLAY] [LISTS AND WEB] [PROGRAM] [PROC]

# ------------------------------------------------------------------ [RUN]

# The scratch folder, its clean-up on every way out, bounded waits, the
# display and the demo web are the end-to-end checks' own.
source "$(dirname "${BASH_SOURCE[0]}")/../tests/scripts/lib_e2e.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../tests/scripts/lib_demo_web.sh"

bench_begin() { e2e_begin "$2" "$1"; }
bench_track() { e2e_track "$1"; }

die() { fail "bench: $*"; }

bench_need() {
  local tool
  for tool in "$@"; do command -v "$tool" >/dev/null || die "$tool is needed"; done
  [ -x "$build/quorvax-list" ] || die "no list tool at $build/quorvax-list (build it first)"
}

# The machine's load as uptime gives it, for the report.
load_now() { uptime | sed 's/.*load average/load average/'; }

# -------------------------------------------------------------- [DISPLAY]

# A display of the script's own (the checks' one); xvfb_pid is its server.
bench_start_display() {
  e2e_start_display
  xvfb_pid="$virtual_display_pid"
}

# -------------------------------------------------------- [LISTS AND WEB]

# list_tool ARGS...: the list tool, quietly.
list_tool() { "$build/quorvax-list" "$@" > /dev/null || die "quorvax-list $*"; }

# A fresh list in folder $1 (made if missing) downloading into $1/downloads,
# its window at 100,100.
new_list() {
  mkdir -p "$1/downloads"
  list_tool init "$1/list.o" --folder "$1/downloads" --force
  list_tool set "$1/list.o" --pos 100,100
}

# The demo web on a free loopback port with the options given (--rate B);
# sets web_port.
start_bench_web() {
  start_demo_web web "$@"
  web_port="$port"
}

# How many items of the list in folder $1 are in state $2 (the program
# writes each state change to its list, which the list tool reads while
# the program runs).
items_in_state() {
  "$build/quorvax-list" show "$1/list.o" --json 2>/dev/null |
    python3 -c 'import json,sys; print(sum(1 for i in json.load(sys.stdin)["items"] if i["stateName"] == sys.argv[1]))' "$2" \
    2>/dev/null || echo 0
}

# ------------------------------------------------------------- [PROGRAM]

# Starts program $1 in folder $2 (where its list.o is) and waits for its
# window to be mapped; sets prog_pid and win.
start_program() {
  local program="$1" folder="$2" begin
  (cd "$folder" && exec "$program") > "$folder/program.log" 2>&1 &
  prog_pid=$!
  bench_track "$prog_pid"
  begin=$(now_ms)
  until win=$(xdotool search --onlyvisible --name '^Quorvax 1\.0$' 2>/dev/null | head -n1); [ -n "$win" ]; do
    kill -0 "$prog_pid" 2>/dev/null || die "$program ended before showing its window: $(tail -n 5 "$folder/program.log")"
    [ "$(now_ms)" -ge $(( begin + 60000 )) ] && die "no window from $program within 60 s"
    sleep 0.05
  done
}

# Ends the program started last (SIGTERM posts its quit message) and waits
# for it.
stop_program() {
  kill "$prog_pid" 2>/dev/null
  local n
  for n in $(seq 100); do
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$prog_pid" 2>/dev/null
  wait "$prog_pid" 2>/dev/null
  prog_pid=""
}

# The pointer away from the window (at 100,100, 288x417), so that no look
# is a hover look.
park_pointer() { xdotool mousemove 20 20; }

# ----------------------------------------------------------------- [PROC]

# User plus system CPU time of process $1 in clock ticks (fields 14 and 15
# of /proc/PID/stat, counted after the command name, which may hold
# spaces).
cpu_ticks() {
  local rest
  rest=$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
  set -- $rest
  echo $(( ${12} + ${13} ))
}

clock_ticks_per_s=$(getconf CLK_TCK)

# A line of /proc/$1/status (VmRSS, VmHWM) in kB.
proc_status_kb() { sed -n "s/^$2:[[:space:]]*\([0-9]*\) kB/\1/p" "/proc/$1/status"; }
