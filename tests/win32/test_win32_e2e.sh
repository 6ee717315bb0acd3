#!/usr/bin/env bash
# The Windows program under Wine, used as a person uses it, on a virtual X
# display of its own with the demo web on loopback as its proxy (which also
# answers the connectivity probe).  Wine hands the X clipboard (xclip) to
# the program's clipboard and the X pointer (xdotool) to its window; what
# the window shows is read from screenshots and compared with the skin
# picture, what the program keeps is read from the list file, which the
# running program holds open with read sharing.
#
# One run: the window "Quorvax 1.0", 288x417, appears at the place stored in
# the list; the hide button hides it, and copying a supported address whose
# page title is Latin-1 ("Café Society" sent as the byte 0xE9) brings it back
# with the capture button lit; a click adds the address, which downloads
# through the proxy to Finished, byte for byte as the demo web serves the
# stream, into a file whose name on the Linux side is the title in UTF-8;
# dragged by its title strip and ended by the quit button, the program exits
# with 0 and its new position saved.
#
# Arguments: BUILD_WIN32_DIR SOURCE_DIR [LINUX_BUILD_DIR]
# The list is made and read with LINUX_BUILD_DIR/quorvax-list when given
# (the file is the same on both systems), else with quorvax-list.exe under
# Wine.  WINEPREFIX is used as set; without it the check makes a prefix of
# its own in its scratch folder (a minute more).  Exit code 77 (skipped)
# when Wine or the Windows program is missing.
set -uo pipefail
. "$2/tests/scripts/lib_e2e.sh"
. "$2/tests/scripts/lib_demo_web.sh"

if ! command -v wine >/dev/null || [ ! -f "$1/quorvax.exe" ]; then
  echo "SKIP: needs wine and $1/quorvax.exe"
  exit 77
fi
win_build="$(cd "$1" && pwd)"
e2e_begin "$1" "$2"

# Hang bounds, each far above what a normal run takes (noted beside it);
# every wait fails with what it waited for and how long.
window_bound_s=90     # Wine's first start in a fresh prefix: 10-30 s
online_bound_s=30     # the probe answers about 2.5 s after start
state_bound_s=20      # list changes follow a click within a second
download_bound_s=60   # 3 MB over loopback: a few seconds under Wine
screen_bound_s=10     # the window is repainted every 50 ms
exit_bound_s=30

e2e_need_tools() {
  local tool
  for tool in "$@"; do command -v "$tool" >/dev/null || fail "$tool is needed"; done
}
e2e_need_tools Xvfb xdotool xclip xwininfo import convert compare curl python3 wineserver

export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine makes Unix file names in the locale's character set: the UTF-8 name
# of the download needs a UTF-8 locale.
export LC_ALL=C.UTF-8
export WINEDEBUG="${WINEDEBUG:--all}"
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$work/wineprefix"
fi
echo "Wine prefix: $WINEPREFIX"

# The list tool: the Linux one, or the Windows one under Wine with the
# scratch folder's absolute paths given as Windows paths on drive Z: (the
# root of the Linux file system in every Wine prefix).  lib_e2e.sh's list
# helpers run $build/quorvax-list, so $build names the folder of the tool.
if [ -n "${3:-}" ] && [ -x "$3/quorvax-list" ]; then
  build="$(cd "$3" && pwd)"
  echo "list tool: $build/quorvax-list"
else
  [ -f "$win_build/quorvax-list.exe" ] || fail "no list tool at $win_build/quorvax-list.exe"
  mkdir "$work/bin"
  cat > "$work/bin/quorvax-list" <<EOF
