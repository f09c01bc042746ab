#!/bin/bash
# F5 shows the analysis charts: the chart panels and the frequency bands appear
# in the visualization window.
# Usage: toolbox_charts.sh path/to/vellicor
set -u
source "$(dirname "$0")/toolbox_common.bash"

start_vellicor demo preset=4 threads=1 seed=1
wait_for_running_window
sleep 1
pixel() {  # file x y (window coordinates, y down) -> "r g b"
    /usr/bin/convert "$1" -format "%[fx:int(255*p{$(( VIS_X + $2 )),$(( VIS_Y + $3 ))}.r)] %[fx:int(255*p{$(( VIS_X + $2 )),$(( VIS_Y + $3 ))}.g)] %[fx:int(255*p{$(( VIS_X + $2 )),$(( VIS_Y + $3 ))}.b)]" info:
}
/usr/bin/import -window root before.png
press F5
H=$VIS_HEIGHT
# Drawn once the history panel pixel has taken the panel colour (blue well above red).
for _ in $(seq 1 20); do
    sleep 0.25
    /usr/bin/import -window root after.png
    set -- $(pixel after.png 70 $((H * 60 / 100)))
    [ "$3" -gt $(( $1 + 30 )) ] && [ "$3" -gt 40 ] && break
done
# The charts stand between the HUD and the lower strip (the top third of the
# window holds the picker and the traces): spectrum panel left of the bands
# (x 64..92), weight panel and history panel below it: the panel colour
# (0.08, 0.08, 0.33) dominates.
for point in "70 $((H * 30 / 100))" "70 $((H * 48 / 100))" "70 $((H * 60 / 100))"; do
    set -- $(pixel after.png $point)
    [ "$3" -gt $(( $1 + 30 )) ] && [ "$3" -gt 40 ] || fail "no chart panel at ($point): rgb $*"
done
# Inside the band area (Delta band at x about 100): a bluish band colour.
set -- $(pixel after.png 100 $((H * 30 / 100)))
[ "$3" -gt $(( $1 + 30 )) ] || fail "no band at (100, $((H * 30 / 100))): rgb $*"
# Before F5 the same panel pixel was not the panel colour.
BEFORE=$(pixel before.png 70 $((H * 60 / 100)))
AFTER=$(pixel after.png 70 $((H * 60 / 100)))
[ "$BEFORE" != "$AFTER" ] || fail "the history panel pixel did not change ($BEFORE)"
echo "PASS toolbox_charts"
