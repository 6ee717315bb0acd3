#!/usr/bin/env bash
# The real program killed with SIGKILL at random moments while it downloads,
# and started again in the same folder each time, on a virtual X display of
# its own with the demo web on loopback as its proxy.
#
# The list: five streams of 1.4 to 2 MB from sites of different rules (a
# redirect to the stream, an encoded stream map, a second page, a video
# tag, a feed), two at a time, served at 150,000 bytes a second per
# connection so that the kills find them anywhere from the page to the last
# block until about the last kill; and first, a record such as a kill
# leaves between storing a stream's last block and recording the finish
# (Downloading, every byte in its file).
#
# After every kill: list.o loads, with the same items in the same order;
# no item's stored progress goes back; every file in the folder belongs to
# an item and holds the first bytes of its stream; a file the list called
# Finished once keeps its length, modification time and bytes at every
# later start (a finished item stays finished); the program starts again
# and shows its window.  At the end every item is Finished and every file
# holds exactly its stream; one more kill and start leaves them all as
# they are.
#
# The kill delays come from bash's generator seeded with
# QUORVAX_CRASH_SEED (printed at the start; a new seed on every run unless
# it is set).  The seed replays the delays, not the program's timing.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
. "$2/tests/scripts/lib_e2e.sh"
. "$2/tests/scripts/lib_demo_web.sh"
e2e_begin "$1" "$2"

kills=20
delay_min_ms=200      # kill delays, counted from the window's showing
delay_span_ms=6800
rate=150000           # stream bytes a second, per connection
finish_bound_s=120    # the last run: at most about 30 s of transfer
settle_s=5            # the last start: the probe (about 2.5 s) and a sample

e2e_need Xvfb xdotool python3
seed="${QUORVAX_CRASH_SEED:-$(( $(date +%s%N) / 1000 % 1000000 ))}"
[[ "$seed" =~ ^[0-9]+$ ]] || fail "QUORVAX_CRASH_SEED must be a number, not '$seed'"
echo "kill delays from seed $seed (QUORVAX_CRASH_SEED=$seed replays them)"
RANDOM=$seed

e2e_start_display
start_demo_web web --rate "$rate" --log "$work/web.log"

e2e_evidence() {
  echo "kills so far:"; cat "$work/kills.txt" 2>/dev/null
  echo "demo web requests (last 30):"; web_log_lines "$work/web.log" | tail -n 30
  echo "(seed $seed)"
}

# --- the list: page, site code and stream length of each download; the
# stream is named after the page's last segment
downloads="$work/downloads"
pages=("vidcue.test/watch/complete" "reelbox.test/watch/crasha" "tubeon.test/watch/crashb"
       "flashy.test/watch/crashc" "html5v.test/watch/crashd" "escapo.test/watch/crashe")
sites=(3 0 1 8 10 13)
sizes=(1500000 1800000 2000000 1400000 1700000 1600000)
e2e_make_list "$downloads" 2
mkdir "$downloads"
python3 - "$src/tests/testweb" "$downloads/complete.flv" "${sizes[0]}" <<'PY' || fail "writing complete.flv"
import sys
sys.path.insert(0, sys.argv[1])
import testweb
open(sys.argv[2], "wb").write(testweb.stream_bytes("complete", 0, int(sys.argv[3])))
PY
"$build/quorvax-list" add "$list" --page "${pages[0]}?size=${sizes[0]}" --site "${sites[0]}" \
  --state Downloading --total "${sizes[0]}" --done "${sizes[0]}" --file complete.flv \
  --stream "cdn.vidcue.test/stream/complete?size=${sizes[0]}" >/dev/null || fail "list add"
