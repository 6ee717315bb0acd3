#!/usr/bin/env bash
# The real program used as a person uses it, on a virtual X display of its
# own, with the demo web on loopback as its proxy (which also answers the
# connectivity probe).  The clipboard is xclip's, the pointer xdotool's; what
# the window shows is read from screenshots and compared with the skin
# picture, what the program keeps is read from the list file.
#
# One run: an address copied with its scheme lights the capture button; a
# click adds it (the scheme dropped), empties the clipboard, and the item is
# queued with its size (the list allows no download at once, so it stays
# queued until started by hand); the item menu's start entry downloads it
# byte for byte as the demo web serves it; copying the address again and
# clicking shows the already-listed note and adds nothing; the menu's remove
# entry takes the item out of the list file; the hide button hides the
# window, which stays hidden while nothing is offered and comes back, without
# the focus, for a newly copied address; dragged by its title strip and
# ended by the quit button, the program exits with 0 and its new position
# saved.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
build="$(cd "$1" && pwd)"
src="$(cd "$2" && pwd)"
work="$(mktemp -d)"
xvfb_pid=""
web_pid=""
prog_pid=""
cleanup() {
  [ -n "$prog_pid" ] && kill "$prog_pid" 2>/dev/null
  [ -n "$web_pid" ] && kill "$web_pid" 2>/dev/null
  exec 7>&- 2>/dev/null
  # xclip's servers end with the display.
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# A test killed from outside (ctest's time-out) cleans up as well.
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP
fail() {
  echo "FAIL: $*"
  [ -f "$work/list.json" ] && { echo "list file:"; cat "$work/list.json"; echo; }
  [ -f "$work/program.log" ] && tail -n 20 "$work/program.log"
  exit 1
}
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
started_ms=$(now_ms)

# Hang bounds, each far above what a normal run takes (noted beside it);
# every wait fails with what it waited for and how long.
window_bound_s=30     # the window shows within about a second
online_bound_s=20     # the probe answers about 2.5 s after start
state_bound_s=20      # list changes follow a click within a second
download_bound_s=30   # 3 MB over loopback: well under a second
screen_bound_s=5      # the window is repainted every 50 ms
exit_bound_s=30

# Runs "$@" every 0.1 s until it succeeds or bound_s seconds have passed by
# the clock, however slow each try is.
wait_until() {
  local bound_s="$1" what="$2"
  shift 2
  local begin deadline
  begin=$(now_ms)
  deadline=$(( begin + bound_s * 1000 ))
  until "$@"; do
    [ "$(now_ms)" -ge "$deadline" ] &&
      fail "$what: not within ${bound_s} s (waited $(( $(now_ms) - begin )) ms)"
    sleep 0.1
  done
  echo "  $what ($(( $(now_ms) - begin )) ms)"
}

for tool in Xvfb xdotool xclip xwininfo import convert compare curl; do
  command -v "$tool" >/dev/null || fail "$tool is needed"
done
[ -x "$build/quorvax" ] || fail "no program at $build/quorvax"
[ -x "$build/quorvax-list" ] || fail "no list tool at $build/quorvax-list"

# --- a display of our own: the first free one from a number of this run's
# own, retried when another server took it first
n=$(( 300 + $$ % 200 ))
display=""
for _ in $(seq 20); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    : > "$work/display.ready"
    Xvfb ":$n" -displayfd 8 -screen 0 1280x800x24 -nolisten tcp -noreset \
      8> "$work/display.ready" > /dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
      [ -s "$work/display.ready" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.05
    done
    if [ -s "$work/display.ready" ] && kill -0 "$xvfb_pid" 2>/dev/null; then display=":$n"; break; fi
    kill "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
  fi
  n=$(( n + 1 ))
done
[ -n "$display" ] || fail "no virtual display could be started"
export DISPLAY="$display"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# --- the demo web on a free loopback port; it ends when fd 7 closes
. "$src/tests/scripts/lib_demo_web.sh"
start_demo_web

# --- the list: no download at once (a captured item stays queued until
# started by hand), finished items listed, the window at a known place
list="$work/list.o"
"$build/quorvax-list" init "$list" --folder "$work/downloads" >/dev/null || fail "list init"
"$build/quorvax-list" set "$list" --max 0 --show-finished 1 --proxy "127.0.0.1:$port" \
  --use-proxy 1 --pos 200,150 >/dev/null || fail "list set"

# The list file as the list tool reads it, tested with a Python expression
# over d (the whole file) and items.
list_says() {
  "$build/quorvax-list" show "$list" --json > "$work/list.json" 2>/dev/null || return 1
  python3 - "$work/list.json" "$1" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
items = d["items"]
sys.exit(0 if eval(sys.argv[2]) else 1)
PY
}

# --- the window's looks, as skin pieces (display/skin_layout.h: source
# corner and size)
skin="$src/resources/skin.png"
piece() {   # name sx sy w h
  convert "$skin" -crop "$4x$5+$2+$3" +repage "$work/piece-$1.png" || fail "cutting $1 from the skin"
}
piece capture-offered 61 421 52 53
piece capture-plain 4 3 52 53
piece duplicate-note 360 248 96 18
piece menu 291 327 70 78
piece menu-start 291 406 70 16
piece menu-remove 291 436 70 16
win=""
# Whether the window shows piece $1 with its top-left corner at ($2, $3).
shows() {
  import -window "$win" "$work/window.png" 2>/dev/null || return 1
  local size
  size=$(identify -format '%wx%h' "$work/piece-$1.png")
  convert "$work/window.png" -crop "$size+$2+$3" +repage "$work/seen.png" || return 1
  [ "$(compare -metric AE "$work/seen.png" "$work/piece-$1.png" null: 2>&1)" = "0" ]
}
shown() { [ -n "$(xdotool search --onlyvisible --name '^Quorvax 1\.0$' 2>/dev/null)" ]; }
hidden() { ! shown && xwininfo -id "$win" | grep -q 'Map State: IsUnMapped'; }
clipboard_empty() { [ -z "$(xclip -o -selection clipboard 2>/dev/null)" ]; }
copy() { printf "%s" "$1" | xclip -selection clipboard 2>/dev/null || fail "xclip could not copy"; }
# A left click at the window's client point.
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
# The pointer away from the window, so that no look is a hover look.
park() { xdotool mousemove 20 20; }

# Where things are in the window (display/window_layout.h): the capture
# button's centre, the hide and quit buttons, the first row, the item menu
# opened at that row with its entries 17 pixels apart, and the spot the
# already-listed note shows at (8 right of and 2 above the click).
capture_x=30 capture_y=29
hide_x=260 hide_y=9
quit_x=275 quit_y=9
row_x=100 row_y=67
menu_x=$row_x menu_y=$row_y
start_entry_y=$(( menu_y + 8 ))
remove_entry_y=$(( menu_y + 2 * 17 + 6 ))
note_x=$(( capture_x + 8 )) note_y=$(( capture_y - 2 ))

# --- the program
(cd "$work" && exec "$build/quorvax") > "$work/program.log" 2>&1 &
prog_pid=$!
begin=$(now_ms)
until win=$(xdotool search --name '^Quorvax 1\.0$' 2>/dev/null | head -n1); [ -n "$win" ]; do
  kill -0 "$prog_pid" 2>/dev/null || fail "the program ended before showing its window"
  [ "$(now_ms)" -ge $(( begin + window_bound_s * 1000 )) ] &&
    fail "no window within ${window_bound_s} s (waited $(( $(now_ms) - begin )) ms)"
  sleep 0.1
done
echo "window $win after $(( $(now_ms) - begin )) ms"
park

# --- an address copied with its scheme: the button lights, a click adds it
page="reelbox.test/watch/sunrise?size=3000000"
copy "http://$page"
wait_until "$online_bound_s" "capture button lit once online" shows capture-offered 4 3
click "$capture_x" "$capture_y"
wait_until "$state_bound_s" "item in the list file, without the scheme" \
  list_says "d['item_count'] == 1 and d['records_in_file'] == 1 and items[0]['pageAddress'] == '$page'"
wait_until "$screen_bound_s" "clipboard emptied by the capture" clipboard_empty
wait_until "$state_bound_s" "item queued with its size" \
  list_says "items[0]['stateName'] == 'Queued' and items[0]['totalSize'] == 3000000"
park
wait_until "$screen_bound_s" "capture button plain again" shows capture-plain 4 3

# --- the item menu's start entry downloads it, byte for byte
xdotool mousemove --window "$win" "$row_x" "$row_y" click 3
wait_until "$screen_bound_s" "item menu open at the row" shows menu "$menu_x" "$menu_y"
xdotool mousemove --window "$win" $(( menu_x + 30 )) "$start_entry_y"
wait_until "$screen_bound_s" "start entry lit" shows menu-start "$menu_x" "$menu_y"
xdotool click 1
wait_until "$download_bound_s" "download finished" \
  list_says "items[0]['stateName'] == 'Finished' and items[0]['doneSize'] == 3000000"
name=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["items"][0]["fileName"])' "$work/list.json")
stream=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["items"][0]["streamAddress"])' "$work/list.json")
[ -n "$name" ] && [ -f "$work/downloads/$name" ] || fail "no downloaded file '$name' in $work/downloads"
curl -s --max-time 30 -o "$work/reference" -x "http://127.0.0.1:$port" "http://${stream#http://}" ||
  fail "curl could not fetch $stream through the demo web"
