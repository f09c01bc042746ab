#!/bin/bash
# The toolbox's run rows: "Record Spikes" opens a spike report in the capture
# folder and a second click closes it with every spike recorded; "Write
# Checkpoint" writes a checkpoint named by its step.
# Usage: toolbox_record.sh path/to/vellicor
set -u
source "$(dirname "$0")/toolbox_common.bash"

start_vellicor demo preset=4 threads=1 seed=1 "capture=$WORK"
wait_for_running_window
TOOL=$(wait_for_window '^Simulation Control$') || fail "no toolbox window"
sleep 0.5  # past the toolbox's click guard
# Record Spikes (126 dialog units down) and Write Checkpoint (150): centres about
# (105, 219) and (105, 258).
xdotool mousemove --window "$TOOL" 105 219 click 1
wait_for_log "Recording spikes to \"$WORK/vellicor-spikes.h5\"" || fail "no recording after the click"
xdotool mousemove --window "$TOOL" 105 258 click 1
wait_for_log "Checkpoint after step" || fail "no checkpoint after the click"
xdotool mousemove --window "$TOOL" 105 219 click 1
wait_for_log "Recorded [0-9]* spikes" || fail "the second click did not close the report"
count=$(sed -n 's/.*Recorded \([0-9]*\) spikes.*/\1/p' log.txt)
[ "$count" -gt 0 ] || fail "no spike recorded"
ls "$WORK"/vellicor-checkpoint-*.h5 >/dev/null 2>&1 || fail "no checkpoint file"
/usr/bin/python3 - "$WORK/vellicor-spikes.h5" "$count" <<'PY' || fail "the report does not hold the spikes logged"
import sys, h5py
with h5py.File(sys.argv[1]) as f:
    assert len(f["/spikes/vellicor/node_ids"]) == int(sys.argv[2])
PY
echo "PASS toolbox_record"