for (( i = 1; i < ${#pages[@]}; i++ )); do
  "$build/quorvax-list" add "$list" --page "${pages[$i]}?size=${sizes[$i]}" --site "${sites[$i]}" \
    >/dev/null || fail "list add ${pages[$i]}"
done
expected="$work/expected.txt"   # page address, stream name, length
for (( i = 0; i < ${#pages[@]}; i++ )); do
  echo "${pages[$i]}?size=${sizes[$i]} ${pages[$i]##*/} ${sizes[$i]}"
done > "$expected"

# --- what a kill may leave and what it may not.  seen.json keeps, from one
# check to the next, each item's stored progress and, for each file first
# seen Finished, its length, modification time and hash.  Prints a line of
# state letters and stored bytes, and the files_are_streams arguments (on
# lines of their own after "FILES").
crash_state() {
  python3 - "$work/list.json" "$expected" "$downloads" "$work/seen.json" "$1" <<'PY'
import hashlib, json, os, sys
listing, expected_path, folder, seen_path, final = sys.argv[1:6]
d = json.load(open(listing))
items = d["items"]
expected = [line.split() for line in open(expected_path)]
seen = json.load(open(seen_path)) if os.path.exists(seen_path) else {"done": {}, "finished": {}}
problems = []
if d["item_count"] != len(expected) or [i["pageAddress"] for i in items] != [e[0] for e in expected]:
    sys.exit("  the list holds other items: %s" % [i["pageAddress"] for i in items])
files = []
for item, (page, name, size) in zip(items, expected):
    state, done, total, file_name = item["stateName"], item["doneSize"], item["totalSize"], item["fileName"]
    size = int(size)
    if state is None:
        problems.append("%s in state code %d" % (page, item["state"]))
    if total not in (0, size) or done > size:
        problems.append("%s: %d of %d bytes stored, the stream has %d" % (page, done, total, size))
    if done < seen["done"].get(page, 0):
        problems.append("%s: stored progress went back from %d to %d" % (page, seen["done"][page], done))
    seen["done"][page] = done
    path = os.path.join(folder, file_name) if file_name else ""
    if page in seen["finished"]:
        before = seen["finished"][page]
        if state != "Finished":
            problems.append("%s was Finished and is %s now" % (page, state))
        if not os.path.exists(before["path"]):
            problems.append("the finished file %s is gone" % before["path"])
        else:
            st = os.stat(before["path"])
            now = {"path": before["path"], "size": st.st_size, "mtime": st.st_mtime_ns,
                   "sha256": hashlib.sha256(open(before["path"], "rb").read()).hexdigest()}
            if now != before:
                problems.append("the finished file %s was touched: %s, before %s" % (before["path"], now, before))
    elif state == "Finished":
        if done != size or total != size or not path or not os.path.exists(path) or os.path.getsize(path) != size:
            problems.append("%s Finished with %d of %d bytes stored, file '%s'" % (page, done, total, file_name))
        else:
            st = os.stat(path)
            seen["finished"][page] = {"path": path, "size": st.st_size, "mtime": st.st_mtime_ns,
                                      "sha256": hashlib.sha256(open(path, "rb").read()).hexdigest()}
    if final == "final" and state != "Finished":
        problems.append("%s ended %s" % (page, state))
    if file_name:
        files += [path, name, str(size) if state == "Finished" else "<=%d" % size]
named = {i["fileName"] for i in items if i["fileName"]}
strays = sorted(set(os.listdir(folder)) - named)
if strays:
    problems.append("files no item names: %s" % strays)
json.dump(seen, open(seen_path, "w"))
if problems:
    sys.exit("\n".join("  " + p for p in problems))
print(" ".join(i["stateName"][:2] if i["stateName"] else "?" for i in items),
      sum(i["doneSize"] for i in items), "bytes stored,", len(seen["finished"]), "finished")
print("FILES")
print("\n".join(files))
PY
}

# Runs the checks of what a kill left: list.o loads, crash_state holds,
# and every file holds its stream's first bytes.
check_what_was_left() {
  "$build/quorvax-list" show "$list" --json > "$work/list.json" 2> "$work/list.err" ||
    fail "list.o does not load after $1: $(cat "$work/list.err")"
  crash_state "$2" > "$work/state.txt" || { cat "$work/state.txt"; fail "after $1"; }
  local args
  mapfile -t args < <(sed '1,/^FILES$/d' "$work/state.txt")
  files_are_streams "${args[@]}" || fail "after $1: a file is not its stream's bytes"
  echo "  after $1: $(head -n1 "$work/state.txt")"
}

# --- the kills
for (( k = 1; k <= kills; k++ )); do
  e2e_start_program
  delay_ms=$(( delay_min_ms + (RANDOM * 32768 + RANDOM) % delay_span_ms ))
  sleep "$(( delay_ms / 1000 )).$(printf '%03d' $(( delay_ms % 1000 )))"
  kill -0 "$prog_pid" 2>/dev/null || fail "the program ended by itself before kill $k"
  e2e_kill_program
  echo "kill $k after $delay_ms ms" >> "$work/kills.txt"
  check_what_was_left "kill $k at $delay_ms ms" running
done

# --- the last run: every item finishes, each file exactly its stream
e2e_start_program
all_finished() { list_says "all(i['stateName'] == 'Finished' for i in items)"; }
wait_until "$finish_bound_s" "every item Finished" all_finished
check_what_was_left "the last run" final
web_log_has "$work/web.log" "/stream/crash" "Range: bytes=" || fail "no stream was ever resumed from a byte of its own"
! web_log_has "$work/web.log" "/complete" || fail "the item whose file was complete was asked for again"
echo "  $(web_log_lines "$work/web.log" | grep -c '/stream/') stream requests in all"

# --- one kill more: a start on a finished list changes nothing
e2e_kill_program
e2e_start_program
sleep "$settle_s"
kill -0 "$prog_pid" 2>/dev/null || fail "the program ended by itself on the finished list"
e2e_kill_program
check_what_was_left "a start on the finished list" final
pass
