# lib_display.sh - sourced by tools/run.sh, the end-to-end checks and the
# Windows check runners: starts a virtual X display (Xvfb) of the caller's
# own.
#
# start_virtual_display FIRST TRIES READY_FILE takes the first free display
# number from FIRST on (TRIES numbers in all; a number another server takes
# meanwhile is passed over), ready once Xvfb writes its number to
# descriptor 8.  Sets virtual_display (":n") and virtual_display_pid, or
# returns 1 when no display could be started.
start_virtual_display() {
  local n="$1" tries="$2" ready="$3" pid
  virtual_display=""
  virtual_display_pid=""
  for _ in $(seq "$tries"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      : > "$ready"
      Xvfb ":$n" -displayfd 8 -screen 0 1280x800x24 -nolisten tcp -noreset \
        8> "$ready" > /dev/null 2>&1 &
      pid=$!
      for _ in $(seq 100); do
        [ -s "$ready" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
      done
      if [ -s "$ready" ] && kill -0 "$pid" 2>/dev/null; then
        virtual_display=":$n"
        virtual_display_pid="$pid"
        return 0
      fi
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
    n=$(( n + 1 ))
  done
  return 1
}

# use_own_display FIRST TRIES: a display for the rest of the calling script,
# as start_virtual_display picks it, exported as DISPLAY and stopped (its
# ready file removed) when the script exits.  Returns 1 when none started.
use_own_display() {
  own_display_ready=$(mktemp)
  trap 'kill "$virtual_display_pid" 2>/dev/null && wait "$virtual_display_pid" 2>/dev/null; rm -f "$own_display_ready"' EXIT
  start_virtual_display "$1" "$2" "$own_display_ready" || return 1
  export DISPLAY="$virtual_display"
}
