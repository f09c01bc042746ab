#!/bin/bash
# Losing the X server while a simulation runs and the window draws: the program
# logs the loss and exits with status 1 (not by an abort).
# Runs its own Xvfb, as it kills it. Usage: display_lost.sh <vellicor binary>
set -u
BIN="$1"
WORK=$(mktemp -d)
LOG="$WORK/log.txt"
XPID=""
PID=""
cleanup() {
    [ -n "$PID" ] && kill "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
    [ -n "$XPID" ] && kill "$XPID" 2>/dev/null && wait "$XPID" 2>/dev/null
    rm -rf "$WORK"
}
fail() {
    echo "FAIL: $*"
    echo "---- log"; cat "$LOG" 2>/dev/null
    echo "---- stderr"; cat "$WORK/err.txt" 2>/dev/null
    cleanup
    exit 1
}
wait_for_log() {  # pattern, seconds
    for _ in $(seq 1 $(( $2 * 10 ))); do grep -q "$1" "$LOG" 2>/dev/null && return 0; sleep 0.1; done
    return 1
}

# Xvfb picks a free display and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.txt" &
XPID=$!
for _ in $(seq 1 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || fail "Xvfb did not start"

DISPLAY=":$(head -1 "$WORK/display")" "$BIN" demo seed=1 preset=4 threads=2 </dev/null >"$LOG" 2>"$WORK/err.txt" &
PID=$!
wait_for_log "3D visualization is started." 60 || fail "no visualization started"
sleep 1

kill "$XPID"
wait "$XPID" 2>/dev/null
XPID=""
STATUS=""
for _ in $(seq 1 200); do
    if ! kill -0 "$PID" 2>/dev/null; then
        wait "$PID"
        STATUS=$?
        PID=""
        break
    fi
    sleep 0.1
done
[ -n "$STATUS" ] || fail "the program did not end within 20 s of the display's loss"
[ "$STATUS" -eq 1 ] || fail "exit status $STATUS, expected 1"
grep -q "Lost the connection to the display" "$LOG" || fail "no log line about the lost display"
cleanup
echo "PASS"
