#!/usr/bin/env bash
# Installs what building, running and testing Quorvax needs (Debian).
# Runs apt-get only when a package is missing.
#
# Usage: bash tools/setup.sh [--windows]
# --windows adds the 32-bit Windows cross build and its checks: the
# mingw-w64 i686 toolchain and Wine with its 32-bit half (which needs the
# i386 architecture; the googletest sources above are cross-built too).
set -euo pipefail

windows=0
for arg in "$@"; do
  case "$arg" in
    --windows) windows=1 ;;
    *) echo "usage: bash tools/setup.sh [--windows]" >&2; exit 2 ;;
  esac
done

PACKAGES=(
  build-essential cmake pkg-config
  # the sanitizer build and the fuzzers: clang, its sanitizer and libFuzzer
  # runtimes, and llvm-symbolizer for readable stack traces
  clang libclang-rt-dev llvm
  qt6-base-dev libgl-dev
  googletest libgtest-dev
  python3 curl
  # TLS: the library, and the command that makes the tests' certificates
  libssl-dev openssl
  xvfb xauth x11-utils xdotool xclip imagemagick
  # how Qt hands pages and folders to the desktop without a desktop
  # environment (xdg-open), a private session bus and a notification area
  # for the end-to-end checks
  xdg-utils dbus-daemon dbus-session-bus-common trayer
  fonts-liberation2 fonts-dejavu-core fonts-dejavu-extra fonts-urw-base35
)

# Without recommends Wine still runs console and windowed programs: its own
# fonts come with libwine, and nothing here needs Mono, Gecko or GStreamer.
WINDOWS_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

if [ "$windows" = 1 ]; then
  PACKAGES+=("${WINDOWS_PACKAGES[@]}")
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  # wine32:i386 is a package of the i386 architecture: dpkg must know it
  # before apt-get update fetches that architecture's lists.
  if [ "$windows" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386 &&
     [ "$(dpkg --print-architecture)" != i386 ]; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
