#!/usr/bin/env bash
# The real program with a download folder that fills up, on a virtual X
# display of its own with the demo web on loopback as its proxy, slowed to
# 400,000 bytes a second per connection.
#
# The folder holds 4 MiB: a 4 MiB tmpfs mounted on it where the check runs
# as root and the mount is allowed, else the write-limit layer of the test
# build (tests/support/disk_limit, preloaded into the program), which
# answers the program's writes in that folder as a 4 MiB disk would; the
# check says which one ran (QUORVAX_DISK_FULL_LAYER=limit asks for the
# layer).  As root the check runs in a mount namespace of its own where it
# can, so that not even a kill of the check leaves the mount behind; it
# unmounts on every way out all the same.
#
# One run: a 6 MB stream and a 1 MB one download at once.  The small one
# finishes byte for byte; the large one fills the folder and ends Failed
# with its record written (the stored bytes are the ones the file holds,
# every one the stream's); it stays failed, asking for nothing more, while
# the program runs on: its timer still polls the clipboard (a copied address
# lights the capture button) and the window answers the item menu.  Room is
# made (the tmpfs remounted larger, or the limit raised) and the menu's
# start entry resumes the large one from the byte it failed at, to a whole
# file of the stream's bytes; the small file is not touched.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
if [ "$(id -u)" -eq 0 ] && [ -z "${QUORVAX_DISK_FULL_NAMESPACE:-}" ] &&
   unshare --mount --propagation private true 2>/dev/null; then
  QUORVAX_DISK_FULL_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
fi
. "$2/tests/scripts/lib_e2e.sh"
. "$2/tests/scripts/lib_demo_web.sh"
e2e_begin "$1" "$2"

folder_bytes=4194304
large=6000000 small=1000000
rate=400000
state_bound_s=20      # list changes follow a click within a second
fill_bound_s=60       # the folder fills about 10 s after the start
finish_bound_s=60     # the rest of the large stream: about 8 s
screen_bound_s=10     # the probe has answered long before; a tick is 25 ms

downloads="$work/downloads"
e2e_need Xvfb xdotool xclip xwininfo import convert compare python3
e2e_start_display
start_demo_web web --rate "$rate" --log "$work/web.log"

e2e_evidence() {
  echo "folder:"; ls -l "$downloads" 2>/dev/null; df -B1 "$downloads" 2>/dev/null
  echo "demo web requests:"; web_log_lines "$work/web.log"
}

# --- the folder that fills up
mkdir "$downloads"
limit_file="$work/disk-limit"
unmount_folder() {
  { kill -KILL "$prog_pid" && wait "$prog_pid"; } 2>/dev/null   # nothing may hold a file open in it
  local tries
  for (( tries = 0; tries < 50; tries++ )); do
    mountpoint -q "$downloads" || return 0
    umount "$downloads" 2>/dev/null && return 0
    sleep 0.1
  done
  umount -l "$downloads"
}
layer=limit
if [ "${QUORVAX_DISK_FULL_LAYER:-}" = limit ]; then
  why="asked for by QUORVAX_DISK_FULL_LAYER"
elif [ "$(id -u)" -ne 0 ]; then
  why="not root"
elif ! mount -t tmpfs -o "size=$folder_bytes,mode=0755" quorvax-check "$downloads" 2> "$work/mount.err"; then
  why="the mount was refused: $(cat "$work/mount.err")"
else
  layer=tmpfs
  e2e_at_exit unmount_folder
  echo "full disk: a tmpfs of $folder_bytes bytes on the download folder"
fi
if [ "$layer" = limit ]; then
  [ -f "$build/tests/libdisk_limit.so" ] || fail "no write-limit layer at $build/tests/libdisk_limit.so"
  echo "$folder_bytes" > "$limit_file"
  echo "full disk: the write-limit layer at $folder_bytes bytes ($why)"
fi

