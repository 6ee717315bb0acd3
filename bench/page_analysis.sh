#!/usr/bin/env bash
# page_analysis.sh - times each site rule on a full 322,491-byte page window.
#
# The pages come from the demo web's own page maker (video_page in
# tests/testweb/testweb.py), one per site code, on the first demo site of
# that code: the answer as the program receives it (status line and headers
# as the demo web sends them, then the page) padded with the page maker's
# filler so that it is exactly the page window, the player part after the
# filler; and a page of the same size with nothing a rule could match.
# Then quorvax_page_bench runs each rule on them (bench/page_bench.cpp).
#
# Usage: bash bench/page_analysis.sh [BUILD_DIR] [REPETITIONS]
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$src/build}" && pwd)"
repetitions="${2:-200}"
cmake --build "$build" --target quorvax_page_bench -j2 > /dev/null
pages="$(mktemp -d /tmp/quorvax-pages-XXXXXX)"
trap 'rm -rf "$pages"' EXIT

python3 - "$src/tests/testweb" "$pages" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import testweb

WINDOW = 322491
out = sys.argv[2]
hosts = {}
for host, code in testweb.SITES.items():
    hosts.setdefault(code, host)

def answer(body):
    head = ["HTTP/1.1 200 OK", "Server: testweb", "Content-Type: text/html",
            "Content-Length: %d" % len(body), "Connection: close"]
    return ("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body

def padded(host, code, extra):
    # The filler goes before the player part; its length makes the whole
    # answer exactly the window (taken again once the header's length figure
    # has its final number of digits).
    query = dict(extra, size="5000000", pad="1")
    for _ in range(3):
        data = answer(testweb.video_page(host, code, "clip", query))
        query["pad"] = str(int(query["pad"]) + WINDOW - len(data))
    assert len(data) == WINDOW, (code, len(data))
    return data

for code, host in sorted(hosts.items()):
    open("%s/found-%d.txt" % (out, code), "wb").write(padded(host, code, {}))
    open("%s/bare-%d.txt" % (out, code), "wb").write(padded(host, code, {"bare": "1", "noend": "1"}))
PY

"$build/quorvax_page_bench" "$pages" "$repetitions"
