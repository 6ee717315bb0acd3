#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh
(cd build && ctest --output-on-failure -j2 --timeout 600)

# The unit tests once more in a debug build, whose assertions check the
# invariants that release builds leave out (every item index in range).
# The checks that drive the real program ran above.
cmake -S . -B build-debug -DCMAKE_BUILD_TYPE=Debug -DQUORVAX_BUILD_QT=OFF >/dev/null
cmake --build build-debug -j"$(nproc)" --target quorvax_tests quorvax-list
cd build-debug
ctest --output-on-failure -j2 --timeout 600 -E '^test_'
