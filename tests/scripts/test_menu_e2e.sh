#!/usr/bin/env bash
# The item menu of the real program, on a virtual X display of its own, with
# three downloads from the demo web slowed to 50,000 bytes a second (its
# proxy): two long ones stay in progress, a short one finishes.
#
# One run: the stop entry stops the first download (Stopped in the list
# file, its size and bytes so far kept, no byte more); the start entry
# resumes it where it stopped (the stream asked for again from that byte,
# the file growing on, every byte of it the stream's own); the remove entry
# takes the third one out of the list file, which then holds the other two,
# and leaves its partial file on the disk; "show the file" on the finished
# download asks the desktop's file manager to show file://<absolute path>,
# and "open the page" hands http://<page address> to the desktop's handler
# of web addresses.
#
# The desktop is the check's own and records what it is asked: a private
# session bus on which tests/support's stand-in file manager owns
# org.freedesktop.FileManager1, and private XDG folders whose mimeapps.list
# names a recording handler (a .desktop file whose command appends its
# argument to a file) for http addresses and for folders, which is how
# xdg-open, and Qt through it, finds the user's choice on any desktop.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
. "$2/tests/scripts/lib_e2e.sh"
. "$2/tests/scripts/lib_demo_web.sh"
e2e_begin "$1" "$2"

state_bound_s=20      # list changes follow a click within a second
transfer_bound_s=20   # at 50,000 bytes a second a flush is due every 1.1 s
desktop_bound_s=10    # a hand-over reaches its handler within a second

file_manager="$build/tests/recording_file_manager"
e2e_need Xvfb xdotool xwininfo import convert compare dbus-daemon xdg-open
[ -x "$file_manager" ] || fail "no stand-in file manager at $file_manager (built with the Qt program)"

e2e_start_display
e2e_start_bus

# --- the file manager on the private bus
"$file_manager" "$work/shown" > "$work/file_manager.out" 2> "$work/file_manager.err" &
e2e_track $!
file_manager_ready() { grep -qx READY "$work/file_manager.out"; }
wait_until 10 "stand-in file manager on the bus" file_manager_ready

# --- the handler of web addresses (and of folders: "show the file" falls
# back to opening the folder where no file manager answers)
mkdir -p "$work/xdg-data/applications" "$work/xdg-config"
cat > "$work/open-handler" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >> "$work/opened"
EOF
chmod +x "$work/open-handler"
cat > "$work/xdg-data/applications/quorvax-check-handler.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Recording handler
Exec=$work/open-handler %u
MimeType=x-scheme-handler/http;inode/directory;
EOF
cat > "$work/xdg-config/mimeapps.list" <<EOF
[Default Applications]
x-scheme-handler/http=quorvax-check-handler.desktop
inode/directory=quorvax-check-handler.desktop
EOF
export XDG_DATA_HOME="$work/xdg-data" XDG_CONFIG_HOME="$work/xdg-config"

e2e_evidence() {
  echo "file manager was asked:"; cat "$work/shown" 2>/dev/null
  echo "handler was given:"; cat "$work/opened" 2>/dev/null
  echo "demo web requests:"; web_log_lines "$work/web.log"
}

# --- the demo web, slowed, with its requests recorded
start_demo_web web --rate 50000 --log "$work/web.log"

# --- the list: three downloads at once, finished ones listed
long_page="reelbox.test/watch/longone?size=4000000"
short_page="reelbox.test/watch/shortone?size=30000"
third_page="tubeon.test/watch/another?size=4000000"
e2e_make_list "$work/downloads" 3 "$long_page" 0 "$short_page" 0 "$third_page" 1

# The rows of items 0, 1 and 2 (display/window_layout.h: 12 pixels apart
# from the list's top), where the menu is opened.
row_x=100
row_y=(67 79 91)

e2e_start_program
park
wait_until "$transfer_bound_s" "short download finished, long ones under way" \
  list_says "items[1]['stateName'] == 'Finished' and items[1]['doneSize'] == 30000 and
             all(items[i]['stateName'] == 'Downloading' and items[i]['doneSize'] > 0 for i in (0, 2))"

