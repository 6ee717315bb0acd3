# lib_demo_web.sh - sourced by the end-to-end checks: starts the demo web
# (tests/testweb/testweb.py) on a free loopback port.
#
# start_demo_web: needs $src (the source tree), $work (a scratch folder) and
# a fail function; sets web_pid and port.  The server ends when file
# descriptor 7 closes, so it never outlives the check that started it (the
# check's clean-up closes 7 and kills web_pid).
start_demo_web() {
  mkfifo "$work/web.in"
  python3 "$src/tests/testweb/testweb.py" --port 0 --exit-on-stdin-eof \
    < "$work/web.in" > "$work/web.out" 2> "$work/web.err" &
  web_pid=$!
  exec 7> "$work/web.in"
  port=""
  for _ in $(seq 100); do
    port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$work/web.out")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || fail "demo web did not start: $(cat "$work/web.err")"
}