# The program, with the layer preloaded when it is the one in use (only the
# program's own writes are limited).
start_program_on_folder() {
  if [ "$layer" = limit ]; then
    export LD_PRELOAD="$build/tests/libdisk_limit.so" QUORVAX_DISK_LIMIT_FILE="$limit_file" \
      QUORVAX_DISK_LIMIT_DIR="$(realpath "$downloads")"
    e2e_start_program
    export -n LD_PRELOAD QUORVAX_DISK_LIMIT_FILE QUORVAX_DISK_LIMIT_DIR
  else
    e2e_start_program
  fi
}

make_room() {
  if [ "$layer" = tmpfs ]; then
    mount -o remount,size=$(( 4 * folder_bytes )) "$downloads" || fail "the tmpfs could not be enlarged"
  else
    echo $(( 4 * folder_bytes )) > "$limit_file"
  fi
}

# --- the list: both at once, the large one first
large_page="reelbox.test/watch/large?size=$large"
small_page="vidcue.test/watch/small?size=$small"
e2e_make_list "$downloads" 2 "$large_page" 0 "$small_page" 3
row_x=100 row_y=67    # the first row (display/window_layout.h)

start_program_on_folder
park
wait_until "$fill_bound_s" "small download finished" \
  list_says "items[1]['stateName'] == 'Finished' and items[1]['doneSize'] == $small"
wait_until "$fill_bound_s" "large download failed on the full folder" \
  list_says "items[0]['stateName'] == 'Failed'"
large_name=$(item_field 0 fileName)
small_name=$(item_field 1 fileName)
done_at_failure=$(item_field 0 doneSize)
on_disk=$(stat -c %s "$downloads/$large_name") || fail "no file '$large_name'"
[ "$on_disk" -eq "$done_at_failure" ] ||
  fail "the failed record says $done_at_failure bytes stored, the file holds $on_disk"
[ "$done_at_failure" -gt $(( folder_bytes - small - 200000 )) ] && [ "$done_at_failure" -lt "$large" ] ||
  fail "the large download failed at $done_at_failure bytes, not where the folder is full"
list_says "items[0]['totalSize'] == $large" || fail "the failed record lost the stream's length"
files_are_streams "$downloads/$large_name" large "$done_at_failure" "$downloads/$small_name" small "$small" ||
  fail "a file is not its stream's bytes"
small_before=$(stat -c '%s %y' "$downloads/$small_name")
echo "  failed with $done_at_failure bytes stored, as many as the file holds"

# --- it stays failed and asks for nothing; the program runs on
requests_of_large() { web_log_lines "$work/web.log" | grep -c large; }
requests_at_failure=$(requests_of_large)
moved_or_asked() {
  ! list_says "items[0]['stateName'] == 'Failed' and items[0]['doneSize'] == $done_at_failure" ||
    [ "$(requests_of_large)" -ne "$requests_at_failure" ]
}
stays_false 3 "the failed download moved or asked again" moved_or_asked
kill -0 "$prog_pid" 2>/dev/null || fail "the program ended"
piece capture-offered 61 421 52 53
copy "tubeon.test/watch/unrelated"
wait_until "$screen_bound_s" "the timer's clipboard poll lights the capture button" shows capture-offered 4 3

# --- room made, the menu's start entry: resumed from the byte it failed at
make_room
menu_pick "$row_x" "$row_y" 1
wait_until "$finish_bound_s" "large download finished" \
  list_says "items[0]['stateName'] == 'Finished' and items[0]['doneSize'] == $large"
stream=$(item_field 0 streamAddress)
web_log_has "$work/web.log" "${stream#http://}" "Range: bytes=$done_at_failure-" ||
  fail "the stream was not asked for again from byte $done_at_failure"
files_are_streams "$downloads/$large_name" large "$large" "$downloads/$small_name" small "$small" ||
  fail "a file is not its stream's bytes"
[ "$(stat -c '%s %y' "$downloads/$small_name")" = "$small_before" ] || fail "the small file was touched"
list_says "items[1]['stateName'] == 'Finished' and items[1]['doneSize'] == $small" ||
  fail "the small download changed"
kill -0 "$prog_pid" 2>/dev/null || fail "the program ended"
echo "  resumed from byte $done_at_failure to all $large bytes"
pass
