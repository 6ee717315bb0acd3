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
. "$2/tests/scripts/lib_e2e.sh"
. "$2/tests/scripts/lib_demo_web.sh"
e2e_begin "$1" "$2"

# Hang bounds, each far above what a normal run takes (noted beside it);
# every wait fails with what it waited for and how long.
online_bound_s=20     # the probe answers about 2.5 s after start
state_bound_s=20      # list changes follow a click within a second
download_bound_s=30   # 3 MB over loopback: well under a second
screen_bound_s=5      # the window is repainted every 50 ms
exit_bound_s=30

e2e_need Xvfb xdotool xclip xwininfo import convert compare curl
e2e_start_display
start_demo_web

# --- the list: no download at once (a captured item stays queued until
# started by hand), finished items listed, the window at a known place
"$build/quorvax-list" init "$list" --folder "$work/downloads" >/dev/null || fail "list init"
"$build/quorvax-list" set "$list" --max 0 --show-finished 1 --proxy "127.0.0.1:$port" \
  --use-proxy 1 --pos 200,150 >/dev/null || fail "list set"

# --- the window's looks, as skin pieces (display/skin_layout.h: source
# corner and size)
capture_pieces
piece duplicate-note 360 248 96 18

# Where things are in the window (display/window_layout.h; the capture
# button's centre is lib_e2e.sh's): the hide and quit buttons, the first
# row, and the spot the already-listed note shows at (8 right of and 2
# above the click).
hide_x=260 hide_y=9
quit_x=275 quit_y=9
row_x=100 row_y=67
note_x=$(( capture_x + 8 )) note_y=$(( capture_y - 2 ))

# --- the program
e2e_start_program
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
menu_pick "$row_x" "$row_y" 1
wait_until "$download_bound_s" "download finished" \
  list_says "items[0]['stateName'] == 'Finished' and items[0]['doneSize'] == 3000000"
name=$(item_field 0 fileName)
stream=$(item_field 0 streamAddress)
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
menu_pick "$row_x" "$row_y" 3
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
wait_for_exit "$prog_pid" "$exit_bound_s" "the program, after the quit button"
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code after the quit button"
list_says "d['window_x'] == 300 and d['window_y'] == 290" || fail "window position not saved at the quit"
pass
