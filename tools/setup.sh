#!/usr/bin/env bash
# Installs what building, running and testing Quorvax needs (Debian).
# Runs apt-get only when a package is missing.
set -euo pipefail

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

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
