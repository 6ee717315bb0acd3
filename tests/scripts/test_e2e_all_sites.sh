#!/usr/bin/env bash
# The real program, offscreen, takes one queued download of every supported
# site from its page to a finished file through the demo web on loopback
# (set as its proxy), nine at a time.  Every file must be named from its
# page, hold exactly the stream's bytes (compared with a copy fetched by
# curl through the same server), and be stored as Finished with doneSize
# equal to totalSize.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
build="$1"
src="$2"
work="$(mktemp -d)"
web_pid=""
prog_pid=""
cleanup() {
  [ -n "$prog_pid" ] && kill "$prog_pid" 2>/dev/null
  [ -n "$web_pid" ] && kill "$web_pid" 2>/dev/null
  exec 7>&- 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -f "$work/show.txt" ] && cat "$work/show.txt"
  [ -f "$work/program.log" ] && tail -n 20 "$work/program.log"
  exit 1
}

[ -x "$build/quorvax" ] || fail "no program at $build/quorvax"
[ -x "$build/quorvax-list" ] || fail "no list tool at $build/quorvax-list"
command -v curl >/dev/null || fail "curl is needed to fetch the reference copies"

# --- the demo web on a free loopback port; it ends when fd 7 closes
. "$src/tests/scripts/lib_demo_web.sh"
start_demo_web

# --- the list: one queued item per site pattern, nine downloads at a time
list="$work/list.o"
"$build/quorvax-list" init "$list" --folder "$work/downloads" >/dev/null || fail "list init"
"$build/quorvax-list" set "$list" --max 9 --proxy "127.0.0.1:$port" --use-proxy 1 \
  --show-finished 1 >/dev/null || fail "list set"
sites="reelbox.test:0 tubeon.test:1 flvbay.test:2 vidcue.test:3 clipgo.test:25 showly.test:4
vidora.test:5 moviestar.test:7 mvs.test:7 flashy.test:8 redclips.test:9 html5v.test:10
videotrek.test:11 escapo.test:13 pathviewer.test:14 streamhall.test:16 addvar.test:17
playlst.test:18 vidfan.test:19 qualityvid.test:20 gdaclip.test:21 fil.test:22 vsr.test:23
filer2.test:24"
n=0
for entry in $sites; do
  n=$((n + 1))
  host="${entry%%:*}"
  kind="${entry##*:}"
  "$build/quorvax-list" add "$list" --page "$host/watch/e2e$n" --site "$kind" >/dev/null \
    || fail "list add $host"
done
[ "$n" -eq 24 ] || fail "expected 24 sites, listed $n"

# --- the program runs until every item is settled (bounded)
(cd "$work" && QT_QPA_PLATFORM=offscreen exec "$build/quorvax") > "$work/program.log" 2>&1 &
prog_pid=$!
settled=0
for _ in $(seq 120); do
  sleep 1
  kill -0 "$prog_pid" 2>/dev/null || fail "the program ended by itself"
  "$build/quorvax-list" show "$list" --json > "$work/progress.json" 2>/dev/null || continue
  if python3 - "$work/progress.json" <<'PY'
import json, sys
items = json.load(open(sys.argv[1]))["items"]
sys.exit(0 if len(items) == 24 and all(i["stateName"] in ("Finished", "Failed") for i in items) else 1)
PY
  then settled=1; break; fi
done
kill -TERM "$prog_pid"
wait "$prog_pid"; rc=$?
prog_pid=""
"$build/quorvax-list" show "$list" > "$work/show.txt" 2>&1
[ "$settled" -eq 1 ] || fail "not every download settled within 120 s"
[ "$rc" -eq 0 ] || fail "exit code $rc after SIGTERM"

# --- every item finished, named from its page, byte-identical to curl's copy
"$build/quorvax-list" show "$list" --json > "$work/final.json" || fail "show --json"
python3 - "$work/final.json" "$work/downloads" "$port" "$work" <<'PY' || fail "downloads differ"
import json, os, subprocess, sys
data = json.load(open(sys.argv[1]))
folder, port, work = sys.argv[2], sys.argv[3], sys.argv[4]
problems = []
items = data["items"]
if data["item_count"] != 24 or len(items) != 24:
    problems.append("item count %d" % data["item_count"])
for n, item in enumerate(items, 1):
    page = item["pageAddress"]
    where = "#%d %s" % (n, page)
    if item["stateName"] != "Finished":
        problems.append("%s: %s" % (where, item["stateName"]))
        continue
    if item["totalSize"] == 0 or item["doneSize"] != item["totalSize"]:
        problems.append("%s: done %d of %d" % (where, item["doneSize"], item["totalSize"]))
    name = item["fileName"]
    # Named from the page title; the one site named from its stream address
    # takes the address's last path segment.
    expected_start = "Demo clip e2e%d a day at" % n
    if item["siteKind"] == 0:
        if not name.endswith("e2e%d.flv" % n):
            problems.append("%s: file name %r" % (where, name))
    elif not (name.startswith(expected_start) and name.endswith(".flv")):
        problems.append("%s: file name %r" % (where, name))
    path = os.path.join(folder, name)
    if not os.path.isfile(path):
        problems.append("%s: no file %r" % (where, name))
        continue
    stream = item["streamAddress"]
    if stream.lower().startswith("http://"):
        stream = stream[7:]
    copy = os.path.join(work, "reference-%d" % n)
    subprocess.run(["curl", "-s", "-o", copy, "-x", "http://127.0.0.1:" + port,
                    "http://" + stream], check=True)
    mine = open(path, "rb").read()
    ref = open(copy, "rb").read()
    if len(ref) != item["totalSize"] or mine != ref:
        problems.append("%s: file of %d bytes, reference %d, equal %s"
                        % (where, len(mine), len(ref), mine == ref))
for p in problems:
    print(p)
sys.exit(1 if problems else 0)
PY
echo "PASS"
