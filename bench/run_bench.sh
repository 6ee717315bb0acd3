#!/usr/bin/env bash
# Builds and runs the engine benchmark.  Arguments: [BUILD_DIR] [--quick]
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$src/build-bench}"
shift || true
command -v curl >/dev/null || apt-get install -y curl
cmake -S "$src" -B "$build" -DQUORVAX_BUILD_QT=OFF >/dev/null
cmake --build "$build" --target quorvax_bench -j2 >/dev/null
"$build/quorvax_bench" "$@"
