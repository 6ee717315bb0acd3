#!/usr/bin/env bash
# Installs what is needed, builds the program and the list tool, and starts
# Quorvax.
#
# Usage: bash tools/run.sh           the program on your own list
#        bash tools/run.sh --demo    the offline demo
#
# The program keeps all its state in list.o in its working folder and never
# creates that file: this script gives it a per-user data folder and makes
# an empty list there on first use.  Without a display it starts a virtual
# one (Xvfb) and tells how to look at the window.
#
# --demo needs no internet.  It wipes and recreates a folder of its own
# (quorvax-demo beside the user's data folder), makes a fresh list there
# that downloads into its downloads/ folder, starts the demo web
# (tests/testweb/testweb.py) on a free loopback port with every stream
# slowed so that progress can be watched, and sets it as the list's proxy:
# the demo sites' names resolve nowhere, so every request, the connectivity
# probe's included, goes through it.  It prints addresses to copy and runs
# the program in that folder.  When the program ends, however it ends (its
# quit button, Ctrl+C here, SIGTERM to this script), the demo web and any
# virtual display the script started are stopped.  The user's own list is
# never opened.
#
# QUORVAX_NO_BUILD=1 installs and builds nothing and runs the programs
# already built in QUORVAX_BUILD_DIR (default build/).  The suite's check of
# the demo uses it: ctest runs tests side by side in build/, and a rebuild
# there would relink binaries that other tests are running.
set -euo pipefail
if [ -n "${QUORVAX_BUILD_DIR:-}" ]; then
  QUORVAX_BUILD_DIR="$(cd "$QUORVAX_BUILD_DIR" && pwd)"
fi
cd "$(dirname "$0")/.."
src="$(pwd)"

demo=0
case "${1:-}" in
  "") ;;
  --demo) demo=1 ;;
  *) echo "usage: bash tools/run.sh [--demo]" >&2; exit 2 ;;
esac

if [ "${QUORVAX_NO_BUILD:-0}" = 1 ]; then
  build="${QUORVAX_BUILD_DIR:-$src/build}"
  for p in quorvax quorvax-list; do
    [ -x "$build/$p" ] || { echo "run.sh: no $build/$p (QUORVAX_NO_BUILD=1 builds nothing)" >&2; exit 1; }
  done
else
  bash tools/setup.sh
  # Only what running needs; tools/test.sh builds the tests and benchmarks.
  bash tools/build.sh quorvax quorvax-list
  build="$src/build"
fi

# ---- [OWN LIST]

if [ "$demo" = 0 ]; then
  data="${XDG_DATA_HOME:-$HOME/.local/share}/quorvax"
  folder="${QUORVAX_DOWNLOADS:-$HOME/Downloads/Quorvax}"
  mkdir -p "$data" "$(dirname "$folder")"
  if [ ! -f "$data/list.o" ]; then
    "$build/quorvax-list" init "$data/list.o" --folder "$folder"
    echo "Created $data/list.o (downloads go to $folder)"
  fi

  # QUORVAX_PROXY=host:port points the program at a proxy (the demo web).
  if [ -n "${QUORVAX_PROXY:-}" ]; then
    "$build/quorvax-list" set "$data/list.o" --proxy "$QUORVAX_PROXY" --use-proxy 1 >/dev/null
  fi

  own_display=""
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export DISPLAY=:77
    if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
      Xvfb "$DISPLAY" -screen 0 1280x800x24 -noreset >/dev/null 2>&1 &
      own_display=$!
      sleep 1
    fi
    echo "No display found: started a virtual one at $DISPLAY."
    echo "Look at the window with:  DISPLAY=$DISPLAY import -window root quorvax.png"
    echo "Offer an address with:    echo -n reelbox.test/watch/demo | DISPLAY=$DISPLAY xclip -selection clipboard"
  fi

  cd "$data"
  [ -z "$own_display" ] && exec "$build/quorvax"
  # The virtual display started here ends with the program.
  "$build/quorvax"
  code=$?
  kill "$own_display" 2>/dev/null
  wait "$own_display" 2>/dev/null
  exit "$code"
fi

# ---- [DEMO]

