# lib_before_after.sh - sourced by the benchmarks that set the code of
# another commit ("before") beside this tree's ("after"), both built
# without Qt, so that one run measures both on the same machine.
#
# build_before_after SOURCE_DIR BUILD_DIR COMMIT TARGET [PATH ...]
#   BUILD_DIR/before-src gets COMMIT's files, each PATH (a file or a folder
#   of this tree, such as the benchmark itself) put in as this tree has it;
#   TARGET is built from there in BUILD_DIR/before and from SOURCE_DIR in
#   BUILD_DIR/after.

bench_build_target() {   # SOURCE_DIR BUILD_DIR TARGET
  cmake -S "$1" -B "$2" -DQUORVAX_BUILD_QT=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$2" --target "$3" -j2 >/dev/null
}

build_before_after() {
  local src="$1" build="$2" commit="$3" target="$4" path
  shift 4
  local before_src="$build/before-src"
  rm -rf "$before_src"
  mkdir -p "$before_src"
  git -C "$src" archive "$commit" | tar -x -C "$before_src"
  for path in "$@"; do
    rm -rf "${before_src:?}/$path"
    mkdir -p "$(dirname "$before_src/$path")"
    cp -r "$src/$path" "$before_src/$path"
  done
  echo "building before ($(git -C "$src" log -1 --format='%h %s' "$commit" | cut -c1-70)) ..."
  bench_build_target "$before_src" "$build/before" "$target"
  echo "building after (this tree: $(git -C "$src" log -1 --format='%h' HEAD)$(git -C "$src" diff --quiet HEAD -- . || echo ' with uncommitted changes')) ..."
  bench_build_target "$src" "$build/after" "$target"
}
