#!/bin/bash
# F10 writes frame0.jpg, frame1.jpg, ... into the capture folder: each a valid JPEG
# of the window's size whose top row is the window's top row (the help panel is
# blue at its top and red at its bottom), with StepCounter advancing by exactly one
# per frame (each file carries "StepCounter=N" in its comment marker; a frame may
# be read while its step is still finishing, so frame i shows step s0 + i or one
# off it, but never drifts).
# Usage: capture_frames.sh path/to/vellicor
set -u
source "$(dirname "$0")/toolbox_common.bash"

mkdir frames
start_vellicor demo preset=4 threads=1 seed=1 "capture=$WORK/frames"
wait_for_running_window
sleep 0.5
press F1   # help panel: orientation marker
sleep 0.3
press F10
for _ in $(seq 1 600); do  # a loaded machine may draw only a few frames per second
    [ "$(ls frames | grep -c '^frame[0-9]*\.jpg$')" -ge 5 ] && break
    sleep 0.1
done
press F10
sleep 1
COUNT=$(ls frames | grep -c '^frame[0-9]*\.jpg$')
[ "$COUNT" -ge 3 ] || fail "only $COUNT frames written"
FIRST=""
for i in $(seq 0 $((COUNT - 1))); do
    f="frames/frame$i.jpg"
    [ -f "$f" ] || fail "missing $f"
    INFO=$(/usr/bin/identify -format '%m %w %h %c' "$f" 2>/dev/null) || fail "$f is not a valid image"
    set -- $INFO
    [ "$1" = JPEG ] || fail "$f is $1"
    [ "$2" -eq "$VIS_WIDTH" ] && [ "$3" -eq "$VIS_HEIGHT" ] || fail "$f is $2x$3, window ${VIS_WIDTH}x${VIS_HEIGHT}"
    STEP=${4#StepCounter=}
    [ -n "$FIRST" ] || FIRST=$STEP
    OFF=$((STEP - FIRST - i))
    [ "$OFF" -ge -1 ] && [ "$OFF" -le 1 ] || fail "$f at step $STEP: frame 0 was at step $FIRST"
done
# Orientation: near the top of the help panel blue, near its bottom red.
rgb() { /usr/bin/convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.b)]" info:; }
set -- $(rgb frames/frame1.jpg 40 $((VIS_HEIGHT * 15 / 100 + 6)))
[ "$2" -gt "$1" ] || fail "top of the help panel is not blue in the image (r $1, b $2)"
set -- $(rgb frames/frame1.jpg 40 $((VIS_HEIGHT * 85 / 100 - 6)))
[ "$1" -gt "$2" ] || fail "bottom of the help panel is not red in the image (r $1, b $2)"
# Capture again: the numbering continues.
press F10
for _ in $(seq 1 300); do [ -f "frames/frame$COUNT.jpg" ] && break; sleep 0.1; done
press F10
[ -f "frames/frame$COUNT.jpg" ] || fail "numbering did not continue at frame$COUNT.jpg"
echo "PASS capture_frames ($COUNT frames)"
