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

# With multisampling the lines are drawn into an offscreen buffer that is then
# copied into the pane, while the volume box is drawn into the window itself. The
# bluish lines must fill the box (not shifted, scaled or cut by the copy): their
# bounding box lies within the lit pixels' one (the box) and spans most of it. The
# network's activity comes and goes, so a few frames are looked at.
PANE=500x430+0+70
lines_fill_box() {
    read -r BW BH BX BY <<<"$(/usr/bin/convert "$WORK/$1.png" -crop $PANE +repage -colorspace Gray \
        -threshold 8% -trim -format "%w %h %X %Y" info: | tr -d '+')"
    read -r LW LH LX LY <<<"$(/usr/bin/convert "$WORK/$1.png" -crop $PANE +repage \
        -fx "b - r > 0.03 ? 1 : 0" -trim -format "%w %h %X %Y" info: | tr -d '+')"
    [ "$LX" -ge "$BX" ] && [ "$LY" -ge "$BY" ] && [ $(( LX + LW )) -le $(( BX + BW )) ] &&
        [ $(( LY + LH )) -le $(( BY + BH )) ] && [ $(( 10 * LW )) -ge $(( 6 * BW )) ] &&
        [ $(( 10 * LH )) -ge $(( 6 * BH )) ]
}
FILLED=no
for attempt in 1 2 3 4 5 6; do
    lines_fill_box lines && { FILLED=yes; break; }
    sleep 3
    shot lines
done
[ "$FILLED" = yes ] || fail "lines ${LW}x${LH}+$LX+$LY do not fill the box ${BW}x${BH}+$BX+$BY"
finish
