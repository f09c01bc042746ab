#!/bin/bash
# The demo shows the network: after a few seconds the upper-left pane (the
# network view, 512 x 512 in the 1024 x 768 window) holds many neuron-coloured pixels.
# Usage: scene_network.sh <vellicor binary>
set -u
BIN="$1"
if [ "${2:-}" != "--inner" ]; then
    exec timeout 120 xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$BIN" --inner
fi
source "$(dirname "$0")/scene_common.bash"

start_scene demo seed=1 preset=5
grep -q "3D visualization data video memory usage: 2 MiB" "$LOG" || fail "video memory line (4096 full cubes = 2 MiB)"
NEURONS=0
for _ in $(seq 1 12); do
    sleep 1
    shot network
    # Below the HUD lines, inside the upper-left pane.
    NEURONS=$(blue_pixels network 500x430+0+70)
    [ "$NEURONS" -gt 500 ] && break
done
[ "$NEURONS" -gt 500 ] || fail "too few neuron pixels in the network pane ($NEURONS)"
# The picker in the lower strip is drawn too.
PICKER=$(lit_pixels network 240x240+10+520)
[ "$PICKER" -gt 2000 ] || fail "no 2D picker ($PICKER lit pixels)"
finish
