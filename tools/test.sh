#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh --windows
bash tools/build.sh
(cd build && ctest --output-on-failure -j2 --timeout 600)

# The unit tests once more in a debug build, whose assertions check the
# invariants that release builds leave out (every item index in range).
# The checks that drive the real program ran above.
cmake -S . -B build-debug -DCMAKE_BUILD_TYPE=Debug -DQUORVAX_BUILD_QT=OFF >/dev/null
cmake --build build-debug -j"$(nproc)" --target quorvax_tests quorvax-list
(cd build-debug && ctest --output-on-failure -j2 --timeout 600 -E '^test_')

# Every test once more with clang's address and undefined-behaviour
# sanitizers (build-asan/): the unit tests, the Qt backend's checks and the
# checks that drive the real program, which is built with them too.  A
# memory error, a leak or undefined behaviour ends the program under test
# and fails its test.  test_window_xvfb is left out here (it ran above):
# with the slower sanitized program on a busy machine its start on a list
# with the wrong magic now and then ends with 0 before the script has seen
# the list-file message (12 of 120 runs while other builds ran; none of 60
# runs with the plain build).
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DQUORVAX_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
(cd build-asan && UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j2 --timeout 600 \
   -E '^test_window_xvfb$')

# Every fuzzer for a bounded time from a copy of its seeds (build-fuzz/);
# FUZZ_SECONDS sets the time each runs.
bash fuzz/run_fuzzers.sh

# The 32-bit Windows program, cross-built with mingw-w64 (build-win32/), and
# the unit tests that run there (build-win32-tests/); then, under Wine on a
# virtual display, the Windows checks of tests/win32/ (the I/O layer, the
# program end to end) and the unit tests.
windows_begin=$(date +%s)
bash tools/build_win32.sh quorvax quorvax-list win32_io_check win32_window_check win32_shell_check win32_tls_check
bash tools/build_win32.sh --tests
echo "Windows builds: $(( $(date +%s) - windows_begin )) s"
bash tests/win32/run_win32_checks.sh build-win32 . build build-win32-tests
