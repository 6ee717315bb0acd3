#!/usr/bin/env bash
# The Windows TLS layer under Wine: runs win32_tls_check.exe with the
# security calls scripted (cut-short records, records left behind, fed-back
# post-handshake messages, the stream cut at every byte), then against
# Wine's own Schannel and the test web's TLS listeners (a download
# byte-exact, the refused certificates with their reasons, and a server of
# TLS 1.0 and 1.1 only refused as "protocol").
#
# Usage: bash tests/win32/test_win32_tls.sh BUILD_WIN32_DIR SOURCE_DIR
#   BUILD_WIN32_DIR  the cross build (tools/build_win32.sh makes build-win32);
#                    win32_tls_check.exe is built there
# Exit status: 0 passed, 77 skipped (no wine), anything else failed.
#
# The test web's private CA goes into the root store of a Wine prefix of
# this test's own (TLS_WINEPREFIX, by default quorvax-tls-wine under
# $TMPDIR, kept between runs), never the machine's, and out again at the
# end of the run.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 BUILD_WIN32_DIR SOURCE_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
source_dir=$(cd "$2" && pwd) || exit 2

if ! command -v wine >/dev/null; then
  echo "SKIP: wine is not installed"
  exit 77
fi
export WINEPREFIX=${TLS_WINEPREFIX:-${TMPDIR:-/tmp}/quorvax-tls-wine-$(id -u)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export LC_ALL=C.UTF-8

# Brought up to date (nothing to do when it is).
cmake --build "$build" -j2 --target win32_tls_check >/dev/null || exit 1

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvax-win32-tls.XXXXXX")
web_pid=
cleanup() {
  exec 4>&- 2>/dev/null
  [ -n "$web_pid" ] && kill "$web_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failed=0
fail() {
  echo "FAIL $*"
  failed=1
}

# Runs the check program with the arguments given; its output is shown.
run_check() {
  # A connection stuck in a loop fails the run instead of holding it.
  timeout 300 wine "$build/win32_tls_check.exe" "$@" >"$work/check.out" 2>"$work/check.err"
  local rc=$?
  cat "$work/check.out"
  if [ $rc -ne 0 ]; then
    fail "win32_tls_check.exe $1 exited with $rc"
    sed 's/^/  stderr: /' "$work/check.err" | grep -v ':fixme:\|:err:' | head -20
  fi
}

# ---- the scripted security calls
run_check script

# ---- Wine's Schannel against the test web
# The web ends when its standard input does: this script holds the pipe.
mkfifo "$work/web.in"
python3 "$source_dir/tests/testweb/testweb.py" --tls-dir "$work/certs" --exit-on-stdin-eof \
  <"$work/web.in" >"$work/web.out" 2>"$work/web.err" &
web_pid=$!
exec 4>"$work/web.in"
for _ in $(seq 1 200); do
  grep -q '^PORT ' "$work/web.out" 2>/dev/null && break
  sleep 0.1
done
port_of() { sed -n "s/^TLS $1 //p" "$work/web.out"; }
good=$(port_of good)
if [ -z "$good" ]; then
  fail "the test web did not start:" "$(cat "$work/web.err")"
else
  # The listener of TLS 1.0 and 1.1 must speak TLS 1.1 to a client that
  # allows it, else its refusal would prove nothing: without that proof
  # the check leaves it out and says so.
  tls11=$(port_of tls11)
  spoken=
  [ -n "$tls11" ] && spoken=$(python3 - "$tls11" 2>&1 <<'PY'
import socket, ssl, sys, warnings
warnings.simplefilter("ignore", DeprecationWarning)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
context.check_hostname = False
context.verify_mode = ssl.CERT_NONE
try:
    context.minimum_version = ssl.TLSVersion.TLSv1
    context.maximum_version = ssl.TLSVersion.TLSv1_1
    context.set_ciphers("DEFAULT:@SECLEVEL=0")
    with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=10) as s:
        with context.wrap_socket(s, server_hostname="localhost") as t:
            print(t.version())
except (OSError, ValueError) as error:
    print(error)
PY
)
  if [ -z "$tls11" ]; then
    echo "SKIP a server below TLS 1.2: the test web has none: $(grep tls11 "$work/web.err")"
    tls11=0
  elif [ "$spoken" != TLSv1.1 ]; then
    echo "SKIP a server below TLS 1.2: a client that allows TLS 1.1 got: $spoken"
    tls11=0
  fi
  ca=$(winepath -w "$work/certs/ca.pem")
  run_check bare "$good"
  run_check web "$ca" "$good" "$(port_of wrongname)" "$(port_of untrusted)" "$(port_of expired)" \
    "$(port_of tls12)" "$tls11"
  # The CA is gone again: the prefix is as before.
  run_check bare "$good"
fi

if [ $failed -ne 0 ]; then
  echo "test_win32_tls: FAILED"
  exit 1
fi
echo "test_win32_tls: passed"
exit 0
