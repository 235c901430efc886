#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs the engine on the bundled sample game.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
orvane_install_deps
jobs=$(orvane_jobs)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs"

if [ -x build/release/bin/orvane ] && [ -f samples/sample.mei ]; then
  exec build/release/bin/orvane samples/sample.mei "$@"
fi
echo "The engine program does not exist yet: the libraries and tools are built in build/release."
echo "Run ./test.sh to run the tests of what exists."
