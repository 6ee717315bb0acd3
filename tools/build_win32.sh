#!/usr/bin/env bash
# Cross-builds the 32-bit Windows program with the mingw-w64 i686 toolchain:
# build-win32/quorvax.exe and build-win32/quorvax-list.exe (static PE32
# executables that need no DLL beside them).
#
# Usage: bash tools/build_win32.sh [TARGET...]
#        bash tools/build_win32.sh --tests
# --tests builds the unit tests that run under Windows instead:
# build-win32-tests/quorvax_tests.exe (with GoogleTest from its sources, in
# the compilers' posix thread model, which GoogleTest needs).
# The build tools that run during the build (skin encoder, string-table
# scrambler) are built natively first, in build-host-tools/.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v i686-w64-mingw32-g++ >/dev/null; then
  echo "The mingw-w64 i686 toolchain is missing: bash tools/setup.sh --windows" >&2
  exit 1
fi
cmake -S . -B build-host-tools -DCMAKE_BUILD_TYPE=Release -DQUORVAX_BUILD_QT=OFF \
  -DQUORVAX_BUILD_TESTS=OFF >/dev/null
cmake --build build-host-tools -j"$(nproc)" --target quorvax_skin_encode make_string_table
if [ "${1:-}" = --tests ]; then
  command -v i686-w64-mingw32-g++-posix >/dev/null ||
    { echo "The mingw-w64 i686 posix-thread compilers are missing: bash tools/setup.sh --windows" >&2; exit 1; }
  cmake -S . -B build-win32-tests -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=platform/win32/toolchain-mingw-i686.cmake \
    -DQUORVAX_MINGW_THREADS=posix -DQUORVAX_BUILD_TESTS=ON \
    -DQUORVAX_HOST_TOOLS_DIR="$PWD/build-host-tools" >/dev/null
  cmake --build build-win32-tests -j"$(nproc)" --target quorvax_tests
  exit 0
fi
cmake -S . -B build-win32 -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=platform/win32/toolchain-mingw-i686.cmake \
  -DQUORVAX_HOST_TOOLS_DIR="$PWD/build-host-tools" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build build-win32 -j"$(nproc)" --target "$@"
else
  cmake --build build-win32 -j"$(nproc)" --target quorvax quorvax-list
fi
