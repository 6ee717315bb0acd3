#!/usr/bin/env bash
# Hiding the real program's window and bringing it back, on a virtual X
# display of its own with a private session bus, first with a notification
# area and then without one.
#
# With a notification area (Debian's trayer, an XEmbed tray): the program's
# icon is embedded in trayer's panel; after the hide button a left click on
# the icon shows the window again, with the hide button in its plain look;
# hidden again, a right click on the icon leaves it hidden (a left click
# then still shows it).
#
# Without one (trayer gone, the program started anew): the hide button
# hides the window and another window is put where it was; starting the
# program a second time in the same folder (the same list.o) brings the
# running program's window back in front of that window, and the second
# start ends by itself with exit code 0 within a few seconds, without the
# list-file message and without a window of its own.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
. "$2/tests/scripts/lib_e2e.sh"
e2e_begin "$1" "$2"

screen_bound_s=5      # the window is repainted every 50 ms
tray_bound_s=15       # the icon is embedded within a second of the start
exit_bound_s=30
handover_bound_s=10   # a hand-over takes well under a second

e2e_need Xvfb xdotool xwininfo xmessage import convert compare dbus-daemon trayer
e2e_start_display
e2e_start_bus

"$build/quorvax-list" init "$list" --folder "$work/downloads" >/dev/null || fail "list init"
"$build/quorvax-list" set "$list" --pos 200,150 >/dev/null || fail "list set"

hide_x=260 hide_y=9
quit_x=275 quit_y=9
piece hide-plain 254 3 13 13
piece capture-plain 4 3 52 53

quit_program() {
  park
  click "$quit_x" "$quit_y"
  wait_for_exit "$prog_pid" "$exit_bound_s" "the program, after the quit button"
  [ "$exit_code" -eq 0 ] || fail "exit code $exit_code after the quit button"
}

# ---------------------------------------------- with a notification area

trayer --edge bottom --align right --widthtype request --height 24 > "$work/trayer.log" 2>&1 &
trayer_pid=$!
e2e_track "$trayer_pid"
tray_panel() { panel=$(xdotool search --classname '^panel$' 2>/dev/null | head -n1); [ -n "$panel" ]; }
wait_until "$tray_bound_s" "trayer's panel on the display" tray_panel

e2e_start_program
park
# The icon: the program's window (class quorvax) that trayer embedded.
tray_icon() {
  icon=$(xwininfo -tree -id "$panel" 2>/dev/null | awk '/\("quorvax" "Quorvax"\)/ { print $1; exit }')
  [ -n "$icon" ]
}
wait_until "$tray_bound_s" "icon embedded in trayer's panel" tray_icon
icon_click() { xdotool mousemove --window "$icon" 11 11 click "$1"; }

click "$hide_x" "$hide_y"
wait_until "$screen_bound_s" "window hidden by the hide button" hidden
icon_click 1
wait_until "$screen_bound_s" "window shown by a left click on the icon" shown
wait_until "$screen_bound_s" "hide button in its plain look" shows hide-plain 254 3

click "$hide_x" "$hide_y"
wait_until "$screen_bound_s" "window hidden again" hidden
icon_click 3
stays_false 2 "the window came back after a right click on the icon" shown
icon_click 1
wait_until "$screen_bound_s" "window shown by a left click after the right click" shown

quit_program
kill "$trayer_pid"
wait "$trayer_pid" 2>/dev/null
e2e_forget "$trayer_pid"
no_tray() { ! tray_panel; }
wait_until "$screen_bound_s" "trayer gone" no_tray

# ------------------------------------------- without a notification area

e2e_start_program
first_pid=$prog_pid
park
xwininfo -root -tree | grep -q '("quorvax" "Quorvax")  22x22' && fail "a tray icon without a notification area"
click "$hide_x" "$hide_y"
wait_until "$screen_bound_s" "window hidden by the hide button" hidden
stays_false 1 "the window came back by itself" shown

# Another program's window where ours was, mapped while ours is hidden:
# brought back, ours has to come in front of it.
read -r win_x win_y < <(xwininfo -id "$win" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF } END { print x, y }')
xmessage -geometry "400x500+$(( win_x - 20 ))+$(( win_y - 20 ))" -title cover "over the hidden window" \
  > /dev/null 2>&1 &
e2e_track $!
cover_shown() { [ -n "$(xdotool search --onlyvisible --name '^cover$' 2>/dev/null)" ]; }
wait_until "$screen_bound_s" "another window over the place" cover_shown

# The screen, not the window's own picture: our capture button seen there
# means our window is in front at that spot.
in_front() {
  import -window root -crop "52x53+$(( win_x + 4 ))+$(( win_y + 3 ))" +repage "$work/screen.png" 2>/dev/null ||
    return 1
  [ "$(compare -metric AE "$work/screen.png" "$work/piece-capture-plain.png" null: 2>&1)" = "0" ]
}

# The list-file message closes by itself after 3 s should it show, so that
# a second start that does not hand over still ends.
begin=$(now_ms)
(cd "$work" && QUORVAX_MESSAGE_BOX_TIMEOUT_MS=3000 exec "$build/quorvax") > "$work/second.log" 2>&1 &
second_pid=$!
e2e_track "$second_pid"
# Watched while it runs: a message box or a window of its own.
message_seen=0 second_window_seen=0
while kill -0 "$second_pid" 2>/dev/null; do
  [ "$(now_ms)" -ge $(( begin + handover_bound_s * 1000 )) ] &&
    fail "the second start still running after ${handover_bound_s} s"
  [ -n "$(xdotool search --name '^File not found!!$' 2>/dev/null)" ] && message_seen=1
  [ "$(xdotool search --onlyvisible --name '^Quorvax 1\.0$' 2>/dev/null | grep -cvx "$win")" -gt 0 ] &&
    second_window_seen=1
  sleep 0.1
done
wait "$second_pid"
exit_code=$?
e2e_forget "$second_pid"
echo "  the second start ended after $(( $(now_ms) - begin )) ms with exit code $exit_code"
[ "$message_seen" -eq 0 ] ||
  fail "the second start showed the list-file message instead of handing over to the running program ($(tr '\n' ' ' < "$work/second.log"))"
grep -q 'File not found' "$work/second.log" && fail "the second start reported: $(tr '\n' ' ' < "$work/second.log")"
[ "$second_window_seen" -eq 0 ] || fail "the second start showed a window of its own"
[ "$exit_code" -eq 0 ] || fail "the second start ended with exit code $exit_code"
kill -0 "$first_pid" 2>/dev/null || fail "the running program ended"
wait_until "$screen_bound_s" "the running program's window shown again" shown
wait_until "$screen_bound_s" "and in front of the other window" in_front
prog_pid=$first_pid
quit_program
pass