[ "$(stat -c %s "$work/reference")" -eq 3000000 ] || fail "reference copy of $(stat -c %s "$work/reference") bytes"
cmp -s "$work/downloads/$name" "$work/reference" ||
  fail "downloaded file differs from the demo web's stream: $(cmp "$work/downloads/$name" "$work/reference" 2>&1)"
echo "  file '$name' holds the stream's 3000000 bytes"

# --- the same address again: the note, and nothing added
park
copy "http://$page"
wait_until "$screen_bound_s" "capture button lit for the listed address" shows capture-offered 4 3
click "$capture_x" "$capture_y"
wait_until "$screen_bound_s" "already-listed note" shows duplicate-note "$note_x" "$note_y"
list_says "d['item_count'] == 1 and d['records_in_file'] == 1" || fail "the duplicate was added"

# --- the menu's remove entry takes the item out of the list file
xdotool mousemove --window "$win" "$row_x" "$row_y" click 3
wait_until "$screen_bound_s" "item menu open at the row" shows menu "$menu_x" "$menu_y"
xdotool mousemove --window "$win" $(( menu_x + 30 )) "$remove_entry_y"
wait_until "$screen_bound_s" "remove entry lit" shows menu-remove "$menu_x" $(( menu_y + 30 ))
xdotool click 1
wait_until "$state_bound_s" "item removed from the list file" \
  list_says "d['item_count'] == 0 and d['records_in_file'] == 0"

