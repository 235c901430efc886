#!/bin/sh
# Runs mei-run as a process: the first task's result is the exit code, a run-time error gives 1
# with the box text on stderr in UTF-8. Arguments: the bin directory and a scratch directory.
set -u
bin="$1"
work="$2"
rm -rf "$work" && mkdir -p "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

cat > "$work/sample.asm" <<'ASM'
; main starts a second instance that adds 30 to the shared global g2 during main's yield.
.globals 3
.method main
.export 0
        OpSetString g1, ""
        OpSetInt g2, 1
        .builtin 66, g1, g2       ; CreateTask "", export 1
        OpSetInt g2, 2
        .builtin 162              ; Yield: the new task runs
        OpAddConstInt g2, 10
        OpMove g0, g2
        OpHalt
.export 1
        OpAddConstInt g2, 30
        OpHalt
ASM
"$bin/meiasm" "$work/sample.asm" "$work/sample.mei" || fail "meiasm"
"$bin/mei-run" "$work/sample.mei"
code=$?
[ "$code" -eq 42 ] || fail "sample.mei exited with $code, not 42"

"$bin/meiasm" --exe "$work/sample.asm" "$work/sample.exe" || fail "meiasm --exe"
"$bin/mei-run" "$work/sample.exe"
code=$?
[ "$code" -eq 42 ] || fail "sample.exe exited with $code, not 42"

cat > "$work/error.asm" <<'ASM'
.globals 1
.method main
.file "テスト.src"
.line 3
        OpSetInt g0[9], 1
        OpHalt
ASM
"$bin/meiasm" "$work/error.asm" "$work/error.mei" || fail "meiasm error.asm"
"$bin/mei-run" "$work/error.mei" 2> "$work/stderr.txt"
code=$?
[ "$code" -eq 1 ] || fail "error.mei exited with $code, not 1"
grep -q "テスト.src内の3行目で発生" "$work/stderr.txt" || fail "no position on stderr: $(cat "$work/stderr.txt")"

# A damaged image names the reader's reason.
head -c 30 "$work/sample.mei" > "$work/damaged.mei"
"$bin/mei-run" "$work/damaged.mei" 2> "$work/stderr.txt"
code=$?
[ "$code" -eq 3 ] || fail "damaged.mei exited with $code, not 3"
grep -q "damaged script image: .*outside" "$work/stderr.txt" || fail "no reason on stderr: $(cat "$work/stderr.txt")"

# A result that no exit status holds is printed, and the status says so.
for value in 300 -1 255; do
  printf '.globals 1\n.method main\n.export 0\n        OpSetInt g0, %s\n        OpHalt\n' "$value" > "$work/r.asm"
  "$bin/meiasm" "$work/r.asm" "$work/r.mei" || fail "meiasm r.asm"
  out=$("$bin/mei-run" "$work/r.mei")
  code=$?
  if [ "$value" = 255 ]; then
    [ "$code" -eq 255 ] && [ -z "$out" ] || fail "result 255: status $code, output '$out'"
  else
    [ "$code" -eq 4 ] || fail "result $value exited with $code, not 4"
    [ "$out" = "$value" ] || fail "result $value printed as '$out'"
  fi
done

# With a display named, the runner still maps no windowing library, though its task loop pumps
# messages (every 100 instructions).
cat > "$work/loop.asm" <<'ASM'
.globals 2
.method main
.export 0
        OpSetInt g1, 500
again:  OpSubConstInt g1, 1
        OpJumpIfNonZero g1, again
        OpSetInt g0, 7
        OpHalt
ASM
"$bin/meiasm" "$work/loop.asm" "$work/loop.mei" || fail "meiasm loop.asm"
DISPLAY=:97 LD_DEBUG=files "$bin/mei-run" "$work/loop.mei" 2> "$work/ld.txt"
code=$?
[ "$code" -eq 7 ] || fail "loop.mei exited with $code, not 7"
if grep -q -E "libSDL2|libX11" "$work/ld.txt"; then fail "mei-run loaded a windowing library"; fi

"$bin/mei-run" "$work/none.mei" 2> /dev/null
code=$?
[ "$code" -eq 3 ] || fail "a missing image exited with $code, not 3"
echo "ok"
