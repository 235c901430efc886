#!/bin/sh
# Runs the engine program headless in a scratch copy: on the sample script (exit 0, the thirteen
# unit lines in order), on an image appended to a copy of the program itself, and without any
# image (two boxes, exit 0).
# Usage: orvane_run_test.sh BIN_DIR SAMPLE_IMAGE WORK_DIR
set -eu
bin=$1
sample=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
cp "$bin/orvane" "$bin/libplatform.so" "$work/"
cd "$work"
export ORVANE_BACKEND=headless

expected="Window Draw Midi Time Input Text Sound Movie File Net Event Plugin VM"
units() {
  grep -o '\[Orvane\] initialized [A-Za-z]* unit\.' "$1" | sed 's/.*initialized \([A-Za-z]*\) unit\./\1/' | tr '\n' ' ' |
    sed 's/ $//'
}

./orvane "$sample" >out.txt 2>err.txt || { echo "orvane failed: $?"; cat err.txt; exit 1; }
[ "$(units orvane.log)" = "$expected" ] || { echo "unit lines: $(units orvane.log)"; exit 1; }
grep -q "^Orvane Debug Log(" orvane.log || { echo "no log header"; exit 1; }

# The image behind the program: its length as a little-endian u32, then the image.
len=$(stat -c %s "$sample")
cp orvane game
printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((len & 255)) $((len >> 8 & 255)) $((len >> 16 & 255)) $((len >> 24 & 255)))" >>game
cat "$sample" >>game
./game /no/such/image.mei >out.txt 2>err.txt || { echo "appended image failed"; cat err.txt; exit 1; }
[ "$(units game.log)" = "$expected" ] || { echo "appended unit lines: $(units game.log)"; exit 1; }

# No image at all: the file dialog is cancelled; two boxes, exit code 0.
./orvane >out.txt 2>err.txt || { echo "no image: exit $?"; exit 1; }
grep -q "実行ファイルを開けません" err.txt || { echo "missing first box"; cat err.txt; exit 1; }
grep -q "起動できませんでした。" err.txt || { echo "missing second box"; cat err.txt; exit 1; }
echo "orvane runs: ok"
