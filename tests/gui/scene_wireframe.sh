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
sleep 4
shot lines
LINES=$(blue_pixels lines 500x430+0+70)
[ "$LINES" -gt 300 ] || fail "too few line pixels in the network pane ($LINES)"
finish