# --- the hide button hides the window; it stays hidden while nothing is
# on offer, and a newly copied address brings it back without the focus
clipboard_empty || fail "the clipboard holds '$(xclip -o -selection clipboard 2>/dev/null)' before hiding"
click "$hide_x" "$hide_y"
wait_until "$screen_bound_s" "window hidden" hidden
sleep 1
hidden || fail "the window came back with nothing on offer"
copy "tubeon.test/watch/evening"
wait_until "$online_bound_s" "window back for a new address" shown
focus=$(xdotool getwindowfocus 2>/dev/null)
[ "$focus" != "$win" ] || fail "the window took the focus when it came back"
park
wait_until "$screen_bound_s" "capture button lit for the new address" shows capture-offered 4 3

# --- dragged by its title strip, then the quit button: exit code 0, the
# new position saved
xdotool mousemove --window "$win" 150 10 mousedown 1
sleep 0.2
xdotool mousemove 400 250
sleep 0.2
xdotool mousemove 450 300
sleep 0.3
xdotool mouseup 1
moved() { xdotool getwindowgeometry "$win" | grep -q 'Position: 300,290 '; }
wait_until "$screen_bound_s" "window dragged to 300,290" moved
sleep 0.3
click "$quit_x" "$quit_y"
begin=$(now_ms)
while kill -0 "$prog_pid" 2>/dev/null; do
  [ "$(now_ms)" -ge $(( begin + exit_bound_s * 1000 )) ] &&
    fail "program still running ${exit_bound_s} s after the quit button (waited $(( $(now_ms) - begin )) ms)"
  sleep 0.1
done
wait "$prog_pid"
rc=$?
prog_pid=""
echo "  program ended after $(( $(now_ms) - begin )) ms with exit code $rc"
[ "$rc" -eq 0 ] || fail "exit code $rc after the quit button"
list_says "d['window_x'] == 300 and d['window_y'] == 290" || fail "window position not saved at the quit"
echo "PASS ($(( $(now_ms) - started_ms )) ms)"
