#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs the engine on the bundled sample game.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
orvane_install_deps
jobs=$(orvane_jobs)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs"

# The sample script (samples/hello.asm, assembled by the build) runs two cooperative tasks, then
# paces frames until its window is closed. Without a display the headless host runs it, and a
# file of timed messages (tools/README.md) closes the window unless ORVANE_INPUT_SCRIPT names another.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ "${ORVANE_BACKEND:-}" = headless ]; then
  export ORVANE_INPUT_SCRIPT="${ORVANE_INPUT_SCRIPT:-$PWD/samples/close_soon.txt}"
fi
exec build/release/bin/orvane build/release/samples/sample.mei "$@"
