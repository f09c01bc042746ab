#!/bin/bash
# The visualization window under Xvfb: it appears with status/help text, F1 shows
# the help panel, F5, P (pause, resume) and Esc (the exit question, answered Quit)
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
# Frames may take a while on a software renderer: a screenshot every 0.5 s, at most
# TRIES, until COUNTER's count in REGION passes `[ count OP LIMIT ]`; prints the
# last count (empty when a screenshot failed).
poll_pixels() {  # counter name region tries op limit
    local count=""
    for _ in $(seq 1 "$4"); do
        sleep 0.5
        /usr/bin/import -window root "$WORK/$2.png" || { echo ""; return; }
        count=$("$1" "$WORK/$2.png" "$3")
        [ "$count" "$5" "$6" ] && break
    done
    echo "$count"
}

"$BIN" demo seed=1 preset=0 </dev/null >"$LOG" 2>"$WORK/err.txt" &
PID=$!

WID=$(timeout 20 xdotool search --sync --name '^Vellicor v[0-9.]*$' | head -1)
[ -n "$WID" ] || fail "no visualization window"
wait_for_log "Simulation started." 30 || fail "no simulation started"
TEXT=$(poll_pixels bright_pixels status 700x60+0+0 20 -gt 40)
[ -n "$TEXT" ] || fail "screenshot"
[ "$TEXT" -gt 40 ] || fail "no text in the upper left of the window ($TEXT bright pixels)"

xdotool windowfocus --sync "$WID" 2>/dev/null || true
xdotool key F1
HELP=$(poll_pixels help_text_pixels help 900x500+40+150 16 -gt 2000)
[ -n "$HELP" ] || fail "screenshot"
[ "$HELP" -gt 2000 ] || fail "F1: no help text drawn ($HELP pixels)"

xdotool key F5
HELP2=$(poll_pixels help_text_pixels analysis 900x500+40+150 16 -lt $(( HELP / 4 )))
[ -n "$HELP2" ] || fail "screenshot"
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
kill -0 "$PID" 2>/dev/null && fail "the program did not quit after Quit"
wait "$PID"
RC=$?
PID=""
[ "$RC" -eq 0 ] || fail "exit status $RC"
grep -q "Simulation stopped. All resources are released." "$LOG" || fail "the simulation was not stopped on quit"
finish
