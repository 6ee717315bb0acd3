#!/bin/bash
# Builds and runs the Qt backend checks against a build of platform_qt.
#   run_qt_backend_test.sh [BUILD_DIR]   (default: build-qt beside the sources)
# The checks run on Qt's offscreen platform: no X server is needed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/../../.." && pwd)"
build_dir="${1:-$source_dir/build-qt}"

cmake --build "$build_dir" --target platform_qt -j2 >/dev/null
out="$build_dir/qt_backend_test"
g++ -std=c++17 -O1 -fno-exceptions -fPIC -Wall -Wextra -Wno-unused-parameter \
    -I"$source_dir" "$here/qt_backend_test.cpp" \
    "$build_dir/libplatform_qt.a" "$build_dir/libplatform_posix_direct.a" \
    "$build_dir/libplatform_posix.a" \
    $(pkg-config --cflags --libs gtest Qt6Widgets Qt6DBus Qt6Test) -lpthread -o "$out"
QT_QPA_PLATFORM=offscreen "$out" "${@:2}"
