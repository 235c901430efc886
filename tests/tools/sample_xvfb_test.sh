#!/bin/sh
# The sample game in a real window: under a virtual X server with the SDL host and the pointer
# parked off the window, the window's client area (xwd) comes to equal the headless title golden
# within 60 s, and a click on the title's "exit" button (at EXIT_X,EXIT_Y of the client area)
# ends the program with exit code 0. Runs in a scratch copy of the program folder with its own
# settings and runtime folders, so there is no save and the title is the one of a first start.
# Exit code 77 (ctest: skipped), with the reason, when a tool, the built game or the golden is missing.
# Usage: sample_xvfb_test.sh BIN_DIR GAME_DIR GOLDEN EXIT_X EXIT_Y WORK_DIR XWD_COMPARE
set -u
bin=$1
game=$2
golden=$3
exit_x=$4
exit_y=$5
work=$6
compare=$7
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

for tool in xvfb-run xdotool xwd; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing (tools/deps.sh installs xvfb, xdotool and x11-apps)"
done
[ -f "$game/game.mei" ] || skip "the sample game is not built ($game/game.mei is missing)"
[ -f "$golden" ] || skip "the title golden $golden is missing"

rm -rf "$work"
mkdir -p "$work/bin" "$work/game" "$work/config" "$work/runtime" || fail "cannot make $work"
chmod 700 "$work/runtime"
cp "$bin/orvane" "$bin"/libplatform*.so "$work/bin/" || fail "cannot copy the program"
cp -R "$game/." "$work/game/" || fail "cannot copy the game"

cat >"$work/inner.sh" <<'INNER'
set -u
work=$1 golden=$2 compare=$3 exit_x=$4 exit_y=$5
export ORVANE_BACKEND=sdl SDL_AUDIODRIVER=dummy XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
unset ORVANE_INPUT_SCRIPT ORVANE_CAPTURE
xdotool mousemove 1279 1023
"$work/bin/orvane" "$work/game/game.mei" >"$work/out.txt" 2>"$work/err.txt" &
pid=$!
end=$(($(date +%s) + 60))
win=""
while :; do
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid"
    echo "FAIL: orvane ended ($?) before the title showed"; cat "$work/err.txt"; exit 1
  fi
  for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
    if xwd -silent -id "$w" -out "$work/shot.xwd" 2>/dev/null &&
       "$compare" "$work/shot.xwd" "$golden" >"$work/compare.txt" 2>&1; then
      win=$w
      break
    fi
  done
  [ -n "$win" ] && break
  if [ "$(date +%s)" -ge "$end" ]; then
    "$compare" "$work/shot.xwd" "$golden" "$work" >"$work/compare.txt" 2>&1
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
    echo "FAIL: the window never equalled $golden within 60 s: $(cat "$work/compare.txt")"
    echo "(the last shot: $work/actual.png, its differences: $work/diff.png)"
    exit 1
  fi
  sleep 0.5
done
xdotool mousemove --window "$win" "$exit_x" "$exit_y"
sleep 0.5
xdotool click 1
end=$(($(date +%s) + 30))
while kill -0 "$pid" 2>/dev/null; do
  if [ "$(date +%s)" -ge "$end" ]; then
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
    echo "FAIL: a click on exit at $exit_x,$exit_y did not end the program within 30 s"; exit 1
  fi
  sleep 0.2
done
wait "$pid"
code=$?
[ "$code" = 0 ] || { echo "FAIL: exit code $code after the click on exit"; cat "$work/err.txt"; exit 1; }
echo "sample game under Xvfb: ok"
INNER
xvfb-run -a -s "-screen 0 1280x1024x24" sh "$work/inner.sh" "$work" "$golden" "$compare" "$exit_x" "$exit_y"
