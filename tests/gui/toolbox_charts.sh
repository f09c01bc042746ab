#!/bin/bash
# F5 shows the analysis charts: the chart panels and the frequency bands appear
# in the visualization window.
# Usage: toolbox_charts.sh path/to/vellicor
set -u
BIN=$(readlink -f "$1")
if [ -z "${VELLICOR_IN_XVFB:-}" ]; then
    exec env VELLICOR_IN_XVFB=1 xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$BIN"
fi
WORK=$(mktemp -d)
PID=""
cleanup() {
    if [ -n "$PID" ]; then kill -TERM "$PID" 2>/dev/null; wait "$PID" 2>/dev/null; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- log"; cat "$WORK/log.txt"; exit 1; }
cd "$WORK"
# Press and release apart: a press and release taken in one event batch can be lost.
press() { xdotool keydown --window "$VIS" "$1"; sleep 0.2; xdotool keyup --window "$VIS" "$1"; }
"$BIN" demo preset=4 threads=1 seed=1 </dev/null >log.txt 2>err.txt &
PID=$!
VIS=""
for _ in $(seq 1 100); do
    VIS=$(xdotool search --onlyvisible --name '^Vellicor v0.40' 2>/dev/null | head -1)
    [ -n "$VIS" ] && break
    sleep 0.1
done
[ -n "$VIS" ] || fail "no visualization window"
for _ in $(seq 1 100); do grep -q "Simulation started." log.txt && break; sleep 0.1; done
eval "$(xdotool getwindowgeometry --shell "$VIS" | sed 's/^/VIS_/')"
sleep 1
pixel() {  # file x y (window coordinates, y down) -> "r g b"
    /usr/bin/convert "$1" -format "%[fx:int(255*p{$(( VIS_X + $2 )),$(( VIS_Y + $3 ))}.r)] %[fx:int(255*p{$(( VIS_X + $2 )),$(( VIS_Y + $3 ))}.g)] %[fx:int(255*p{$(( VIS_X + $2 )),$(( VIS_Y + $3 ))}.b)]" info:
}
/usr/bin/import -window root before.png
press F5
sleep 1.5
/usr/bin/import -window root after.png
H=$VIS_HEIGHT
# Spectrum panel left of the bands (x 64..92, y from the top 0.15 H..0.5 H),
# weight panel and history panel: the panel colour (0.08, 0.08, 0.33) dominates.
for point in "70 $((H * 30 / 100))" "70 $((H * 58 / 100))" "70 $((H * 76 / 100))"; do
    set -- $(pixel after.png $point)
    [ "$3" -gt $(( $1 + 30 )) ] && [ "$3" -gt 40 ] || fail "no chart panel at ($point): rgb $*"
done
# Inside the band area (Delta band at x about 100): a bluish band colour.
set -- $(pixel after.png 100 $((H * 30 / 100)))
[ "$3" -gt $(( $1 + 30 )) ] || fail "no band at (100, $((H * 30 / 100))): rgb $*"
# Before F5 the same panel pixel was not the panel colour.
BEFORE=$(pixel before.png 70 $((H * 76 / 100)))
AFTER=$(pixel after.png 70 $((H * 76 / 100)))
[ "$BEFORE" != "$AFTER" ] || fail "the history panel pixel did not change ($BEFORE)"
echo "PASS toolbox_charts"
