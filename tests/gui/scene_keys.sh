#!/bin/bash
# Quick key taps at a low frame rate each act once. On a 32768-neuron cube the
# scene draws a few frames a second under Xvfb, so ten taps of D 12 ms apart
# arrive while the commands wait for one frame. Ten taps of A at human pace must
# then bring the view back to where it started: the volume box in the inspector
# pane (nothing else is drawn there) ends where it began.
# Usage: scene_keys.sh <vellicor binary>
set -u
BIN="$1"
if [ "${2:-}" != "--inner" ]; then
    exec timeout 150 xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$BIN" --inner
fi
source "$(dirname "$0")/scene_common.bash"

RIGHT=500x430+520+70 # inspector pane

# x of the centre of the pane's bright pixels (box and picker plane outline).
box_x() {
    shot box
    /usr/bin/convert "$WORK/box.png" -crop "$RIGHT" +repage -channel R -separate +channel \
        -threshold 30% -define identify:moments -verbose info: | grep -m1 Centroid | sed 's/.*: *\([0-9.]*\),.*/\1/'
}
# Waits until two screenshots half a second apart agree, and prints that x.
settled_box_x() {
    local last now
    last=$(box_x)
    for _ in $(seq 1 40); do
        sleep 0.5
        now=$(box_x)
        if awk -v a="$last" -v b="$now" 'BEGIN { exit !((a - b) ^ 2 < 0.04) }'; then echo "$now"; return 0; fi
        last=$now
    done
    return 1
}

start_scene demo seed=1 preset=6
xdotool windowfocus --sync "$WID" 2>/dev/null || true
xdotool mousemove --window "$WID" 700 300
xdotool key --window "$WID" r  # auto-rotation off
X0=$(settled_box_x) || fail "the view does not settle"

xdotool key --window "$WID" --delay 12 d d d d d d d d d d
# The view moves once the taps have acted; then it settles again.
for _ in $(seq 1 100); do
    awk -v a="$X0" -v b="$(box_x)" 'BEGIN { exit !((a - b) ^ 2 > 4) }' && break
    sleep 0.1
done
X1=$(settled_box_x) || fail "the view does not settle after the taps"

for _ in 1 2 3 4 5 6 7 8 9 10; do
    xdotool keydown --window "$WID" a; sleep 0.3; xdotool keyup --window "$WID" a; sleep 0.3
done
X2=$(settled_box_x) || fail "the view does not settle after the slow taps"
echo "box x: $X0 at the start, $X1 after ten quick D, $X2 after ten slow A"
awk -v a="$X0" -v b="$X1" 'BEGIN { exit !(b - a > 15) }' || fail "ten quick taps of D hardly moved the view ($X0 -> $X1)"
awk -v a="$X0" -v b="$X2" 'BEGIN { exit !((a - b) ^ 2 < 2.25) }' ||
    fail "ten slow taps of A did not undo ten quick taps of D ($X0 -> $X1 -> $X2)"
finish
