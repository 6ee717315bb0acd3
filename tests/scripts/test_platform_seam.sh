#!/usr/bin/env bash
# The shape of the tree, checked on every include line:
#  1. Only platform/ talks to the operating system.  Outside it a file
#     includes the C++ library's <c...> headers and our own headers, nothing
#     else, and calls no raw socket or file function.  The list tool uses the
#     platform header, never a backend's.
#  2. Dependencies run one way:
#       platform <- listfile <- web <- engine <- display <- ui <- app
#     A folder includes its own headers and those of the folders to its left,
#     plus the shared ground every layer stands on: the platform header, the
#     state record, the string table, the bounded copies, the download
#     record and the resources.  The few calls upward that the behaviour
#     needs are listed below, each with its reason; any other include of a
#     header further right fails.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
src="$2"
cd "$src"
dirs="app listfile web engine display ui resources"
failed=0
report() { echo "$1"; printf '%s\n' "$2" | sed '/^$/d; s/^/    /'; failed=1; }

# ---- 1. the operating system only through platform/
foreign=$(grep -rnE '^\s*#\s*include\s*<' $dirs | grep -vE '#\s*include\s*<c[a-z]+>')
[ -n "$foreign" ] && report "Headers outside the allowed <c...> library headers:" "$foreign"
quoted=$(grep -rnE '^\s*#\s*include\s*"' $dirs | grep -vE '#\s*include\s*"(app|listfile|web|engine|display|ui|resources|platform)/[a-z_]+\.h"')
[ -n "$quoted" ] && report "Quoted includes that are not our own headers:" "$quoted"
backend=$(grep -rnE '#\s*include\s*"platform/(qt|posix|fake|win32)/' $dirs tools/list)
[ -n "$backend" ] && report "A backend's header used outside platform/:" "$backend"
calls=$(grep -rnE '(^|[^_a-zA-Z.>])(socket|recv|send|connect|ioctl|getaddrinfo|gethostbyname|fopen|open|close|read|write|CreateFileA?|ReadFile|WriteFile)\(' $dirs tools/list 2>/dev/null \
        | grep -vE '^\S+:\s*//' | grep -vE 'plat_|open_request|open_existing_rw|open_list_file|_open\(|fake_')
[ -n "$calls" ] && report "Operating-system calls outside platform/:" "$calls"

# ---- 2. one-way dependencies
rank() {
  case "$1" in
    platform|resources) echo 0 ;; listfile) echo 1 ;; web) echo 2 ;; engine) echo 3 ;;
    display) echo 4 ;; ui) echo 5 ;; app) echo 6 ;; *) echo 99 ;;
  esac
}
# Shared ground, open to every layer.
ground='^(platform/platform\.h|app/app_state\.h|app/strings\.h|app/text_copy\.h|engine/download_table\.h|resources/resources\.h)$'
# The calls upward that the behaviour needs (file -> header: why).
exceptions=(
  "engine/items.cpp -> ui/list_view.h"      # a changed table changes the rows the window lists
  "engine/items.cpp -> ui/clipboard.h"      # a capture empties the clipboard to end the offer
  "engine/per_message.cpp -> ui/shell.h"    # the per-message step opens what the user asked for
  "engine/per_message.cpp -> ui/settings.h" # ... and feeds digits to the settings panel
  "engine/engine_step.cpp -> ui/probe.h"    # the engine decides when the network is probed
)
backward=""
while IFS= read -r line; do
  file=${line%%:*}
  header=$(printf '%s' "$line" | sed -E 's/.*#\s*include\s*"([^"]+)".*/\1/')
  from=${file%%/*}
  to=${header%%/*}
  [[ "$header" =~ $ground ]] && continue
  [ "$(rank "$to")" -le "$(rank "$from")" ] && continue
  allowed=0
  for e in "${exceptions[@]}"; do [ "$e" = "$file -> $header" ] && allowed=1; done
  [ $allowed -eq 1 ] && continue
  backward+="$file -> $header"$'\n'
done < <(grep -rnE '^\s*#\s*include\s*"' $dirs | sed -E 's/^([^:]+):[0-9]+:/\1:/')
[ -n "$backward" ] && report "Includes against the direction platform <- listfile <- web <- engine <- display <- ui <- app:" "$backward"

# Every documented exception must still be needed, or it would hide the
# next one that creeps in.
for e in "${exceptions[@]}"; do
  file=${e%% -> *}
  header=${e##* -> }
  grep -qE "#\s*include\s*\"$header\"" "$file" 2>/dev/null || report "A listed exception no longer exists; remove it:" "$e"
done

if [ $failed -ne 0 ]; then
  echo "FAIL"
  exit 1
fi
echo "PASS"