data="${XDG_DATA_HOME:-$HOME/.local/share}/quorvax-demo"
# Bytes per second for each stream: the three addresses below take about
# 25, 40 and 55 seconds, running side by side.  Their sites name the file
# after the page's title ("Demo clip harbour-lights: a day at tubeon.test").
rate=200000
addresses=(
  "tubeon.test/watch/harbour-lights?size=5000000"
  "vidora.test/watch/mountain-rain?size=8000000"
  "streamhall.test/watch/night-train?size=11000000"
)

web_pid=""
xvfb_pid=""
prog_pid=""
# Stops what the demo started, in the order that lets the program save its
# list: the program first (its own shut-down on SIGTERM, killed after ten
# seconds), then the demo web, then the virtual display.
stop_demo() {
  set +e
  if [ -n "$prog_pid" ]; then
    kill -TERM "$prog_pid" 2>/dev/null
    for _ in $(seq 100); do
      kill -0 "$prog_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$prog_pid" 2>/dev/null
    wait "$prog_pid" 2>/dev/null
  fi
  # The demo web also ends by itself once descriptor 7 closes, so it never
  # outlives this script, even one killed without a chance to clean up.
  exec 7>&- 2>/dev/null
  if [ -n "$web_pid" ]; then
    kill "$web_pid" 2>/dev/null
    wait "$web_pid" 2>/dev/null
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -f "$data/web.in" "$data/display.ready"
}
trap stop_demo EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

# A demo already running holds its list (the program locks list.o): wiping
# the folder under it would pull its files away.
if [ -f "$data/list.o" ] && ! flock -n "$data/list.o" true 2>/dev/null; then
  echo "run.sh: a demo is already running on $data/list.o" >&2
  exit 1
fi
rm -rf "$data"
mkdir -p "$data/downloads"

# --- the demo web on a free loopback port; it ends when descriptor 7 closes
mkfifo "$data/web.in"
python3 "$src/tests/testweb/testweb.py" --port 0 --rate "$rate" --exit-on-stdin-eof \
  < "$data/web.in" > "$data/web.out" 2> "$data/web.log" &
web_pid=$!
exec 7> "$data/web.in"
rm -f "$data/web.in"
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$data/web.out")
  [ -n "$port" ] && break
  kill -0 "$web_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "run.sh: the demo web did not start: $(cat "$data/web.log")" >&2
  exit 1
fi

# --- the demo's list: three downloads at once, finished ones kept in view
"$build/quorvax-list" init "$data/list.o" --folder "$data/downloads" >/dev/null
"$build/quorvax-list" set "$data/list.o" --max 3 --show-finished 1 \
  --proxy "127.0.0.1:$port" --use-proxy 1 >/dev/null

# --- a virtual display of the demo's own when there is none: the first
# free number from 77 on, ready once Xvfb writes its number to descriptor 8
own_display=""
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  source "$src/tools/lib_display.sh"
  if ! start_virtual_display 77 44 "$data/display.ready"; then
    echo "run.sh: no display, and no virtual one could be started" >&2
    exit 1
  fi
  rm -f "$data/display.ready"
  xvfb_pid="$virtual_display_pid"
  own_display="$virtual_display"
  export DISPLAY="$own_display"
fi

cat <<EOF

Quorvax demo: the demo web answers on 127.0.0.1:$port as the program's proxy,
every video slowed to $(( rate / 1000 )) kB/s.  Its list and downloads are in
  $data
(wiped at the next demo start; your own list is not touched).

Copy one of these addresses: the capture button lights up, click it.
EOF
for a in "${addresses[@]}"; do echo "  $a"; done
if [ -n "$own_display" ]; then
  cat <<EOF

No display found: the window is on a virtual one at $own_display.
Copy an address with:    echo -n '${addresses[0]}' | DISPLAY=$own_display xclip -selection clipboard
Look at the window with: DISPLAY=$own_display import -window root quorvax.png
EOF
fi
cat <<EOF

The demo ends with the program (its quit button, or Ctrl+C here).

EOF

# --- the program, in the demo folder; this script waits for it so that the
# trap can stop the rest however it ends
(cd "$data" && exec "$build/quorvax") 7>&- &
prog_pid=$!
rc=0
wait "$prog_pid" || rc=$?
prog_pid=""
exit "$rc"
