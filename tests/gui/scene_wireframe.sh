#!/bin/bash
# The wireframe switch builds the line geometry and draws the network as lines.
# Usage: scene_wireframe.sh <vellicor binary>
set -u
BIN="$1"
if [ "${2:-}" != "--inner" ]; then
    exec timeout 120 xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$BIN" --inner
fi
source "$(dirname "$0")/scene_common.bash"

start_scene demo wireframe seed=1 preset=5
grep -q "3D visualization data video memory usage: [0-9]* MiB" "$LOG" || fail "no video memory line"
# Lines fill the network pane; the inspector pane beside it shows only the volume
# box and the picker plane. Software rendering of the lines is slow: look a few times.
LEFT=0; RIGHT=0
for _ in $(seq 1 8); do
    sleep 2
    shot lines
    LEFT=$(lit_pixels lines 500x430+0+70)
    RIGHT=$(lit_pixels lines 500x430+520+70)
    [ "$LEFT" -gt $(( RIGHT + 5000 )) ] && break
done
[ "$LEFT" -gt $(( RIGHT + 5000 )) ] || fail "too few line pixels in the network pane ($LEFT vs $RIGHT beside it)"
finish
