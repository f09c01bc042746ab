#!/bin/bash
# A left drag in the network pane rotates the view. With auto-rotation off (R) the
# inspector pane, which shows only the volume box and the picker plane, stays
# pixel-identical without input; after a drag both upper panes change, the network
# pane far beyond the flicker of the neurons' colours.
# Usage: scene_rotate.sh <vellicor binary>
set -u
BIN="$1"
if [ "${2:-}" != "--inner" ]; then
    exec timeout 120 xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$BIN" --inner
fi
source "$(dirname "$0")/scene_common.bash"

LEFT=500x430+0+70    # network pane below the HUD
RIGHT=500x430+520+70 # inspector pane

start_scene demo seed=1 preset=5
xdotool windowfocus --sync "$WID" 2>/dev/null || true
xdotool mousemove --window "$WID" 700 300
# Held for a moment so that the key table sees it down between two event passes.
xdotool keydown r; sleep 0.3; xdotool keyup r
sleep 2
shot still1
sleep 1
shot still2
grey_mask still1 "$LEFT" left1
grey_mask still2 "$LEFT" left2
bright_mask still1 "$RIGHT" right1
bright_mask still2 "$RIGHT" right2
STILL_RIGHT=$(mask_difference right1 right2)
STILL_LEFT=$(mask_difference left1 left2)
[ "$STILL_RIGHT" -lt 20 ] || fail "the view moves without input ($STILL_RIGHT pixels); auto-rotation not off?"

xdotool mousemove --window "$WID" 250 250 mousedown 1
for step in 1 2 3 4 5 6; do
    xdotool mousemove --window "$WID" $(( 250 + step * 10 )) $(( 250 + step * 4 ))
    sleep 0.1
done
xdotool mouseup 1
sleep 2
shot turned
grey_mask turned "$LEFT" left3
bright_mask turned "$RIGHT" right3
TURNED_RIGHT=$(mask_difference right2 right3)
TURNED_LEFT=$(mask_difference left2 left3)
echo "network pane: $STILL_LEFT still, $TURNED_LEFT turned; inspector pane: $STILL_RIGHT still, $TURNED_RIGHT turned"
[ "$TURNED_RIGHT" -gt 1000 ] || fail "a left drag did not rotate the inspector view ($TURNED_RIGHT)"
[ "$TURNED_LEFT" -gt $(( STILL_LEFT + 1500 )) ] || fail "a left drag did not rotate the network view ($STILL_LEFT vs $TURNED_LEFT)"
finish
