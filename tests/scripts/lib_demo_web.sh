# lib_demo_web.sh - sourced by the end-to-end checks: starts the demo web
# (tests/testweb/testweb.py) on a free loopback port.
#
# start_demo_web [NAME [OPTION...]]: needs $src (the source tree), $work (a
# scratch folder) and a fail function.  NAME (default "web") names the
# server's files in $work, so that a check can run several; the options go
# to the server (--log FILE, --rate B).  Sets web_pid and port.  The server
# ends when its input pipe closes, which the check's shell holds open, so
# it never outlives the check that started it; a check that sourced
# lib_e2e.sh also has it ended by the clean-up.
start_demo_web() {
  local name="${1:-web}" fd
  [ $# -gt 0 ] && shift
  mkfifo "$work/$name.in"
  python3 "$src/tests/testweb/testweb.py" --port 0 --exit-on-stdin-eof "$@" \
    < "$work/$name.in" > "$work/$name.out" 2> "$work/$name.err" &
  web_pid=$!
  exec {fd}> "$work/$name.in"
  declare -F e2e_track >/dev/null && e2e_track "$web_pid"
  port=""
  for _ in $(seq 100); do
    port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$work/$name.out")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || fail "demo web $name did not start: $(cat "$work/$name.err")"
}

# Whether the demo web whose --log is $1 has received a request whose first
# line holds $2 and, when $3 is given, whose header lines hold $3 (the log
# holds each raw request after its 4-byte length).
web_log_has() {
  [ -f "$1" ] || return 1
  python3 - "$@" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
line = sys.argv[2].encode("latin-1")
header = sys.argv[3].encode("latin-1") if len(sys.argv) > 3 else b""
at = 0
while at + 4 <= len(data):
    (length,) = struct.unpack_from("<I", data, at)
    request = data[at + 4:at + 4 + length]
    at += 4 + length
    first, _, rest = request.partition(b"\r\n")
    if line in first and header in rest:
        sys.exit(0)
sys.exit(1)
PY
}

# The request lines of such a log, one a line, for a failure report.
web_log_lines() {
  [ -f "$1" ] || { echo "  (no request)"; return 0; }
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = 0
while at + 4 <= len(data):
    (length,) = struct.unpack_from("<I", data, at)
    print("  " + data[at + 4:at + 4 + length].split(b"\r\n", 1)[0].decode("latin-1"))
    at += 4 + length
PY
}
