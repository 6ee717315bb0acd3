#!/usr/bin/env bash
# Only platform/ may talk to the operating system: no file of the program's
# subsystems includes Qt, Win32 or POSIX file/socket headers, or calls the
# raw socket and file functions.
# Arguments: BUILD_DIR SOURCE_DIR
set -uo pipefail
src="$2"
cd "$src"
dirs="app listfile web engine ui display resources"
bad_includes='#include *[<"](Q[A-Z][A-Za-z]*|Qt[A-Za-z]*/.*|windows\.h|winsock2?\.h|sys/socket\.h|netinet/.*|arpa/inet\.h|netdb\.h|unistd\.h|fcntl\.h|sys/ioctl\.h|poll\.h|signal\.h)[>"]'
hits=$(grep -rnE "$bad_includes" $dirs 2>/dev/null)
calls=$(grep -rnE '(^|[^_a-zA-Z.>])(socket|recv|connect|ioctl|getaddrinfo|gethostbyname|fopen|open|CreateFileA?|ReadFile|WriteFile)\(' $dirs 2>/dev/null \
        | grep -vE '^\S+:\s*//' | grep -vE 'plat_|open_request|open_existing_rw|open_list_file|_open\(|fake_')
if [ -n "$hits$calls" ]; then
  echo "Operating-system calls outside platform/:"
  printf '%s\n' "$hits" "$calls" | sed '/^$/d'
  echo "FAIL"
  exit 1
fi
echo "PASS"
