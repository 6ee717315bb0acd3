#!/usr/bin/env bash
# Direct media links downloaded by the real program, on a virtual X display
# of its own, with the demo web on loopback as its proxy and serving TLS
# with certificates from a private test CA (trusted through SSL_CERT_FILE).
#
# One run: six links copied one after the other and captured with the
# capture button, all through the proxy -
#   slow.mp4   https, a 9 MB stream at 300,000 bytes a second
#   clip.mp4   https, 3 MB
#   redirect   plain http, redirected to an https stream
#   wrong.mp4  https to a listener whose certificate names another host
#   self.mp4   https to a listener with a self-signed certificate
#   huge.mp4   https, announcing a length of 5,000,000,000 bytes
# The program is killed (SIGKILL) while slow.mp4 is part way, once the
# others have settled, and started again: slow.mp4 carries on with a
# ranged request over TLS.  At the end the three streams are Finished and
# byte-exact; the other three are Failed with no file written, and the
# failure log beside the list holds one line for each, with its address
# and reason (twice: a start queues failed items again).
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
. "$2/tests/scripts/lib_e2e.sh"
. "$2/tests/scripts/lib_demo_web.sh"
e2e_begin "$1" "$2"

online_bound_s=20     # the probe answers about 2.5 s after start
state_bound_s=20      # a capture, a probe or a refusal: well under a second
finish_bound_s=90     # slow.mp4 needs 30 s in all
screen_bound_s=5      # the window is repainted every 50 ms

e2e_need Xvfb xdotool xclip import convert compare openssl python3
e2e_start_display
start_demo_web web --tls-dir "$work/tls" --log "$work/web.log"
tls_port() { sed -n "s/^TLS $1 \([0-9]*\)\$/\1/p" "$work/web.out"; }
good=$(tls_port good)
wrongname=$(tls_port wrongname)
untrusted=$(tls_port untrusted)
[ -n "$good" ] && [ -n "$wrongname" ] && [ -n "$untrusted" ] || fail "the demo web has no TLS listeners"
export SSL_CERT_FILE="$work/tls/ca.pem"

e2e_evidence() {
  echo "demo web requests:"; web_log_lines "$work/web.log"
  echo "failure log:"; cat "$work/quorvax.log" 2>/dev/null
}

downloads="$work/downloads"
mkdir -p "$downloads"
e2e_make_list "$downloads" 6

links=("https://127.0.0.1:$good/stream/slow.mp4?size=9000000&rate=300000"
       "https://127.0.0.1:$good/stream/clip.mp4?size=3000000"
       "http://127.0.0.1:$port/redirect.mp4?to=https://127.0.0.1:$good/stream/moved.mp4"
       "https://127.0.0.1:$wrongname/stream/wrong.mp4"
       "https://127.0.0.1:$untrusted/stream/self.mp4"
       "https://127.0.0.1:$good/stream/huge.mp4?announce=5000000000")

e2e_start_program
park
capture_links

settled() {
  list_says "items[1]['stateName'] == 'Finished' and items[2]['stateName'] == 'Finished' and
             all(items[k]['stateName'] == 'Failed' for k in (3, 4, 5))"
}
wait_until "$state_bound_s" "clip and redirected stream finished, the refused ones failed" settled
wait_until "$state_bound_s" "slow.mp4 part way" \
  list_says "items[0]['stateName'] == 'Downloading' and 300000 <= items[0]['doneSize'] <= 8000000"
e2e_kill_program
list_says "items[0]['doneSize'] < 9000000" || fail "slow.mp4 was whole before the kill"
killed_at=$(item_field 0 doneSize)
# Files are named when their streams answer: after the captured link's last
# segment, with a number of their own and the extension of the media type.
slow_file=$(item_field 0 fileName) clip_file=$(item_field 1 fileName) moved_file=$(item_field 2 fileName)
for name in "$slow_file" "$clip_file" "$moved_file"; do
  [[ "$name" =~ ^(slow|clip|redirect)\ [0-9a-f]+\.mp4$ ]] || fail "file name \"$name\""
done
echo "  killed with $slow_file at $killed_at bytes"
files_are_streams "$downloads/$slow_file" slow.mp4 "<=9000000" || fail "slow.mp4 after the kill"

e2e_start_program
wait_until "$finish_bound_s" "slow.mp4 finished after the restart" \
  list_says "items[0]['stateName'] == 'Finished' and items[0]['doneSize'] == 9000000"
settled || fail "an item changed after the restart"
web_log_has "$work/web.log" "GET /stream/slow.mp4" "Range: bytes=" ||
  fail "slow.mp4 was not asked for by range after the restart"
web_log_has "$work/web.log" "CONNECT 127.0.0.1:$good HTTP/1.1" "Host: 127.0.0.1:$good" ||
  fail "no CONNECT through the proxy"
web_log_has "$work/web.log" "GET /stream/clip.mp4" "Accept-Encoding: identity" ||
  fail "the request did not ask for the bytes as they are"

# Files: the three streams byte for byte (the redirected one named after
# the captured link), none for the refused ones.
files_are_streams "$downloads/$slow_file" slow.mp4 9000000 "$downloads/$clip_file" clip.mp4 3000000 \
  "$downloads/$moved_file" moved.mp4 100000 || fail "a downloaded file is not its stream"
extra=$(ls "$downloads" | grep -vxF -e "$slow_file" -e "$clip_file" -e "$moved_file")
[ -z "$extra" ] || fail "files written for refused links: $extra"
echo "  three streams byte-exact, no file for the refused three"

# The failure log: one line for each refusal and none for the rest.  A
# start queues failed items again, so each was refused once per run.
[ -f "$work/quorvax.log" ] || fail "no failure log beside the list"
python3 - "$work/quorvax.log" "${links[3]}" "${links[4]}" "${links[5]}" <<'PY' || fail "the failure log"
import sys
lines = open(sys.argv[1]).read().splitlines()
expected = [(sys.argv[2], "wrong name"), (sys.argv[3], "untrusted"), (sys.argv[4], "too large")]
if len(lines) != 6:
    sys.exit("  %d lines, not 6: %r" % (len(lines), lines))
for address, reason in expected:
    n = sum(1 for l in lines if l.startswith("t+") and l.endswith(" " + address + " " + reason))
    if n != 2:
        sys.exit("  %d lines, not 2, for %s: %s in %r" % (n, address, reason, lines))
PY
echo "  failure log: $(wc -l < "$work/quorvax.log") lines"
pass