# --- stop: the first download stops, keeping its size and bytes so far
menu_pick "$row_x" "${row_y[0]}" 2
wait_until "$state_bound_s" "first download stopped" list_says "items[0]['stateName'] == 'Stopped'"
done_at_stop=$(item_field 0 doneSize)
list_says "items[0]['totalSize'] == 4000000 and 0 < items[0]['doneSize'] < 4000000" ||
  fail "the stop did not keep the size and the bytes so far"
stays_false 2 "the stopped download moved on" \
  list_says "items[0]['stateName'] != 'Stopped' or items[0]['doneSize'] != $done_at_stop"
list_says "items[2]['stateName'] == 'Downloading'" || fail "the stop reached another download"

# --- start: it resumes from the byte it stopped at
menu_pick "$row_x" "${row_y[0]}" 1
wait_until "$transfer_bound_s" "first download resumed and growing" \
  list_says "items[0]['stateName'] == 'Downloading' and items[0]['doneSize'] > $done_at_stop"
stream=$(item_field 0 streamAddress)
wait_until "$state_bound_s" "stream asked for again from byte $done_at_stop" \
  web_log_has "$work/web.log" "$stream" "Range: bytes=$done_at_stop-"
name=$(item_field 0 fileName)
python3 - "$src/tests/testweb" "$work/downloads/$name" "$stream" <<'PY' || fail "the resumed file is not the stream's bytes"
import os, sys, urllib.parse
sys.path.insert(0, sys.argv[1])
import testweb
data = open(sys.argv[2], "rb").read()
stream = urllib.parse.unquote(urllib.parse.urlsplit(sys.argv[3]).path.rsplit("/", 1)[1])
expected = testweb.stream_bytes(stream, 0, len(data))
if data != expected:
    first = next(k for k in range(len(data)) if data[k] != expected[k])
    print("  byte %d of %d differs" % (first, len(data)))
    sys.exit(1)
print("  the file's %d bytes are the stream's" % len(data))
PY

# --- remove: the third download leaves the list file, its file stays
third_name=$(item_field 2 fileName)
[ -n "$third_name" ] && [ -f "$work/downloads/$third_name" ] || fail "no partial file '$third_name'"
menu_pick "$row_x" "${row_y[2]}" 3
wait_until "$state_bound_s" "third download removed from the list file" \
  list_says "d['item_count'] == 2 and d['records_in_file'] == 2 and
             [i['pageAddress'] for i in items] == ['$long_page', '$short_page']"
[ -f "$work/downloads/$third_name" ] || fail "the removal deleted the partial file"

# --- show the file: the finished download, by the file manager
short_name=$(item_field 1 fileName)
[ -n "$short_name" ] && [ -f "$work/downloads/$short_name" ] || fail "no finished file '$short_name'"
menu_pick "$row_x" "${row_y[1]}" 5
# The URI in its encoded form (no raw space or non-ASCII byte), naming
# exactly the file's absolute path.
asked_to_show() {
  [ -f "$work/shown" ] || return 1
  python3 - "$work/shown" "$work/downloads/$short_name" <<'PY'
import sys, urllib.parse
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
def names(line):
    kind, _, uri = line.partition(" ")
    return (kind == "ShowItems" and uri.startswith("file://") and uri.isascii() and " " not in uri
            and urllib.parse.unquote(uri[len("file://"):]) == sys.argv[2])
sys.exit(0 if any(names(l) for l in lines) else 1)
PY
}
wait_until "$desktop_bound_s" "file manager asked to show file://$work/downloads/$short_name" asked_to_show
[ "$(wc -l < "$work/shown")" -eq 1 ] || fail "the file manager was asked more than once"
[ ! -e "$work/opened" ] || fail "the folder was opened as well"

# --- open the page: the first download's page, by the web handler
menu_pick "$row_x" "${row_y[0]}" 4
handed_page() { grep -qxF "http://$long_page" "$work/opened" 2>/dev/null; }
wait_until "$desktop_bound_s" "handler given http://$long_page" handed_page
[ "$(wc -l < "$work/opened")" -eq 1 ] || fail "the handler was given more than the page"
pass
