#!/bin/sh
# Runs the engine program headless on an assembled script that reads a file beside it and writes,
# copies and creates files and directories; then checks them byte for byte.
# Usage: files_run_test.sh BIN_DIR SCRIPT_IMAGE WORK_DIR
set -eu
bin=$1
image=$2
work=$3
rm -rf "$work"
mkdir -p "$work/game"
cp "$bin/orvane" "$bin/libplatform.so" "$work/"
cp "$image" "$work/game/files.mei"
printf 'line one\r\nline two\n' >"$work/game/in.txt"
cd "$work"
export ORVANE_BACKEND=headless
./orvane game/files.mei >out.txt 2>err.txt || { echo "orvane failed: $?"; cat err.txt; exit 1; }
if grep -q "実行エラー" err.txt; then echo "run-time error:"; cat err.txt; exit 1; fi

expected=$(printf 'line two\nline one\n\377\377\377\377-1\000\001\000\000\000\001\000\000\000\001\000\000\000' | od -An -tx1)
actual=$(od -An -tx1 game/out/made/new.bin)
[ "$actual" = "$expected" ] || { echo "new.bin:"; echo "$actual"; echo "expected:"; echo "$expected"; exit 1; }
cmp game/in.txt game/copies/deep/in_copy.txt || { echo "copy differs"; exit 1; }
[ -d game/out/made ] || { echo "no directory"; exit 1; }
echo "files end to end: ok"
