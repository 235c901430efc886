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
# Line tables (-g1) are all a sanitizer report needs for file and line; full debug info makes the
# instrumented compile about three times slower.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
  -DORVANE_SANITIZE=ON -DORVANE_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
(cd build/asan && ctest --output-on-failure -j "$jobs")

if compgen -G "fuzz/*_fuzz.cc" >/dev/null; then
  echo "== fuzz targets (clang, libFuzzer), briefly over their corpora"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DORVANE_FUZZ=ON -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
  cmake --build build/fuzz -j "$jobs" --target fuzz_all
  # The targets run side by side, one per core; each one's output is printed when all are done, in
  # name order, and any target that fails fails the run.
  run_fuzz_target() {
    local name=$1
    mkdir -p "build/fuzz/work/$name"
    "build/fuzz/bin/$name" -max_total_time=10 -print_final_stats=0 "build/fuzz/work/$name" \
      "fuzz/corpus/$name" >"build/fuzz/work/$name.log" 2>&1
  }
  export -f run_fuzz_target
  fuzz_failed=0
  printf '%s\n' fuzz/*_fuzz.cc | xargs -n 1 basename -s .cc |
    xargs -P "$jobs" -I{} bash -c 'run_fuzz_target {} || { echo "{} failed" >"build/fuzz/work/{}.failed"; }'
  for src in fuzz/*_fuzz.cc; do
    name=$(basename "$src" .cc)
    echo "-- $name"
    if [[ -e "build/fuzz/work/$name.failed" ]]; then
      cat "build/fuzz/work/$name.log"
      rm -f "build/fuzz/work/$name.failed"
      fuzz_failed=1
    else
      tail -n 2 "build/fuzz/work/$name.log"
    fi
  done
  if ((fuzz_failed)); then
    echo "A fuzz target failed." >&2
    exit 1
  fi
fi
echo "All tests passed."
