#!/usr/bin/env bash
# The offline demo, `bash tools/run.sh --demo`, as a person starts it: on a
# virtual X display of this check's own, with a private HOME and data folder
# holding a list of the "user's" own, and with the programs already built
# (QUORVAX_NO_BUILD: a rebuild here would relink binaries under the tests
# that ctest runs beside this one).  The script runs in a session of its
# own, so that whatever it starts can be found afterwards.
#
# First run: the demo folder left from an earlier demo is wiped; the fresh
# list has the demo web as its proxy and downloads into the demo folder;
# the demo web answers a printed address through that proxy; the window
# shows; a printed address copied with xclip lights the capture button, a
# click adds it, and it is analysed and downloaded slowly through the demo
# web; the quit button ends the program, the script ends with 0 and the
# demo web's port no longer answers, no process of the demo is left.
# Second run: the list starts empty again; SIGTERM to the script ends the
# program and the demo web just the same.  After both, the user's own list
# is the same byte for byte and nothing was made in the user's folders.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
source "$2/tests/scripts/lib_e2e.sh"
e2e_begin "$1" "$2"
run_pid=""
out=""
# The demo script leads its own session and process group: stopping the
# group reaches the program and the demo web it started; then the shared
# clean-up ends the display (and with it xclip's servers).
demo_cleanup() {
  if [ -n "$run_pid" ]; then
    kill -TERM -- "-$run_pid" 2>/dev/null
    sleep 0.5
    kill -KILL -- "-$run_pid" 2>/dev/null
  fi
  e2e_cleanup
}
trap demo_cleanup EXIT
e2e_evidence() { [ -n "$out" ] && [ -f "$out" ] && { echo "--- the demo script said:"; cat "$out"; }; }

# Hang bounds, each far above what a normal run takes (noted beside it).
start_bound_s=20      # the demo web and the list are ready within a second
window_bound_s=30     # the window shows within about a second
online_bound_s=20     # the probe answers about 2.5 s after start
state_bound_s=20      # the page is fetched and the stream begins within a second
screen_bound_s=5      # the window is repainted every 50 ms
exit_bound_s=30       # the program and the demo web end within a second

e2e_need Xvfb xdotool xclip import convert compare curl setsid flock
e2e_start_display
unset QUORVAX_PROXY QUORVAX_DOWNLOADS

# --- a private user: their own list, and what an earlier demo left behind
export HOME="$work/home"
export XDG_DATA_HOME="$work/data"
mkdir -p "$HOME"
own="$XDG_DATA_HOME/quorvax/list.o"
demo="$XDG_DATA_HOME/quorvax-demo"
mkdir -p "$(dirname "$own")" "$demo/downloads"
"$build/quorvax-list" init "$own" --folder "$work/own-downloads" >/dev/null || fail "own list init"
"$build/quorvax-list" set "$own" --max 2 --proxy 127.0.0.1:9 --use-proxy 1 --pos 40,50 >/dev/null ||
  fail "own list set"
"$build/quorvax-list" add "$own" --page tubeon.test/watch/mine --site 1 >/dev/null || fail "own list add"
cp "$own" "$work/own.before"
echo "left over" > "$demo/leftover.txt"
echo "old video" > "$demo/downloads/old.flv"

# The list the shared list_says reads: the demo's.
list="$demo/list.o"

# The capture button's looks, as skin pieces (display/skin_layout.h: source
# corner and size), and where the buttons are (display/window_layout.h).
piece offered 61 421 52 53
capture_x=30 capture_y=29
quit_x=275 quit_y=9
capture_offered() { shows offered 4 3; }

