#!/bin/bash
# The visualization window under Xvfb: it appears with status/help text, F1 shows
# the help panel, F5, P (pause, resume) and Esc (the exit question, answered Yes)
# act, and the program exits 0. Usage: test_vis_window.sh <vellicor binary>
set -u
BIN="$1"
if [ "${2:-}" != "--inner" ]; then
    exec timeout 90 xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$BIN" --inner
fi

source "$(dirname "$0")/scene_common.bash"

# Bright pixels (any channel above half) in a region WxH+X+Y of a screenshot.
bright_pixels() {
    /usr/bin/convert "$1" -crop "$2" +repage -colorspace Gray -threshold 40% -format "%[fx:int(mean*w*h+0.5)]" info:
}
# Pixels close to the help text colour (1, 1, 0.5).
help_text_pixels() {
    /usr/bin/convert "$1" -crop "$2" +repage -fuzz 12% -fill white -opaque "#FFFF80" \
        -fill black +opaque white -colorspace Gray -format "%[fx:int(mean*w*h+0.5)]" info:
}

"$BIN" demo seed=1 preset=0 </dev/null >"$LOG" 2>"$WORK/err.txt" &
PID=$!

WID=$(timeout 20 xdotool search --sync --name '^Vellicor v[0-9.]*$' | head -1)
[ -n "$WID" ] || fail "no visualization window"
wait_for_log "Simulation started." 30 || fail "no simulation started"
TEXT=0
for _ in $(seq 1 20); do
    sleep 0.5
    /usr/bin/import -window root "$WORK/status.png" || fail "screenshot"
    TEXT=$(bright_pixels "$WORK/status.png" 700x60+0+0)
    [ "$TEXT" -gt 40 ] && break
done
[ "$TEXT" -gt 40 ] || fail "no text in the upper left of the window ($TEXT bright pixels)"

xdotool windowfocus --sync "$WID" 2>/dev/null || true
xdotool key F1
# Frames may take a while on a software renderer: look again for up to 8 s.
HELP=0
for _ in $(seq 1 16); do
    sleep 0.5
    /usr/bin/import -window root "$WORK/help.png" || fail "screenshot"
    HELP=$(help_text_pixels "$WORK/help.png" 900x500+40+150)
    [ "$HELP" -gt 2000 ] && break
done
[ "$HELP" -gt 2000 ] || fail "F1: no help text drawn ($HELP pixels)"

xdotool key F5
HELP2=$HELP
for _ in $(seq 1 16); do
    sleep 0.5
    /usr/bin/import -window root "$WORK/analysis.png" || fail "screenshot"
    HELP2=$(help_text_pixels "$WORK/analysis.png" 900x500+40+150)
    [ "$HELP2" -lt $(( HELP / 4 )) ] && break
done
[ "$HELP2" -lt $(( HELP / 4 )) ] || fail "F5 did not replace the help panel ($HELP2 of $HELP pixels left)"

xdotool key p
wait_for_log "Simulation paused." 10 || fail "P did not pause"
sleep 0.5
xdotool key p
wait_for_log "Simulation resumed." 10 || fail "P did not resume"

xdotool key Escape
QID=$(timeout 10 xdotool search --sync --name '^Exit Vellicor\?$' | head -1)
[ -n "$QID" ] || fail "Esc during a simulation asked nothing"
xdotool windowfocus --sync "$QID" 2>/dev/null || true
sleep 0.3
xdotool key Return

for _ in $(seq 1 150); do kill -0 "$PID" 2>/dev/null || break; sleep 0.1; done
kill -0 "$PID" 2>/dev/null && fail "the program did not quit after Yes"
wait "$PID"
RC=$?
PID=""
[ "$RC" -eq 0 ] || fail "exit status $RC"
grep -q "Simulation stopped. All resources are released." "$LOG" || fail "the simulation was not stopped on quit"
finish
