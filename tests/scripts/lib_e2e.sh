# lib_e2e.sh - sourced by the end-to-end checks that use the real program on
# a virtual X display of their own: the scratch folder and its clean-up,
# bounded waits, the display, a private session bus, the program and its
# window, the list file as the list tool reads it, the window's looks
# compared with the skin picture, and the pointer, keys and clipboard.
#
# e2e_begin BUILD_DIR SOURCE_DIR sets build, src and work and arms the
# clean-up.  The clean-up runs on every way out - a failed check, the end,
# a kill from outside such as ctest's time-out - and ends every process the
# check registered with e2e_track, newest first (the display last), runs
# the steps registered with e2e_at_exit (an unmount), then removes the
# scratch folder.
#
# Sections: [RUN] [WAITS] [DISPLAY AND BUS] [PROGRAM] [LIST FILE] [STREAMS]
#           [LOOKS] [INPUT]

# ------------------------------------------------------------------ [RUN]

e2e_pids=()
e2e_exit_steps=()

e2e_track() { e2e_pids+=("$1"); }
# A command the clean-up runs once the processes are told to end and before
# the scratch folder goes.
e2e_at_exit() { e2e_exit_steps+=("$1"); }

# A process the check has waited for is no longer its own to end.
e2e_forget() {
  local kept=() p
  for p in "${e2e_pids[@]}"; do [ "$p" = "$1" ] || kept+=("$p"); done
  e2e_pids=("${kept[@]}")
}

