#!/usr/bin/env bash
# Installs what is needed, builds, and starts Quorvax.
#
# The program keeps all its state in list.o in its working folder and never
# creates that file: this script gives it a per-user data folder and makes
# an empty list there on first use.  Without a display it starts a virtual
# one (Xvfb) and tells how to look at the window.
set -euo pipefail
cd "$(dirname "$0")/.."
src="$(pwd)"
bash tools/setup.sh
bash tools/build.sh

data="${XDG_DATA_HOME:-$HOME/.local/share}/quorvax"
folder="${QUORVAX_DOWNLOADS:-$HOME/Downloads/Quorvax}"
mkdir -p "$data" "$(dirname "$folder")"
if [ ! -f "$data/list.o" ]; then
  "$src/build/quorvax-list" init "$data/list.o" --folder "$folder"
  echo "Created $data/list.o (downloads go to $folder)"
fi

# QUORVAX_PROXY=host:port points the program at a proxy (the demo web).
if [ -n "${QUORVAX_PROXY:-}" ]; then
  "$src/build/quorvax-list" set "$data/list.o" --proxy "$QUORVAX_PROXY" --use-proxy 1 >/dev/null
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export DISPLAY=:77
  if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -noreset >/dev/null 2>&1 &
    sleep 1
  fi
  echo "No display found: started a virtual one at $DISPLAY."
  echo "Look at the window with:  DISPLAY=$DISPLAY import -window root quorvax.png"
  echo "Offer an address with:    echo -n reelbox.test/watch/demo | DISPLAY=$DISPLAY xclip -selection clipboard"
fi

cd "$data"
exec "$src/build/quorvax"
