#!/usr/bin/env bash
# Configures and builds into build/ (the program is build/quorvax).
#
# Usage: bash tools/build.sh [TARGET...]
# Without targets everything is built: the program, the list tool, every
# test and benchmark.  tools/run.sh names only the program and the list tool,
# so the window shows without waiting for the tests to compile.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ $# -gt 0 ]; then
  cmake --build build -j"$(nproc)" --target "$@"
else
  cmake --build build -j"$(nproc)"
fi
