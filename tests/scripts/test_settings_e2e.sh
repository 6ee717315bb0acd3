#!/usr/bin/env bash
# The settings panel of the real program, on a virtual X display of its
# own: opened with the settings button, edited with the pointer and the
# digit keys, closed with a left click outside it.  Two demo webs record
# every request they get: the "old" one is the proxy the list starts with,
# the "new" one is the proxy typed into the panel.
#
# One run: a press on the downloads-at-once field and a digit key, then a
# click outside the panel: byte 12 of the list file holds the digit.  The
# panel again: the use-proxy box unticked, and an address captured with the
# Enter key while the panel stays open still goes through the old proxy;
# the box ticked again, the address fields typed 127 0 0 1 and the port
# field the new proxy's port, and the next captured address still goes
# through the old proxy (nothing typed or ticked is in force yet); the
# click outside saves the flag, port and address at bytes 15 to 23, and the
# next capture goes through the new proxy only.  The panel a third time:
# other numbers in each address field and the port, the box unticked: the
# list file holds them, each in its own byte, and the flag cleared.
#
# The list file's settings header (listfile/listfile.cpp, save_settings):
# bytes 4-11 the window position, 12 downloads at once, 13 remove finished,
# 14 show finished, 15 use the proxy, 16-19 the port (little-endian), 20-23
# the address octets.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
. "$2/tests/scripts/lib_e2e.sh"
. "$2/tests/scripts/lib_demo_web.sh"
e2e_begin "$1" "$2"

online_bound_s=20     # the probe answers about 2.5 s after start
state_bound_s=10      # a save follows the closing click within a second
screen_bound_s=5      # the window is repainted every 50 ms
request_bound_s=10    # a captured address is asked for within a second

e2e_need Xvfb xdotool xclip xwininfo import convert compare
e2e_start_display

start_demo_web old --log "$work/old.log"
old_port=$port
start_demo_web new --log "$work/new.log"
new_port=$port

e2e_evidence() {
  echo "list file header: $(od -A d -t u1 -N 24 "$list" | head -n 2 | tr -s ' ' | tr '\n' ' ')"
  echo "old proxy's requests:"; web_log_lines "$work/old.log"
  echo "new proxy's requests:"; web_log_lines "$work/new.log"
}

# --- the list: one download at once, the old proxy in force
"$build/quorvax-list" init "$list" --folder "$work/downloads" >/dev/null || fail "list init"
"$build/quorvax-list" set "$list" --max 1 --show-finished 1 --proxy "127.0.0.1:$old_port" \
  --use-proxy 1 --pos 200,150 >/dev/null || fail "list set"

# The list file's settings header tested with a Python expression over h
# (its first 24 bytes) and port (bytes 16-19 as a number).
header_says() {
  python3 - "$list" "$1" <<'PY'
import struct, sys
h = open(sys.argv[1], "rb").read(24)
port = struct.unpack_from("<I", h, 16)[0]
sys.exit(0 if len(h) == 24 and eval(sys.argv[2]) else 1)
PY
}

# Where things are (display/window_layout.h): the settings button, the
# panel's controls (downloads at once, use the proxy, the four address
# fields, the port) and a point outside the panel's release box.
settings_x=71 settings_y=35
max_x=150 max_y=75
use_proxy_x=150 use_proxy_y=160
octet_x=(108 127 146 165) octet_y=179
port_x=196 port_y=179
outside_x=150 outside_y=300
capture_x=30 capture_y=29
piece capture-offered 61 421 52 53
# The panel's top strip, which no control covers: the panel is open while
# the window shows it at the panel's place.
piece panel-top 316 0 153 7
panel_open() { shows panel-top 74 38; }

open_panel() {
  park
  click "$settings_x" "$settings_y"
  wait_until "$screen_bound_s" "settings panel open" panel_open
}
close_panel() {
  click "$outside_x" "$outside_y"
  wait_until "$screen_bound_s" "settings panel closed" eval '! panel_open'
}
# Presses a panel field and types a number into it, digit by digit.
type_into() {
  local x="$1" y="$2" digits="$3" k
  click "$x" "$y"
  sleep 0.2
  for (( k = 0; k < ${#digits}; k++ )); do type_key "${digits:$k:1}"; done
}
# type_proxy A B C D PORT: the four address fields, then the port.
type_proxy() {
  local k numbers=("$@")
  for k in 0 1 2 3; do type_into "${octet_x[$k]}" "$octet_y" "${numbers[$k]}"; done
  type_into "$port_x" "$port_y" "${numbers[4]}"
}

e2e_start_program
park
wait_until "$online_bound_s" "probe answered through the old proxy" test -s "$work/old.log"

# --- downloads at once: a digit typed into its field is saved at byte 12
open_panel
type_into "$max_x" "$max_y" 7
header_says "h[12] == 1" || fail "byte 12 changed while the panel was open"
close_panel
wait_until "$state_bound_s" "byte 12 holds the digit 7" header_says "h[12] == 7"
list_says "d['max_active_edit'] == 7" || fail "the list tool does not read 7 downloads at once"

# --- the proxy: edited while the panel is open, in force once it closes

# Captures page $1 with the Enter key while the panel stays open, as item
# $2 of the list: it must be asked for through the old proxy only.
capture_while_open() {
  park
  copy "http://$1"
  wait_until "$online_bound_s" "capture button lit with the panel open" shows capture-offered 4 3
  type_key Return
  wait_until "$state_bound_s" "$1 captured with the panel open" \
    list_says "d['item_count'] == $(( $2 + 1 )) and items[$2]['pageAddress'] == '$1'"
  wait_until "$request_bound_s" "$1 asked for through the old proxy" web_log_has "$work/old.log" "$1"
  web_log_has "$work/new.log" "$1" && fail "$1 went through the new proxy while the panel was open"
  panel_open || fail "the panel closed during the capture"
  header_says "h[15] == 1 and port == $old_port" || fail "the proxy was saved while the panel was open"
}

open_panel
click "$use_proxy_x" "$use_proxy_y"
capture_while_open "reelbox.test/watch/unticked" 0
click "$use_proxy_x" "$use_proxy_y"
sleep 0.2
type_proxy 127 0 0 1 "$new_port"
capture_while_open "reelbox.test/watch/retyped" 1
close_panel
wait_until "$state_bound_s" "bytes 15-23: use the proxy, port $new_port, address 127.0.0.1" \
  header_says "h[15] == 1 and port == $new_port and list(h[20:24]) == [127, 0, 0, 1]"
list_says "d['use_proxy'] == 1 and d['proxy_port'] == $new_port and d['proxy_address'] == '127.0.0.1'" ||
  fail "the list tool reads another proxy"

# The next capture goes through the new proxy.
after_page="tubeon.test/watch/afterclose"
park
copy "http://$after_page"
wait_until "$online_bound_s" "capture button lit" shows capture-offered 4 3
click "$capture_x" "$capture_y"
wait_until "$request_bound_s" "next page asked for through the new proxy" \
  web_log_has "$work/new.log" "$after_page"
web_log_has "$work/old.log" "$after_page" && fail "the page went through the old proxy after the panel closed"

# --- every address field and the port in their own bytes, the flag cleared
open_panel
type_proxy 10 9 8 7 8080
click "$use_proxy_x" "$use_proxy_y"
sleep 0.2
close_panel
wait_until "$state_bound_s" "bytes 15-23: no proxy, port 8080, address 10.9.8.7" \
  header_says "h[15] == 0 and port == 8080 and list(h[20:24]) == [10, 9, 8, 7]"
header_says "h[12] == 7" || fail "byte 12 lost its digit"
pass
