#!/bin/bash
# A click in the 2D picker square makes the inspector show a neuron: its traces
# appear in the right part of the lower strip, and its connections in the
# upper-right pane. Usage: scene_pick.sh <vellicor binary>
set -u
BIN="$1"
if [ "${2:-}" != "--inner" ]; then
    exec timeout 120 xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$BIN" --inner
fi
source "$(dirname "$0")/scene_common.bash"

start_scene demo seed=1 preset=5 ${SCENE_ENGINE:+engine=$SCENE_ENGINE}
sleep 2
shot before
TRACES0=$(lit_pixels before 300x230+700+530)
INSPECTOR0=$(blue_pixels before 500x430+520+70)
[ "$TRACES0" -lt 50 ] || fail "the trace area is not empty before a pick ($TRACES0)"

# The picker square spans about x 16..200 and y 530..745 of the window.
xdotool mousemove --window "$WID" 100 640 click 1
for _ in $(seq 1 12); do
    sleep 1
    shot after
    TRACES1=$(lit_pixels after 300x230+700+530)
    INSPECTOR1=$(blue_pixels after 500x430+520+70)
    [ "$TRACES1" -gt $(( TRACES0 + 200 )) ] && [ "$INSPECTOR1" -gt $(( INSPECTOR0 + 100 )) ] && break
done
[ "$TRACES1" -gt $(( TRACES0 + 200 )) ] || fail "no traces after the pick ($TRACES0 -> $TRACES1)"
[ "$INSPECTOR1" -gt $(( INSPECTOR0 + 100 )) ] || fail "no connections in the inspector view ($INSPECTOR0 -> $INSPECTOR1)"
# The property column sits between the picker and the traces.
COLUMN=$(lit_pixels after 200x230+220+530)
[ "$COLUMN" -gt 300 ] || fail "no property column ($COLUMN)"
finish
