#!/usr/bin/env bash
# Web pages that declare their video, downloaded by the real program on a
# virtual X display of its own, with the demo web on loopback as its proxy
# and serving TLS with certificates from a private test CA (trusted through
# SSL_CERT_FILE).
#
# One run: six page links copied one after the other and captured with the
# capture button, all through the proxy -
#   tag     https, a page whose <video><source> names a 2 MB mp4
#   jsonld  https, a chunked page whose JSON-LD contentUrl names an mp4
#   none    plain http, a page without a video
#   hls     https, an HLS playlist answer
#   dash    plain http, a DASH manifest answer
#   drm     https, a DASH manifest naming a DRM scheme
# At the end the two declared streams are Finished, named after the page
# titles and byte-exact, and were asked for with the page as Referer; the
# other four are Failed with no file written, and the failure log beside
# the list holds one line for each with its address and reason.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
. "$2/tests/scripts/lib_e2e.sh"
. "$2/tests/scripts/lib_demo_web.sh"
e2e_begin "$1" "$2"

online_bound_s=20     # the probe answers about 2.5 s after start
state_bound_s=30      # a capture, a page, a probe, a 2 MB stream on loopback
screen_bound_s=5      # the window is repainted every 50 ms

e2e_need Xvfb xdotool xclip import convert compare openssl python3
e2e_start_display
start_demo_web web --tls-dir "$work/tls" --log "$work/web.log"
good=$(sed -n 's/^TLS good \([0-9]*\)$/\1/p' "$work/web.out")
[ -n "$good" ] || fail "the demo web has no TLS listener"
export SSL_CERT_FILE="$work/tls/ca.pem"

e2e_evidence() {
  echo "demo web requests:"; web_log_lines "$work/web.log"
  echo "failure log:"; cat "$work/quorvax.log" 2>/dev/null
  echo "downloads:"; ls -la "$work/downloads" 2>/dev/null
}

downloads="$work/downloads"
mkdir -p "$downloads"
e2e_make_list "$downloads" 6

links=("https://127.0.0.1:$good/page/tag?size=2000000"
       "https://127.0.0.1:$good/page/jsonld?size=300000"
       "http://127.0.0.1:$port/page/none"
       "https://127.0.0.1:$good/page/hls"
       "http://127.0.0.1:$port/page/dash"
       "https://127.0.0.1:$good/page/drm")

piece capture-offered 61 421 52 53
piece capture-plain 4 3 52 53
capture_x=30 capture_y=29

e2e_start_program
park
capture_links 27

wait_until "$state_bound_s" "both declared streams finished, the refused pages failed" \
  list_says "items[0]['stateName'] == 'Finished' and items[1]['stateName'] == 'Finished' and
             all(items[k]['stateName'] == 'Failed' for k in (2, 3, 4, 5)) and
             all(items[k]['siteKind'] == 27 for k in range(6))"

web_log_has "$work/web.log" "GET /stream/tagclip.mp4" "Referer: ${links[0]}" ||
  fail "the <video> stream was not asked for with its page as Referer"
web_log_has "$work/web.log" "GET /stream/jsonldclip.mp4" "Referer: ${links[1]}" ||
  fail "the JSON-LD stream was not asked for with its page as Referer"

# Files: the two streams byte for byte under their pages' titles, nothing
# else in the folder.
tag_file=$(ls "$downloads"/"Tag page "*.mp4 2>/dev/null | head -1)
jsonld_file=$(ls "$downloads"/"Jsonld page "*.mp4 2>/dev/null | head -1)
[ -n "$tag_file" ] && [ -n "$jsonld_file" ] || fail "no file named after a page title"
files_are_streams "$tag_file" tagclip.mp4 2000000 "$jsonld_file" jsonldclip.mp4 300000 ||
  fail "a downloaded file is not its stream"
[ "$(ls "$downloads" | wc -l)" -eq 2 ] || fail "files written for refused pages: $(ls "$downloads")"
echo "  two streams byte-exact as '$(basename "$tag_file")' and '$(basename "$jsonld_file")'"

[ -f "$work/quorvax.log" ] || fail "no failure log beside the list"
python3 - "$work/quorvax.log" "${links[2]}" "${links[3]}" "${links[4]}" "${links[5]}" <<'PY' || fail "the failure log"
import sys
lines = open(sys.argv[1]).read().splitlines()
expected = [(sys.argv[2], "no video on the page"), (sys.argv[3], "streaming manifest"),
            (sys.argv[4], "streaming manifest"), (sys.argv[5], "protected")]
if len(lines) != len(expected):
    sys.exit("  %d lines, not %d: %r" % (len(lines), len(expected), lines))
for address, reason in expected:
    if sum(1 for l in lines if l.startswith("t+") and l.endswith(" " + address + " " + reason)) != 1:
        sys.exit("  no line for %s: %s in %r" % (address, reason, lines))
PY
echo "  failure log: $(wc -l < "$work/quorvax.log") lines"
pass
