#!/bin/bash
# The toolbox appears beside the visualization window (right + 16, top + 16); a
# click on its start button starts a simulation, and the button's caption changes.
# Usage: toolbox_start.sh path/to/vellicor
set -u
source "$(dirname "$0")/toolbox_common.bash"

start_vellicor preset=4 threads=1 seed=1

VIS=$(wait_for_window '^Vellicor v[0-9.]*') || fail "no visualization window"
TOOL=$(wait_for_window '^Simulation Control$') || fail "no toolbox window"
# The toolbox may be mapped before it is moved beside the window: wait for its place.
for _ in $(seq 1 50); do
    eval "$(xdotool getwindowgeometry --shell "$VIS" | sed 's/^/VIS_/')"
    eval "$(xdotool getwindowgeometry --shell "$TOOL" | sed 's/^/TOOL_/')"
    [ "$TOOL_X" -eq $((VIS_X + VIS_WIDTH + 16)) ] && [ "$TOOL_Y" -eq $((VIS_Y + 16)) ] && break
    sleep 0.1
done
[ "$TOOL_X" -eq $((VIS_X + VIS_WIDTH + 16)) ] || fail "toolbox x $TOOL_X, window right $((VIS_X + VIS_WIDTH))"
[ "$TOOL_Y" -eq $((VIS_Y + 16)) ] || fail "toolbox y $TOOL_Y, window top $VIS_Y"
grep -q "Simulation started." log.txt && fail "a simulation started without a click"

sleep 0.5
/usr/bin/import -window root before.png
# Start button (1006): 7, 6, 126 x 18 dialog units -> centre about (105, 24).
xdotool mousemove --window "$TOOL" 105 24 click 1
wait_for_log "Initializing new simulation. Please wait." || fail "no start after the click"
wait_for_log "Simulation started." || fail "the simulation did not start"
# The caption "Start Simulation" becomes "Stop Simulation": the button's pixels change.
crop() { /usr/bin/convert "$1" -crop "180x20+$((TOOL_X + 15))+$((TOOL_Y + 14))" +repage "$2"; }
crop before.png b.png
DIFF=0
for _ in $(seq 1 20); do
    sleep 0.25
    /usr/bin/import -window root after.png
    crop after.png a.png
    DIFF=$(/usr/bin/compare -metric AE b.png a.png null: 2>&1 | cut -d' ' -f1)
    [ "${DIFF%.*}" -gt 20 ] && break
done
[ "${DIFF%.*}" -gt 20 ] || fail "the start button looks the same after the start ($DIFF pixels differ)"
# A second click on the same button within the guard's 300 ms does nothing; the
# next accepted click stops the simulation.
xdotool mousemove --window "$TOOL" 105 24 click 1
wait_for_log "Simulation stopped. All resources are released." || fail "no stop after the second click"
[ "$(grep -c 'Simulation started.' log.txt)" -eq 1 ] || fail "more than one start"
echo "PASS toolbox_start"