e2e_cleanup() {
  local i
  for (( i = ${#e2e_pids[@]} - 1; i >= 0; i-- )); do
    kill "${e2e_pids[$i]}" 2>/dev/null
  done
  e2e_pids=()
  for (( i = 0; i < ${#e2e_exit_steps[@]}; i++ )); do
    eval "${e2e_exit_steps[$i]}"
  done
  e2e_exit_steps=()
  [ -n "${work:-}" ] && rm -rf "$work"
}

e2e_begin() {
  build="$(cd "$1" && pwd)"
  src="$(cd "$2" && pwd)"
  work="$(mktemp -d)"
  list="$work/list.o"
  win=""
  prog_pid=""
  trap e2e_cleanup EXIT
  trap 'exit 143' TERM
  trap 'exit 130' INT
  trap 'exit 129' HUP
  started_ms=$(now_ms)
}

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Ends the check with what failed, the list file and the program's last
# words; a check adds its own evidence through an e2e_evidence function.
fail() {
  echo "FAIL: $*"
  [ -f "$work/list.json" ] && { echo "list file:"; cat "$work/list.json"; echo; }
  [ -s "$work/program.log" ] && { echo "program output:"; tail -n 20 "$work/program.log"; }
  declare -F e2e_evidence >/dev/null && e2e_evidence
  exit 1
}

pass() { echo "PASS ($(( $(now_ms) - started_ms )) ms)"; }

e2e_need() {
  local tool
  for tool in "$@"; do command -v "$tool" >/dev/null || fail "$tool is needed"; done
  [ -x "$build/quorvax" ] || fail "no program at $build/quorvax"
  [ -x "$build/quorvax-list" ] || fail "no list tool at $build/quorvax-list"
}

# ---------------------------------------------------------------- [WAITS]

# Runs "$@" every 0.1 s until it succeeds or bound_s seconds have passed by
# the clock, however slow each try is; says how long it took.
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

# Fails when "$@" comes true at any time within seconds_s: for what must
# not happen in reaction to something just done.
stays_false() {
  local seconds_s="$1" what="$2"
  shift 2
  local deadline=$(( $(now_ms) + seconds_s * 1000 ))
  while [ "$(now_ms)" -lt "$deadline" ]; do
    "$@" && fail "$what"
    sleep 0.1
  done
  echo "  not seen for ${seconds_s} s: $what"
}

# Waits up to bound_s seconds for process $1 to end and sets exit_code;
# fails when it is still running.
wait_for_exit() {
  local pid="$1" bound_s="$2" what="$3" begin
  begin=$(now_ms)
  while kill -0 "$pid" 2>/dev/null; do
    [ "$(now_ms)" -ge $(( begin + bound_s * 1000 )) ] &&
      fail "$what: still running after ${bound_s} s"
    sleep 0.1
  done
  wait "$pid"
  exit_code=$?
  e2e_forget "$pid"
  echo "  $what: ended after $(( $(now_ms) - begin )) ms with exit code $exit_code"
}

# ------------------------------------------------------ [DISPLAY AND BUS]

# A display of the check's own: the first free one from a number of this
# run's own, retried when another server took it first.  Nothing of the
# desktop the checks are run from reaches the program: no session bus
# unless the check starts one (a bus address that leads nowhere, so no bus
# is started on demand either), a runtime folder of its own, no desktop
# name, no browser setting.
e2e_start_display() {
  source "$src/tools/lib_display.sh"
  start_virtual_display $(( 300 + $$ % 200 )) 20 "$work/display.ready" ||
    fail "no virtual display could be started"
  e2e_track "$virtual_display_pid"
  export DISPLAY="$virtual_display"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"
  mkdir -m 700 "$work/runtime"
  export XDG_RUNTIME_DIR="$work/runtime"
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION \
    GNOME_DESKTOP_SESSION_ID BROWSER DEFAULT_BROWSER
}

# A session bus of the check's own, for everything started after it.
e2e_start_bus() {
  dbus-daemon --session --nofork --address="unix:path=$work/bus" --print-address=9 \
    9> "$work/bus.address" 2> "$work/bus.err" &
  e2e_track $!
  wait_until 10 "private session bus" test -s "$work/bus.address"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
}

# ------------------------------------------------------------- [PROGRAM]

# Starts the program in the scratch folder (where its list.o is) and waits
# for its window: sets prog_pid and win.
e2e_start_program() {
  (cd "$work" && exec "$build/quorvax") > "$work/program.log" 2>&1 &
  prog_pid=$!
  e2e_track "$prog_pid"
  local begin
  begin=$(now_ms)
  until win=$(xdotool search --name '^Quorvax 1\.0$' 2>/dev/null | head -n1); [ -n "$win" ]; do
    kill -0 "$prog_pid" 2>/dev/null || fail "the program ended before showing its window"
    [ "$(now_ms)" -ge $(( begin + 30000 )) ] &&
      fail "no window within 30 s (waited $(( $(now_ms) - begin )) ms)"
    sleep 0.1
  done
  echo "window $win after $(( $(now_ms) - begin )) ms"
}

# Whether the program's window is on the screen, or off it.
shown() { xdotool search --onlyvisible --name '^Quorvax 1\.0$' 2>/dev/null | grep -qx "$win"; }
hidden() { ! shown && xwininfo -id "$win" 2>/dev/null | grep -q 'Map State: IsUnMapped'; }
# Whether the window of the program started last is gone from the display.
window_gone() { ! xdotool search --name '^Quorvax 1\.0$' 2>/dev/null | grep -qx "$win"; }

# Ends the program at once with SIGKILL, as a crash would: none of its own
# shut-down runs.  Waits until its window has left the display, so that the
# next e2e_start_program finds the new window and not the old one.
e2e_kill_program() {
  kill -KILL "$prog_pid" 2>/dev/null
  wait "$prog_pid" 2>/dev/null
  e2e_forget "$prog_pid"
  wait_until 10 "window of the killed program gone" window_gone
}

# ----------------------------------------------------------- [LIST FILE]

# A fresh list at $list that downloads into folder $1 through the demo web
# on $port, $2 downloads at once, finished ones listed, the window at
# 200,150; then the downloads given as PAGE SITE pairs, in order.
e2e_make_list() {
  local folder="$1" max="$2"
  shift 2
  "$build/quorvax-list" init "$list" --folder "$folder" >/dev/null || fail "list init"
  "$build/quorvax-list" set "$list" --max "$max" --show-finished 1 --proxy "127.0.0.1:$port" \
    --use-proxy 1 --pos 200,150 >/dev/null || fail "list set"
  while [ $# -ge 2 ]; do
    "$build/quorvax-list" add "$list" --page "$1" --site "$2" >/dev/null || fail "list add $1"
    shift 2
  done
}

# The list file as the list tool reads it, tested with a Python expression
# over d (the whole file) and items; the expression may span lines.
list_says() {
  "$build/quorvax-list" show "$list" --json > "$work/list.json" 2>/dev/null || return 1
  python3 - "$work/list.json" "$1" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
items = d["items"]
sys.exit(0 if eval("(" + sys.argv[2] + ")") else 1)
PY
}

# One field of item $1 as the list file holds it (after a list_says).
item_field() {
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["items"][int(sys.argv[2])][sys.argv[3]])' \
    "$work/list.json" "$1" "$2"
}

# -------------------------------------------------------------- [STREAMS]

# Whether files hold the demo web's streams from their first byte
# (tests/testweb/testweb.py makes every byte from the stream's name and the
# offset): files_are_streams FILE NAME LENGTH [FILE NAME LENGTH ...], where
# LENGTH is the file's exact length, or "<=N" for a file still being
# written, which may be missing or hold any first part of an N-byte stream.
# Says what is wrong with the first file that is wrong.  One call for many
# files: each call pays for a Python start.
files_are_streams() {
  python3 - "$src/tests/testweb" "$@" <<'PY'
import os, sys
sys.path.insert(0, sys.argv[1])
import testweb
args = sys.argv[2:]
for k in range(0, len(args), 3):
    path, name, length = args[k:k + 3]
    partial = length.startswith("<=")
    bound = int(length[2:] if partial else length)
    if not os.path.exists(path):
        if partial:
            continue
        sys.exit("  no file %s" % path)
    data = open(path, "rb").read()
    if len(data) > bound or (not partial and len(data) != bound):
        sys.exit("  %s holds %d bytes, not %s" % (path, len(data), length))
    expected = testweb.stream_bytes(name, 0, len(data))
    if data != expected:
        first = next(i for i in range(len(data)) if data[i] != expected[i])
        sys.exit("  byte %d of the %d in %s is not stream %s's" % (first, len(data), path, name))
PY
}

# ---------------------------------------------------------------- [LOOKS]

# Cuts a piece of the skin picture (display/skin_layout.h: source corner
# and size) for shows: piece NAME SX SY W H.
piece() {
  [ -f "$work/piece-$1.png" ] && return 0
  convert "$src/resources/skin.png" -crop "$4x$5+$2+$3" +repage "$work/piece-$1.png" ||
    fail "cutting $1 from the skin"
}

# The capture button's centre (display/window_layout.h) and its two looks,
# lit and plain, as skin pieces (display/skin_layout.h).
capture_x=30 capture_y=29
capture_pieces() {
  piece capture-offered 61 421 52 53
  piece capture-plain 4 3 52 53
}

# Whether the window shows piece $1 with its top-left corner at ($2, $3).
shows() {
  import -window "$win" "$work/window.png" 2>/dev/null || return 1
  local size
  size=$(identify -format '%wx%h' "$work/piece-$1.png")
  convert "$work/window.png" -crop "$size+$2+$3" +repage "$work/seen.png" || return 1
  [ "$(compare -metric AE "$work/seen.png" "$work/piece-$1.png" null: 2>&1)" = "0" ]
}

# ---------------------------------------------------------------- [INPUT]

# A left click at the window's client point.
click() { xdotool mousemove --window "$win" "$1" "$2" click 1; }
# The pointer away from the window, so that no look is a hover look.
park() { xdotool mousemove 20 20; }
copy() { printf "%s" "$1" | xclip -selection clipboard 2>/dev/null || fail "xclip could not copy"; }
clipboard_empty() { [ -z "$(xclip -o -selection clipboard 2>/dev/null)" ]; }

# Copies every address of the array links in turn and captures it with the
# capture button at capture_x, capture_y: the button lights (piece
# capture-offered), the address is listed as the next item after those the
# list held before (with site code $1 when given), the clipboard is emptied
# and the button is plain again (piece capture-plain).  Uses
# online_bound_s, state_bound_s and screen_bound_s.
capture_links() {
  local site="${1:-}" k n before also
  capture_pieces
  list_says True || fail "the list file could not be read"
  before=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["item_count"])' "$work/list.json")
  for (( k = 0; k < ${#links[@]}; k++ )); do
    n=$(( before + k ))
    also=""
    [ -n "$site" ] && also=" and items[$n]['siteKind'] == $site"
    copy "${links[$k]}"
    wait_until "$online_bound_s" "capture button lit for link $k" shows capture-offered 4 3
    click "$capture_x" "$capture_y"
    wait_until "$state_bound_s" "link $k listed as captured" \
      list_says "d['item_count'] == $(( n + 1 )) and items[$n]['pageAddress'] == '${links[$k]}'$also"
    wait_until "$screen_bound_s" "clipboard emptied by the capture" clipboard_empty
    park
    wait_until "$screen_bound_s" "capture button plain again" shows capture-plain 4 3
  done
}

# A key typed into the window: it takes the focus first, and the key is
# held for a while, since the program reads a key as down from its press to
# its release and looks at the keys once per message or timer tick.
type_key() {
  timeout 5 xdotool windowfocus --sync "$win" 2>/dev/null || fail "the window could not take the focus"
  xdotool keydown "$1"
  sleep 0.15
  xdotool keyup "$1"
  sleep 0.05
}

# The item menu (display/window_layout.h): opened by a right click on a
# listed row at (x, y), it shows at that point (away from the right and
# bottom edges); entry n (1 start, 2 stop, 3 remove, 4 open the page, 5
# show the file) is picked on rows 17 pixels apart and lights its strip at
# the offsets 0, 15, 30, 46, 62 below the menu's top.  menu_pick X Y N runs
# entry N on the row at (X, Y), each step seen on the screen first.
menu_pick() {
  local x="$1" y="$2" n="$3"
  local offsets=(0 0 15 30 46 62) sources=(0 406 421 436 452 468) names=(- start stop remove "open-page" "show-file")
  piece menu 291 327 70 78
  piece "menu-${names[$n]}" 291 "${sources[$n]}" 70 16
  xdotool mousemove --window "$win" "$x" "$y" click 3
  wait_until 5 "item menu open at ($x,$y)" shows menu "$x" "$y"
  xdotool mousemove --window "$win" $(( x + 30 )) $(( y + (n - 1) * 17 + 6 ))
  wait_until 5 "${names[$n]} entry lit" shows "menu-${names[$n]}" "$x" $(( y + offsets[n] ))
  xdotool click 1
}
