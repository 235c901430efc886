#!/bin/sh
# Runs the engine program headless in a scratch copy: on the sample script (exit 0, the thirteen
# unit lines in order), on an image appended to a copy of the program itself, without any image
# (two boxes, exit 0), and with a bad input script (stopped before the run, exit 2).
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
# A bad input script stops the run before it starts: exit 2, the file and line on stderr, no units.
printf '10 move 5 5\n20 key-down 256\n30 close\n' >bad_input.txt
rm -f orvane.log
code=0
ORVANE_INPUT_SCRIPT=$PWD/bad_input.txt ./orvane "$sample" >out.txt 2>err.txt || code=$?
[ "$code" = 2 ] || { echo "bad input script: exit $code"; cat err.txt; exit 1; }
grep -q "bad_input.txt: line 2: expected one DIK code 1..255" err.txt || { echo "bad input script message:"; cat err.txt; exit 1; }
if [ -f orvane.log ] && grep -q "initialized VM unit" orvane.log; then echo "bad input script: the run started"; exit 1; fi
echo "orvane runs: ok"
