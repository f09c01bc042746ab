#!/bin/bash
# headless under Xvfb: no window appears although a display exists; keys come from
# standard input: F5, P (pause, resume), Esc answered with y; the program exits 0.
# Usage: test_vis_headless.sh <vellicor binary>
set -u
BIN="$1"
if [ "${2:-}" != "--inner" ]; then
    exec timeout 60 xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$BIN" --inner
fi

WORK=$(mktemp -d)
LOG="$WORK/log.txt"
PID=""
mkfifo "$WORK/keys"
fail() {
    echo "FAIL: $*"
    echo "---- log"; cat "$LOG"
    [ -n "$PID" ] && kill "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
    exec 3>&- 2>/dev/null
    rm -rf "$WORK"
    exit 1
}
wait_for_log() {
    for _ in $(seq 1 $(( $2 * 10 ))); do grep -q "$1" "$LOG" && return 0; sleep 0.1; done
    return 1
}

"$BIN" headless demo seed=1 preset=0 <"$WORK/keys" >"$LOG" 2>"$WORK/err.txt" &
PID=$!
exec 3>"$WORK/keys"

wait_for_log "Simulation started." 30 || fail "no simulation started"
sleep 1
if xdotool search --name 'Vellicor' >/dev/null 2>&1; then fail "a window appeared in headless mode"; fi

printf '\033[15~' >&3   # F5
sleep 0.3
printf 'p' >&3
wait_for_log "Simulation paused." 10 || fail "P did not pause"
printf 'p' >&3
wait_for_log "Simulation resumed." 10 || fail "P did not resume"
printf '\033' >&3
wait_for_log "Are you sure you want to quit?" 10 || fail "Esc asked nothing on the console"
printf 'y' >&3

for _ in $(seq 1 150); do kill -0 "$PID" 2>/dev/null || break; sleep 0.1; done
kill -0 "$PID" 2>/dev/null && fail "the program did not quit after y"
exec 3>&-
wait "$PID"
RC=$?
PID=""
[ "$RC" -eq 0 ] || fail "exit status $RC"
rm -rf "$WORK"
echo "PASS"
