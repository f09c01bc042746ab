#!/bin/bash
# Configuration sheet end to end: opened from the toolbox while no simulation
# exists, a preset applied with OK is what the next start builds, and a preset
# chosen and then cancelled changes nothing.
#
# Usage: config_sheet.sh /path/to/vellicor   (runs itself under xvfb-run)
#
# Sections: 1. helpers, 2. the run.
set -u
source "$(dirname "$0")/toolbox_common.bash"

# ---- 1. Helpers ------------------------------------------------------------------------------
# The visible window with this exact title, waiting up to 30 s.
find_window() { wait_for_window "^$1\$"; }
window_gone() {
    for _ in $(seq 150); do
        [ -z "$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null)" ] && return 0
        sleep 0.1
    done
    return 1
}
click() {  # window x y (window coordinates)
    xdotool mousemove --window "$1" "$2" "$3"
    sleep 0.15
    xdotool mousedown 1
    sleep 0.08
    xdotool mouseup 1
    sleep 0.3
}

# Window title patterns (xdotool takes regular expressions).
toolbox_title="Simulation Control"
sheet_title="Vellicor Configuration"
# Toolbox button centres: "Start" (7, 6, 126, 18) and "Simulation Configuration..."
# (7, 78, 126, 18) in dialog units of 1.5 x 1.625 pixels.
start_x=105; start_y=24
config_x=105; config_y=141
# Sheet: the preset list, its rows once open, OK and Cancel.
preset_x=397; preset_y=62
row_y() { echo $((89 + 19 * $1)); }
ok_x=668; cancel_x=766; buttons_y=538
restore_x=62; restore_y=241

open_sheet() {  # sets $sheet
    local toolbox
    toolbox=$(find_window "$toolbox_title") || fail "no toolbox window"
    xdotool windowfocus --sync "$toolbox" 2>/dev/null
    click "$toolbox" $config_x $config_y
    sheet=$(find_window "$sheet_title") || fail "the sheet did not open"
    xdotool windowfocus --sync "$sheet" 2>/dev/null
}
choose_preset() {  # sheet row
    click "$1" $preset_x $preset_y
    click "$1" 200 "$(row_y "$2")"
}

# ---- 2. The run -----------------------------------------------------------------------------------
start_vellicor seed=1

toolbox=$(find_window "$toolbox_title") || fail "no toolbox window"
sleep 0.5
grep -q "Created simulation" log.txt && fail "a simulation exists before the test started one"

# OK with "Cube (Smallest)" (row 4: an 8 x 8 x 8 box, 512 neurons).
open_sheet
choose_preset "$sheet" 4
click "$sheet" $ok_x $buttons_y
window_gone "$sheet_title" || fail "OK did not close the sheet"

# Cancel after "Restore Defaults" (which writes the default 32 x 32 x 32 box into
# the record at once) and choosing "Sphere (Small)" (row 0): the record keeps row 4.
open_sheet
click "$sheet" $restore_x $restore_y
choose_preset "$sheet" 0
click "$sheet" $cancel_x $buttons_y
window_gone "$sheet_title" || fail "Cancel did not close the sheet"

# Start: the network built is the one applied with OK.
toolbox=$(find_window "$toolbox_title") || fail "no toolbox window"
xdotool windowfocus --sync "$toolbox" 2>/dev/null
sleep 0.4  # past the toolbox's 300 ms click guard
click "$toolbox" $start_x $start_y
for _ in $(seq 200); do
    grep -q "Created simulation with" log.txt && break
    sleep 0.1
done
line=$(grep -a "Created simulation with" log.txt | head -1)
[ -n "$line" ] || fail "no simulation was created"
echo "$line" | grep -q "Created simulation with 512 neurons" || fail "expected 512 neurons: $line"

echo "PASS: config_sheet"
