#!/usr/bin/env bash
# Starts the real program under Xvfb, as a user would, in two sessions:
#  1. Form1: waits for its window, opens and cancels the picture dialog (Space on Picture1,
#     which has the focus; Escape) and closes the window with Ctrl+Q;
#  2. the stack window, when a stack folder is given: edgedom started with the folder fuses it,
#     Ctrl+S saves the fused picture through the real dialog, the file must equal edgedom-cli's
#     output for the same shots, and Ctrl+Q ends it.
# Each must end with exit status 0. Exits 77 (skipped) where Xvfb or xdotool is missing.
#   window_smoke_test.sh PATH/TO/edgedom [PATH/TO/edgedom-cli STACK_FOLDER]
set -u
for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (Debian packages xvfb and xdotool; scripts/install-deps adds them)"
    exit 77
  fi
done
program="$1" cli="${2:-}" stack="${3:-}"
work="$(mktemp -d)"

# Xvfb picks a free display itself and writes its number to a pipe, so that the test never
# collides with another X server on this machine.
exec {display_pipe}< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r -u "$display_pipe" xvfb_line || true
read -r -u "$display_pipe" number || true
xvfb_pid=${xvfb_line#pid }
trap 'kill "$xvfb_pid" 2>/dev/null; rm -rf "$work"' EXIT
if [ -z "$number" ]; then
  echo "FAIL: Xvfb did not start"; exit 1
fi
export DISPLAY=":$number"

fail() { echo "FAIL: $*"; kill "$pid" 2>/dev/null; exit 1; }

# Sets id to the window whose whole name matches the pattern $1, waiting up to $2 s (20 unless
# given); fails the test when none comes.
wait_for() {
  for _ in $(seq 1 $((5 * ${2:-20}))); do
    id=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$id" ] && return 0
    sleep 0.2
  done
  fail "no window named $1"
}

# Ctrl+Q in window $1, then the program must end with status 0 within 10 s.
quit() {
  xdotool windowfocus --sync "$1" key ctrl+q
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
  kill -0 "$pid" 2>/dev/null && fail "still running 10 s after Ctrl+Q"
  wait "$pid"; status=$?
  echo "exit status $status"
  [ "$status" -eq 0 ] || exit "$status"
}

"$program" & pid=$!
wait_for Form1; window=$id
xdotool windowfocus --sync "$window" key space
wait_for "Open a picture"; xdotool windowfocus --sync "$id" key Escape; sleep 0.5
quit "$window"

[ -n "$stack" ] || exit 0
name="$(basename "$stack")"
mapfile -t shots < <(find "$stack" -maxdepth 1 -type f -name '*.jpg' | sort -V)
"$cli" --fused "$work/cli.png" "${shots[@]}" || fail "edgedom-cli could not fuse $stack"
"$program" "$stack" & pid=$!
wait_for "$name \\(${#shots[@]} shots\\) - edgedom stack" 120; window=$id # the title loses "fusing"
xdotool windowfocus --sync "$window" key ctrl+s
wait_for "Save the fused picture as"
xdotool windowfocus --sync "$id" type --delay 20 "$work/window.png"
xdotool windowfocus --sync "$id" key Return
for _ in $(seq 1 100); do [ -f "$work/window.png" ] && break; sleep 0.2; done
cmp "$work/window.png" "$work/cli.png" || fail "the window's fused picture differs from edgedom-cli's"
quit "$window"
