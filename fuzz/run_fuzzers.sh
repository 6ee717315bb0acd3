#!/usr/bin/env bash
# Builds the fuzzers (clang, libFuzzer, the sanitizers) in a build folder of
# their own and runs each for a bounded time from a copy of its seed corpus.
# A crash, a leak, a timeout or running out of memory fails the run; the
# input that did it is printed (path, size, base64 and hex) with the
# fuzzer's report, so a failure in CI can be replayed from its log alone.
#
# Usage: bash fuzz/run_fuzzers.sh [FUZZER...]      (default: every fuzzer)
# Settings, from the environment:
#   FUZZ_SECONDS    how long each fuzzer runs (default 30)
#   FUZZ_SEED       libFuzzer's seed (default: one chosen now, printed)
#   FUZZ_BUILD_DIR  the build folder (default build-fuzz)
#   FUZZ_WORK_DIR   where the working corpora, logs and crash files go
#                   (default: a new folder under /tmp, removed when every
#                   fuzzer passed, kept when one failed)
set -uo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

FUZZ_SECONDS="${FUZZ_SECONDS:-30}"
FUZZ_SEED="${FUZZ_SEED:-$(( (RANDOM << 15 | RANDOM) % 2147483646 + 1 ))}"
FUZZ_BUILD_DIR="${FUZZ_BUILD_DIR:-build-fuzz}"
# A single input may take this long before it counts as a hang (a window
# fuzzer input takes about 10 ms; the machine may be loaded).
PER_INPUT_TIMEOUT_S=20

# ---- [BUILD]
cmake -S . -B "$FUZZ_BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DQUORVAX_BUILD_FUZZ=ON -DQUORVAX_BUILD_QT=OFF >/dev/null || exit 1
cmake --build "$FUZZ_BUILD_DIR" -j"$(nproc)" --target quorvax_fuzzers || exit 1

# ---- [OPTIONS]
# Each fuzzer's own options: the longest input worth trying and the
# dictionary of the texts its parsers look for.
options_for() {
  case "$1" in
    fuzz_text) echo "-max_len=4096" ;;
    fuzz_rules|fuzz_response) echo "-max_len=20000 -dict=$root/fuzz/rules.dict" ;;
    fuzz_window_proc) echo "-max_len=2048 -len_control=20" ;;
    fuzz_clipboard) echo "-max_len=4096" ;;
    fuzz_page_media) echo "-max_len=8192 -dict=$root/fuzz/page_media.dict" ;;
    *) echo "" ;;
  esac
}

if [ $# -gt 0 ]; then
  fuzzers=("$@")
else
  fuzzers=()
  for src in fuzz/fuzz_*.cpp; do fuzzers+=("$(basename "$src" .cpp)"); done
fi

work="${FUZZ_WORK_DIR:-$(mktemp -d /tmp/quorvax-fuzz-run-XXXXXX)}"
mkdir -p "$work"
echo "fuzzing: ${FUZZ_SECONDS} s each, -seed=${FUZZ_SEED}, work folder $work"

# Prints every file libFuzzer left for a failure (crash-, leak-, timeout-,
# oom-, slow-unit-) in a form that can be copied out of a log.
print_artifacts() {
  local dir="$1" name="$2" found=0
  for f in "$dir"/*; do
    [ -f "$f" ] || continue
    found=1
    echo "---- $name: $(basename "$f") ($(stat -c %s "$f") bytes) at $f"
    echo "base64:"
    base64 -w 76 "$f"
    echo "hex (first 512 bytes):"
    head -c 512 "$f" | od -A x -t x1z -v
    echo "replay: the base64 lines above through 'base64 -d > input', then"
    echo "        $FUZZ_BUILD_DIR/fuzz/$name $(options_for "$name") input"
  done
  [ "$found" -eq 1 ] || echo "---- $name: no input was saved"
}

# ---- [RUN]
failed=()
summary=()
for name in "${fuzzers[@]}"; do
  binary="$(cd "$FUZZ_BUILD_DIR" 2>/dev/null && pwd)/fuzz/$name"
  seeds="fuzz/corpus/$name"
  if [ ! -x "$binary" ] || [ ! -d "$seeds" ]; then
    echo "FAIL: $name: no fuzzer at $binary or no seeds in $seeds"
    failed+=("$name")
    continue
  fi
  # The fuzzer adds what it finds to its working corpus: a copy, never the
  # committed seeds.
  corpus="$work/$name/corpus"
  artifacts="$work/$name/artifacts"
  log="$work/$name/log"
  mkdir -p "$corpus" "$artifacts"
  cp -r "$seeds/." "$corpus/"
  echo "== $name ($(ls "$corpus" | wc -l) seeds)"
  # shellcheck disable=SC2046
  (cd "$work/$name" &&
     UBSAN_OPTIONS=print_stacktrace=1 \
     timeout --kill-after=10 $(( FUZZ_SECONDS + 120 )) \
       "$binary" -max_total_time="$FUZZ_SECONDS" -seed="$FUZZ_SEED" \
       -timeout="$PER_INPUT_TIMEOUT_S" -print_final_stats=1 \
       -artifact_prefix="$artifacts/" $(options_for "$name") "$corpus") >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]* corp: [0-9]*/[0-9]*[a-zA-Z]*' "$log" | tail -n1)
  line="$name: exit $rc, ${runs:-?} runs, ${speed:-?} execs/s, ${cov:-no coverage line}"
  summary+=("$line")
  if [ "$rc" -ne 0 ]; then
    echo "FAIL: $line"
    echo "---- $name: the fuzzer's report (last 80 lines of $log)"
    tail -n 80 "$log"
    print_artifacts "$artifacts" "$name"
    failed+=("$name")
  else
    echo "ok: $line"
  fi
done

echo "== fuzzing summary (-seed=${FUZZ_SEED}, ${FUZZ_SECONDS} s each)"
for line in "${summary[@]}"; do echo "  $line"; done
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAIL: ${failed[*]} (working corpora, logs and inputs kept in $work)"
  exit 1
fi
[ -n "${FUZZ_WORK_DIR:-}" ] || rm -rf "$work"
exit 0