# Starts the demo script in a session of its own (setsid execs it in place:
# a background job of a script leads no process group, so no fork) and
# waits for what it prints: the demo web's port and the addresses.
start_demo() {
  out="$work/run$1.out"
  QUORVAX_NO_BUILD=1 QUORVAX_BUILD_DIR="$build" setsid bash "$src/tools/run.sh" --demo > "$out" 2>&1 &
  run_pid=$!
  port="" addresses=()
  ready() {
    port=$(sed -n 's/.*answers on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$out")
    mapfile -t addresses < <(sed -n 's/^  \([a-z0-9]*\.test\/[^ ]*\)$/\1/p' "$out")
    [ -n "$port" ] && [ "${#addresses[@]}" -ge 3 ]
  }
  wait_until "$start_bound_s" "demo web port and addresses printed" ready
  [ "$(ps -o sid= -p "$run_pid" | tr -d ' ')" = "$run_pid" ] || fail "the demo script leads no session of its own"
  begin=$(now_ms)
  until win=$(xdotool search --name '^Quorvax 1\.0$' 2>/dev/null | head -n1); [ -n "$win" ]; do
    kill -0 "$run_pid" 2>/dev/null || fail "the demo ended before the window showed"
    [ "$(now_ms)" -ge $(( begin + window_bound_s * 1000 )) ] &&
      fail "no window within ${window_bound_s} s (waited $(( $(now_ms) - begin )) ms)"
    sleep 0.1
  done
  xwininfo -id "$win" | grep -q 'Map State: IsViewable' || fail "window $win is not viewable"
  echo "  window $win after $(( $(now_ms) - begin )) ms"
}

# Waits for the demo script to end by itself and checks its exit code, then
# that the demo web's port is closed and that nothing of its session is left.
demo_ended() {
  local want_rc="$1"
  wait_for_exit "$run_pid" "$exit_bound_s" "demo script"
  [ "$exit_code" -eq "$want_rc" ] || fail "exit code $exit_code, expected $want_rc"
  curl -s -o /dev/null --max-time 5 "http://127.0.0.1:$port/echo" &&
    fail "the demo web still answers on port $port"
  left=$(ps -e -o pid=,sid=,args= | awk -v s="$run_pid" '$2 == s')
  [ -z "$left" ] || fail "processes of the demo left: $left"
  run_pid=""
}

# ---- first run: a fresh demo, an address captured, ended by the quit button
echo "first run"
start_demo 1
[ ! -e "$demo/leftover.txt" ] && [ ! -e "$demo/downloads/old.flv" ] ||
  fail "the demo folder was not wiped: $(ls -R "$demo")"
list_says "(d['item_count'] == 0 and d['use_proxy'] == 1 and d['proxy_address'] == '127.0.0.1'
  and d['proxy_port'] == $port and d['download_folder'] == '$demo/downloads')" ||
  fail "the demo list is not set up for the demo web"

# The demo web answers a printed address as a proxy does: the page of the
# video, its title naming the site.
page="${addresses[1]}"
site="${page%%/*}"
curl -s --max-time 10 -o "$work/page.html" -x "http://127.0.0.1:$port" "http://$page" ||
  fail "curl could not fetch $page through the demo web"
grep -q "<title>[^<]*$site" "$work/page.html" || fail "no page of $site: $(head -c 300 "$work/page.html")"

size=$(sed -n 's/.*[?&]size=\([0-9]*\).*/\1/p' <<< "$page")
[ -n "$size" ] || fail "no size in the printed address $page"
# The pointer away from the window, which stands at the screen's top left
# corner, so that the button shows its offered look, not its hover look.
xdotool mousemove 900 700
copy "$page"
wait_until "$online_bound_s" "capture button lit once online" capture_offered
xdotool mousemove --window "$win" "$capture_x" "$capture_y" click 1
wait_until "$state_bound_s" "item in the demo list" \
  list_says "d['item_count'] == 1 and items[0]['pageAddress'] == '$page'"
# Analysed through the proxy (the size is the page's) and downloading at the
# demo rate: some bytes saved, far from all (the demo web sends 200 kB/s).
wait_until "$state_bound_s" "downloading through the demo web" \
  list_says "items[0]['stateName'] == 'Downloading' and items[0]['totalSize'] == $size"
file_grows() {
  local f
  f=$(find "$demo/downloads" -type f -size +0 | head -n1)
  [ -n "$f" ] && [ "$(stat -c %s "$f")" -lt "$size" ]
}
wait_until "$state_bound_s" "file growing in the demo's downloads folder" file_grows

xdotool mousemove --window "$win" "$quit_x" "$quit_y" click 1
demo_ended 0

# ---- second run: the list starts empty again; SIGTERM to the script
echo "second run"
start_demo 2
list_says "d['item_count'] == 0 and d['proxy_port'] == $port" ||
  fail "the second demo did not start from a fresh list"
[ -z "$(ls -A "$demo/downloads")" ] || fail "the first demo's downloads are still there: $(ls "$demo/downloads")"
# Moved, so that the program's own shut-down shows in the list: it saves
# the position it has seen (a program killed outright saves nothing).
xdotool windowmove "$win" 300 200
moved() { xdotool getwindowgeometry "$win" | grep -q 'Position: 300,200 '; }
wait_until "$screen_bound_s" "window moved to 300,200" moved
sleep 0.5
kill -TERM "$run_pid"
demo_ended 143
list_says "d['item_count'] == 0 and d['window_x'] == 300 and d['window_y'] == 200" ||
  fail "the program did not shut down through its own shut-down (position not saved)"

# ---- the user's own list and folders untouched
cmp -s "$own" "$work/own.before" || fail "the user's own list changed"
[ ! -e "$HOME/Downloads" ] || fail "the demo made $HOME/Downloads"
[ ! -e "$work/own-downloads" ] || fail "the demo made the user's download folder"
pass
