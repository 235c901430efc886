#!/usr/bin/env bash
# Installs what is missing, builds everything, and plays the bundled sample game from its title.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
orvane_install_deps
jobs=$(orvane_jobs)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs"

engine=build/release/bin/orvane
# The image by its full path: the plug-in beside it is looked up in the image's folder.
game=$PWD/build/release/samples/game/game.mei
headless=0
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ "${ORVANE_BACKEND:-}" = headless ]; then
  headless=1
fi

if [ ! -f "$game" ]; then
  # Without the sample game's sources (samples/game/) the small sample script runs instead: two
  # cooperative tasks, then frames paced until the window closes (headless: closed after 400 ms).
  if [ "$headless" = 1 ]; then
    export ORVANE_INPUT_SCRIPT="${ORVANE_INPUT_SCRIPT:-$PWD/samples/close_soon.txt}"
  fi
  exec "$engine" build/release/samples/sample.mei "$@"
fi

# With a window the player plays. The save file lands beside the engine program.
if [ "$headless" = 0 ]; then
  exec "$engine" "$game" "$@"
fi

# Without a display the scripted play (samples/game/play.txt, tools/README.md) plays the game from
# the title to its end on the headless host, then says where its captures and the save went. It
# runs from a copy in the build tree, so captures it writes beside itself stay out of the sources.
if [ -z "${ORVANE_INPUT_SCRIPT:-}" ]; then
  mkdir -p build/release/samples/play
  cp samples/game/play.txt build/release/samples/play/play.txt
  export ORVANE_INPUT_SCRIPT="$PWD/build/release/samples/play/play.txt"
fi
# The folder a "capture-folder" line names (relative to the script's folder) must exist.
folder=$(awk '$1 == "capture-folder" { print $2; exit }' "$ORVANE_INPUT_SCRIPT")
if [ -n "$folder" ]; then
  (cd "$(dirname "$ORVANE_INPUT_SCRIPT")" && mkdir -p "$folder")
fi
marker=$(mktemp)
trap 'rm -f "$marker"' EXIT
status=0
"$engine" "$game" "$@" || status=$?
echo "Scripted play of $ORVANE_INPUT_SCRIPT ended with exit code $status."
captures=$(find "$PWD" -path "$PWD/.git" -prune -o -name '*.ppm' -newer "$marker" -printf '%h\n' 2>/dev/null | sort -u)
if [ -n "$captures" ]; then
  echo "Captures (P6) in: $captures"
else
  echo "Captures: none written."
fi
save="$(dirname "$engine")/derora.sav"
if [ -f "$save" ] && [ "$save" -nt "$marker" ]; then
  echo "Save: $PWD/$save"
else
  echo "Save: none written (it goes to $PWD/$save)."
fi
exit "$status"
