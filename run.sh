#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs the engine on the bundled sample game.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
orvane_install_deps
jobs=$(orvane_jobs)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs"

# The sample script (samples/hello.asm, assembled by the build) runs two cooperative tasks and
# ends; the engine then shuts down. Without a display the headless host runs it.
exec build/release/bin/orvane build/release/samples/sample.mei "$@"
