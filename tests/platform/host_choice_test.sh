#!/bin/bash
# The host choice maps no windowing library unless the SDL host is chosen, and a missing SDL host
# module falls back to headless with one line on stderr. Arguments: the probe program and the
# directory of libplatform.so.
set -u
probe=$1
libdir=$2
fail=0
check() {  # name, expected, actual
  if [ "$2" != "$3" ]; then
    echo "FAIL $1: expected '$2', got '$3'"
    fail=1
  else
    echo "ok   $1"
  fi
}

check "libplatform.so needs no windowing library" "" \
  "$(readelf -d "$libdir/libplatform.so" | grep NEEDED | grep -i -E 'SDL|X11|pulse|asound' || true)"

check "headless run" "headless no-sdl" "$(env -u DISPLAY -u WAYLAND_DISPLAY ORVANE_BACKEND=headless "$probe")"
check "no display" "headless no-sdl" "$(env -u DISPLAY -u WAYLAND_DISPLAY -u ORVANE_BACKEND "$probe")"

# The probe and the platform library alone, without the SDL module beside them.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$probe" "$tmp/probe"
cp "$libdir/libplatform.so" "$tmp/"
out=$(env -u ORVANE_BACKEND -u WAYLAND_DISPLAY DISPLAY=:97 "$tmp/probe" 2> "$tmp/err")
check "display but no module: headless" "headless no-sdl" "$out"
check "one line on stderr" "1" "$(wc -l < "$tmp/err")"
check "the line says so" "1" "$(grep -c 'running headless' "$tmp/err")"

if [ $fail -eq 0 ]; then echo "6 passed, 0 failed"; else echo "some checks failed"; fi
exit $fail
