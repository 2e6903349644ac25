#!/usr/bin/env bash
# Starts the real program under Xvfb, waits for its window "Form1", opens and cancels the
# picture dialog (Space on Picture1, which has the focus; Escape), closes the window with
# Ctrl+Q and expects exit status 0. Exits 77 (skipped) where Xvfb or xdotool is missing.
#   window_smoke_test.sh PATH/TO/edgedom
set -u
for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (Debian packages xvfb and xdotool; scripts/install-deps adds them)"
    exit 77
  fi
done
program="$1"

# Xvfb picks a free display itself and writes its number to a pipe, so that the test never
# collides with another X server on this machine.
exec {display_pipe}< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r -u "$display_pipe" xvfb_line || true
read -r -u "$display_pipe" number || true
xvfb_pid=${xvfb_line#pid }
trap 'kill "$xvfb_pid" 2>/dev/null' EXIT
if [ -z "$number" ]; then
  echo "FAIL: Xvfb did not start"; exit 1
fi
export DISPLAY=":$number"

# Sets id to the window named $1, waiting up to 20 s; fails the test when none comes.
wait_for() {
  for _ in $(seq 1 100); do
    id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$id" ] && return 0
    sleep 0.2
  done
  echo "FAIL: no window named $1"; kill "$pid"; exit 1
}

"$program" & pid=$!
wait_for Form1; window=$id
xdotool windowfocus --sync "$window" key space
wait_for "Open a picture"; xdotool windowfocus --sync "$id" key Escape; sleep 0.5
xdotool windowfocus --sync "$window" key ctrl+q
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$pid" 2>/dev/null; then
  echo "FAIL: still running 10 s after its window was closed"; kill "$pid"; exit 1
fi
wait "$pid"; status=$?
echo "exit status $status"; exit "$status"
