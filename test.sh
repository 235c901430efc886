#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test twice: a normal build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build. Then builds the fuzz targets with clang and
# runs each briefly over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
orvane_install_deps
jobs=$(orvane_jobs)

echo "== normal build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs"
(cd build/release && ctest --output-on-failure -j "$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DORVANE_SANITIZE=ON -DORVANE_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
(cd build/asan && ctest --output-on-failure -j "$jobs")

if compgen -G "fuzz/*_fuzz.cc" >/dev/null; then
  echo "== fuzz targets (clang, libFuzzer), briefly over their corpora"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVANE_FUZZ=ON -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
  cmake --build build/fuzz -j "$jobs" --target fuzz_all
  for src in fuzz/*_fuzz.cc; do
    name=$(basename "$src" .cc)
    corpus="fuzz/corpus/$name"
    mkdir -p "build/fuzz/work/$name"
    echo "-- $name"
    "build/fuzz/bin/$name" -max_total_time=15 -print_final_stats=0 "build/fuzz/work/$name" "$corpus" 2>&1 | tail -n 2
  done
fi
echo "All tests passed."
