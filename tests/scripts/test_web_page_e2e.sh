#!/usr/bin/env bash
# Web pages that declare their video, downloaded by the real program on a
# virtual X display of its own, with the demo web on loopback as its proxy
# and serving TLS with certificates from a private test CA (trusted through
# SSL_CERT_FILE).
#
# One run: ten page links copied one after the other and captured with the
# capture button, all through the proxy -
#   tag     https, a page whose <video><source> names a 2 MB mp4
#   jsonld  https, a chunked page whose JSON-LD contentUrl names an mp4
#   sources https, four <source>s under <base href>, the 720p one relative
#           and written with &amp;
#   nested  https, JSON-LD whose VideoObject sits inside @graph
#   og      plain http redirected to https, og:video:secure_url with its
#           type beside an og:video without one; named by og:title
#   noext   https, an address without an extension answering with media
#           and a Content-Disposition filename* (UTF-8)
#   none    plain http, a page without a video
#   hls     https, an HLS playlist answer
#   dash    plain http, a DASH manifest answer
#   drm     https, a DASH manifest naming a DRM scheme
# At the end the six streams are Finished, named after the page titles
# (or the answer's name) and byte-exact, and the declared ones were asked
# for with the page as Referer; the other four are Failed with no file written, and the failure log beside
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
       "https://127.0.0.1:$good/page/drm"
       "https://127.0.0.1:$good/page/sources?size=250000"
       "https://127.0.0.1:$good/page/nested?size=150000"
       "http://127.0.0.1:$port/redirect?to=https://127.0.0.1:$good/page/og"
       "https://127.0.0.1:$good/stream/noext?size=120000&disposition=Caf%C3%A9%20clip.mp4")

e2e_start_program
park
capture_links 27

wait_until "$state_bound_s" "the six streams finished, the refused pages failed" \
  list_says "all(items[k]['stateName'] == 'Finished' for k in (0, 1, 6, 7, 8, 9)) and
             all(items[k]['stateName'] == 'Failed' for k in (2, 3, 4, 5)) and
             all(items[k]['siteKind'] == 27 for k in range(10))"

web_log_has "$work/web.log" "GET /stream/tagclip.mp4" "Referer: ${links[0]}" ||
  fail "the <video> stream was not asked for with its page as Referer"
web_log_has "$work/web.log" "GET /stream/jsonldclip.mp4" "Referer: ${links[1]}" ||
  fail "the JSON-LD stream was not asked for with its page as Referer"
web_log_has "$work/web.log" "GET /stream/sourcesclip.mp4?k=1&size=250000" "Referer: ${links[6]}" ||
  fail "the 720p source was not asked for, resolved against <base href> with &amp; decoded"

# Files: the six streams byte for byte under their pages' titles or the
# answer's own name (a "&" a name cannot keep becomes a space), each with
# a number of its own; nothing else in the folder.
list_says "True" || fail "the list cannot be read"
names=()
for k in 0 1 6 7 8 9; do names+=("$(item_field $k fileName)"); done
expected=("Tag page" "Jsonld page" "Sources page" "Nested page" "Og title" "Café clip")
for k in "${!names[@]}"; do
  [[ "${names[$k]}" =~ ^"${expected[$k]}"\ [0-9a-f]+\.mp4$ ]] ||
    fail "file name \"${names[$k]}\", not \"${expected[$k]} <number>.mp4\""
done
files_are_streams "$downloads/${names[0]}" tagclip.mp4 2000000 "$downloads/${names[1]}" jsonldclip.mp4 300000 \
  "$downloads/${names[2]}" sourcesclip.mp4 250000 "$downloads/${names[3]}" nestedclip.mp4 150000 \
  "$downloads/${names[4]}" ogclip.mp4 100000 "$downloads/${names[5]}" noext 120000 ||
  fail "a downloaded file is not its stream"
[ "$(ls "$downloads" | wc -l)" -eq 6 ] || fail "files written for refused pages: $(ls "$downloads")"
echo "  six streams byte-exact: $(printf "'%s' " "${names[@]}")"

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
