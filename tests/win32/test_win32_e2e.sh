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
# an https link straight to an mp4 file, copied and captured the same way,
# downloads through the proxy's tunnel with Schannel (the demo web's test
# CA trusted in this prefix's root store only, for this run) to Finished,
# byte for byte, while one to the listener with a self-signed certificate
# ends Failed with no file and a line in the failure log beside the list;
# dragged by its title strip and ended by the quit button, the program exits
# with 0 and its new position saved.
#
# Arguments: BUILD_WIN32_DIR SOURCE_DIR [LINUX_BUILD_DIR]
# The list is made and read with LINUX_BUILD_DIR/quorvax-list when given
# (the file is the same on both systems), else with quorvax-list.exe under
# Wine.  WINEPREFIX is used as set; without it the check makes a prefix of
# its own in its scratch folder (a minute more).  Exit code 77 (skipped)
# when Wine or the Windows program is missing.  win32_tls_check.exe (built
# in BUILD_WIN32_DIR, brought up to date here) puts the test CA into the
# prefix's root store before the program starts and takes it out again.
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
ca_bound_s=120        # the CA import, the first Wine process: may make the prefix
online_bound_s=30     # the probe answers about 2.5 s after start
state_bound_s=20      # list changes follow a click within a second
download_bound_s=60   # 3 MB over loopback: a few seconds under Wine
screen_bound_s=10     # the window is repainted every 50 ms
exit_bound_s=30

e2e_need_tools() {
  local tool
  for tool in "$@"; do command -v "$tool" >/dev/null || fail "$tool is needed"; done
}
e2e_need_tools Xvfb xdotool xclip xwininfo import convert compare curl python3 wineserver openssl
cmake --build "$win_build" -j2 --target win32_tls_check > "$work/tls-check-build.log" 2>&1 ||
  fail "win32_tls_check.exe could not be built: $(tail -n 20 "$work/tls-check-build.log")"

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
start_demo_web web --tls-dir "$work/tls" --log "$work/web.log"
tls_port() { sed -n "s/^TLS $1 \([0-9]*\)\$/\1/p" "$work/web.out"; }
good=$(tls_port good)
untrusted=$(tls_port untrusted)
[ -n "$good" ] && [ -n "$untrusted" ] || fail "the demo web has no TLS listeners"
e2e_evidence() {
  echo "demo web requests:"; web_log_lines "$work/web.log"
  echo "failure log:"; cat "$work/quorvax.log" 2>/dev/null
}

# The test CA in the prefix's root store for the program's run: each step a
# Wine process of its own, bounded.  A check that stops early takes it out
# again at its clean-up, unless the prefix is the scratch folder's own.
tls_check() {
  timeout -k 5 "$ca_bound_s" wine "$win_build/win32_tls_check.exe" "$1" \
    "$(windows_path "$work/tls/ca.pem")" > "$work/tls-check.log" 2>&1
}
ca_in_store=0
remove_ca_at_exit() {
  [ "$ca_in_store" = 1 ] && [ "$WINEPREFIX" != "$work/wineprefix" ] || return 0
  tls_check remove-ca || { echo "the test CA could not be taken out:"; cat "$work/tls-check.log"; }
  wineserver -k 2>/dev/null
}
e2e_at_exit remove_ca_at_exit
# The server stays up from here to the end (the clean-up ends it): one that
# is ending just as the program connects after the import would fail it.
mkdir -p "$WINEPREFIX"
wineserver -p
ca_in_store=1
tls_check import-ca || fail "the test CA did not go into the prefix's root store: $(cat "$work/tls-check.log")"
echo "test CA in the prefix's root store"

# --- the list: one download at once, finished items listed, the window at
# 200,150, the demo web as proxy, downloads into a Windows path
downloads="$work/downloads"
e2e_make_list "$(windows_path "$downloads")" 1
list_says "d['window_x'] == 200 and d['window_y'] == 150 and d['item_count'] == 0" ||
  fail "the new list does not hold the place 200,150"
echo "list made: folder $(windows_path "$downloads"), proxy 127.0.0.1:$port"

# --- the window's looks, as skin pieces (display/skin_layout.h: source
# corner and size)
capture_pieces

# Where things are in the window (display/window_layout.h; the capture
# button's centre is lib_e2e.sh's): the hide and quit buttons.
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

# --- https links straight to mp4 files: the good listener's certificate
# names localhost (sent as the server name), the other one is self-signed
links=("https://localhost:$good/stream/clip.mp4?size=3000000"
       "https://localhost:$untrusted/stream/self.mp4")
park
capture_links 26
settled() { list_says "all(items[k]['stateName'] in ('Finished', 'Failed') for k in (1, 2))"; }
wait_until "$download_bound_s" "both https links settled" settled
list_says "items[1]['stateName'] == 'Finished' and items[1]['doneSize'] == 3000000" ||
  fail "the https link did not download whole"
list_says "items[2]['stateName'] == 'Failed'" || fail "the self-signed link did not fail"
web_log_has "$work/web.log" "CONNECT localhost:$good HTTP/1.1" "Host: localhost:$good" ||
  fail "no CONNECT for localhost:$good through the proxy"
web_log_has "$work/web.log" "GET /stream/clip.mp4" "Host: localhost:$good" ||
  fail "no request for clip.mp4 through the tunnel"
clip_name=$(item_field 1 fileName)
[ -n "$clip_name" ] && [ -f "$downloads/$clip_name" ] ||
  fail "no file '$clip_name' (the item's name) in $downloads: $(ls "$downloads" 2>&1)"
files_are_streams "$downloads/$clip_name" clip.mp4 3000000 || fail "the https download"
echo "  '$clip_name' holds clip.mp4's 3000000 bytes as the demo web serves them"
others=$(cd "$downloads" && ls -A | grep -vxF -e "$name" -e "$clip_name")
[ -z "$others" ] || fail "a file for the refused link: $others"
[ -f "$work/quorvax.log" ] || fail "no failure log beside the list"
log=$(cat "$work/quorvax.log")
[[ "$log" =~ ^t\+[0-9]+\ "${links[1]} untrusted"$ ]] ||
  fail "the failure log is not one line for ${links[1]}, untrusted: $log"
echo "  the self-signed one: no file, one line in the failure log"

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
tls_check remove-ca || fail "the test CA did not leave the root store: $(cat "$work/tls-check.log")"
ca_in_store=0
echo "  test CA out of the prefix's root store"
# Wine's desktop process ends before the display does.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
pass
