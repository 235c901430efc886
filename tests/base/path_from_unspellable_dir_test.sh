#!/bin/bash
# Programs of ours installed under a directory whose name cp932 cannot spell ("josé"): the probe
# program finds its own path, makes its log and its settings beside itself and reads a file
# named on its command line; the script runner runs an image from there.
# Arguments: the bin directory (probe, mei-run, meiasm, libplatform.so).
set -u
bin=$1
fail=0
check() {  # name, expected, actual
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: expected '$2', got '$3'"
    fail=1
  else
    echo "ok   $1"
  fi
}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dir="$tmp/josé"
mkdir -p "$dir"
cp "$bin/path_probe" "$bin/mei-run" "$bin/libplatform.so" "$dir/"
printf 'données' > "$dir/café ☕.txt"

out=$(cd "$tmp" && ORVANE_BACKEND=headless "$dir/path_probe" "$dir/café ☕.txt")
check "the probe's name" "name path_probe" "$(echo "$out" | grep '^name')"
check "setting written and read" "setting 1 7" "$(echo "$out" | grep '^setting')"
check "the argument's file" "argument file données" "$(echo "$out" | grep '^argument')"
check "log beside the program" "1" "$(grep -c 'probe\] started' "$dir/path_probe.log" 2>/dev/null)"
check "settings beside the program" "1" "$(grep -c 'value=7' "$dir/path_probe.ini" 2>/dev/null)"

printf '.globals 1\n.method main\n.export 0\n        OpSetInt g0, 42\n        OpHalt\n' > "$tmp/t.asm"
"$bin/meiasm" "$tmp/t.asm" "$dir/t.mei" || fail=1
ORVANE_BACKEND=headless "$dir/mei-run" "$dir/t.mei"
check "mei-run from there" "42" "$?"

if [ $fail -eq 0 ]; then echo "6 passed, 0 failed"; else echo "some checks failed"; fi
exit $fail