#!/usr/bin/env bash
args=()
for a in "\$@"; do
  case "\$a" in /*) a="Z:\${a//\\//\\\\}" ;; esac
  args+=("\$a")
done
exec wine "$win_build/quorvax-list.exe" "\${args[@]}"
EOF
  chmod +x "$work/bin/quorvax-list"
  build="$work/bin"
  echo "list tool: wine $win_build/quorvax-list.exe"
fi

# Whether the X clipboard is empty, asked for at most 2 s: now and then a
# read through Wine's clipboard bridge gets no answer at all (one run in
# about ten here, right after the capture emptied the clipboard; xclip then
# waits for ever, and the next read answers at once), and such a read counts
# as not empty yet, so the wait asks again.
clipboard_empty() {
  local text
  text=$(timeout 2 xclip -o -selection clipboard 2>/dev/null)
  [ $? -ne 124 ] && [ -z "$text" ]
}

# The Windows path of a folder in the scratch area.
windows_path() { local p="$1"; echo "Z:${p//\//\\}"; }

e2e_start_display
# The prefix's server and desktop process belong to the display they were
# started on; none may be left from a check that ran on another display.
wineserver -k 2>/dev/null
e2e_at_exit 'wineserver -k 2>/dev/null'
start_demo_web

# --- the list: one download at once, finished items listed, the window at
# 200,150, the demo web as proxy, downloads into a Windows path
downloads="$work/downloads"
e2e_make_list "$(windows_path "$downloads")" 1
list_says "d['window_x'] == 200 and d['window_y'] == 150 and d['item_count'] == 0" ||
  fail "the new list does not hold the place 200,150"
echo "list made: folder $(windows_path "$downloads"), proxy 127.0.0.1:$port"

# --- the window's looks, as skin pieces (display/skin_layout.h: source
# corner and size)
piece capture-offered 61 421 52 53
piece capture-plain 4 3 52 53

# Where things are in the window (display/window_layout.h): the capture
# button's centre, the hide and quit buttons.
capture_x=30 capture_y=29
hide_x=260 hide_y=9
quit_x=275 quit_y=9

# --- the program, started in the folder of its list
begin=$(now_ms)
(cd "$work" && exec wine "$win_build/quorvax.exe") > "$work/program.log" 2>&1 &
prog_pid=$!
e2e_track "$prog_pid"
until win=$(xdotool search --onlyvisible --name '^Quorvax 1\.0$' 2>/dev/null | head -n1); [ -n "$win" ]; do
  kill -0 "$prog_pid" 2>/dev/null || fail "the program ended before showing its window"
  [ "$(now_ms)" -ge $(( begin + window_bound_s * 1000 )) ] &&
    fail "no window within $window_bound_s s"
  sleep 0.2
done
echo "window $win titled \"Quorvax 1.0\" after $(( $(now_ms) - begin )) ms"

# Place and size as the X server has them (no window manager: the
# program's own).
geometry() {
  xwininfo -id "$win" 2>/dev/null | awk '
    /Absolute upper-left X:/ {x=$NF} /Absolute upper-left Y:/ {y=$NF}
    /Width:/ {w=$NF} /Height:/ {h=$NF}
    END {print x "," y " " w "x" h}'
}
at_stored_place() { [ "$(geometry)" = "200,150 288x417" ]; }
wait_until "$screen_bound_s" "window of 288x417 at the stored place 200,150" at_stored_place
park

# --- hidden by its button, brought back with the capture button lit by an
# address copied with its scheme, whose page title comes in Latin-1
wait_until "$screen_bound_s" "capture button plain before any offer" shows capture-plain 4 3
click "$hide_x" "$hide_y"
wait_until "$screen_bound_s" "window hidden by the hide button" hidden
page="vidcue.test/watch/cafe?size=3000000&title=Caf%C3%A9%20Society"
copy "http://$page"
wait_until "$online_bound_s" "window back for the copied address" shown
park
wait_until "$screen_bound_s" "capture button lit for the address" shows capture-offered 4 3

# --- a click adds it; it downloads to Finished through the proxy
click "$capture_x" "$capture_y"
wait_until "$state_bound_s" "item in the list file, without the scheme" \
  list_says "d['item_count'] == 1 and items[0]['pageAddress'] == '$page'"
wait_until "$screen_bound_s" "clipboard emptied by the capture" clipboard_empty
wait_until "$download_bound_s" "download finished" \
  list_says "items[0]['stateName'] == 'Finished' and items[0]['doneSize'] == 3000000"

# --- the file: named from the title in UTF-8, holding the served stream
name=$(item_field 0 fileName)
stream=$(item_field 0 streamAddress)
python3 -c 'import re, sys; sys.exit(0 if re.fullmatch("Caf\u00e9 Society [0-9a-f]+\\.flv", sys.argv[1]) else 1)' \
  "$name" || fail "file name '$name' is not the title 'Café Society' with the tick and .flv"
[ -f "$downloads/$name" ] || fail "no file '$name' in $downloads: $(ls "$downloads" 2>&1)"
echo "  file '$name' is in the download folder under its UTF-8 name"
curl -s --max-time 30 -o "$work/reference" -x "http://127.0.0.1:$port" "http://${stream#http://}" ||
  fail "curl could not fetch $stream through the demo web"
[ "$(stat -c %s "$work/reference")" -eq 3000000 ] ||
  fail "reference copy of $(stat -c %s "$work/reference") bytes"
cmp -s "$downloads/$name" "$work/reference" ||
  fail "downloaded file differs from the demo web's stream: $(cmp "$downloads/$name" "$work/reference" 2>&1)"
echo "  the file holds the stream's 3000000 bytes as the demo web serves them"

# --- dragged by its title strip, then the quit button: exit code 0, the
# new position saved
xdotool mousemove --window "$win" 150 10 mousedown 1
sleep 0.3
xdotool mousemove 400 250
sleep 0.3
xdotool mousemove 450 300
sleep 0.4
xdotool mouseup 1
moved() { [ "$(geometry)" = "300,290 288x417" ]; }
wait_until "$screen_bound_s" "window dragged to 300,290" moved
sleep 0.3
click "$quit_x" "$quit_y"
wait_for_exit "$prog_pid" "$exit_bound_s" "the program, after the quit button"
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code after the quit button"
list_says "d['window_x'] == 300 and d['window_y'] == 290 and items[0]['stateName'] == 'Finished'" ||
  fail "window position not saved at the quit"
echo "  position 300,290 saved in the list"
# Wine's desktop process ends before the display does.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
pass
