#!/bin/sh
# The engine program loads core.opi from a script's directory, binds it, and calls its `start`
# headless: exit 0, no box on stderr, no plug-in failure in the log.
# Usage: start_core_test.sh BIN_DIR CORE_OPI SCRIPT_ASM WORK_DIR
set -eu
bin=$1
core=$2
asm=$3
work=$4
rm -rf "$work"
mkdir -p "$work"
cp "$bin/orvane" "$bin/libplatform.so" "$work/"
cp "$core" "$work/core.opi"
"$bin/meiasm" "$asm" "$work/start_core.mei"
cd "$work"
export ORVANE_BACKEND=headless
./orvane start_core.mei >out.txt 2>err.txt || { echo "orvane failed: $?"; cat err.txt; exit 1; }
if [ -s err.txt ]; then echo "stderr not empty:"; cat err.txt; exit 1; fi
if grep -q "Plugin:" orvane.log; then echo "plug-in failure in the log:"; grep "Plugin:" orvane.log; exit 1; fi
grep -q "initialized VM unit" orvane.log || { echo "the engine did not start"; cat orvane.log; exit 1; }
echo "core.opi started from orvane: ok"
