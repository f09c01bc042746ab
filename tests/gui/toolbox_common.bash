# Helpers of the toolbox, chart and capture GUI tests (sourced; not a test of its
# own). The sourcing test runs itself again inside xvfb-run, works in a temporary
# folder (log.txt, err.txt) and ends only the process it started.
BIN=$(readlink -f "$1")
if [ -z "${VELLICOR_IN_XVFB:-}" ]; then
    exec env VELLICOR_IN_XVFB=1 xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$BIN"
fi
WORK=$(mktemp -d)
PID=""
VIS=""
cleanup() {
    if [ -n "$PID" ]; then kill -TERM "$PID" 2>/dev/null; wait "$PID" 2>/dev/null; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- log"; cat "$WORK/log.txt"; exit 1; }
cd "$WORK" || exit 1

# Starts the binary with the given switches, logging into log.txt.
start_vellicor() {
    "$BIN" "$@" </dev/null >log.txt 2>err.txt &
    PID=$!
}
wait_for_window() {  # name -> window id (30 s: a loaded machine starts slowly)
    for _ in $(seq 1 300); do
        local id
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.1
    done
    return 1
}
wait_for_log() {
    for _ in $(seq 1 300); do
        grep -q "$1" log.txt && return 0
        sleep 0.1
    done
    return 1
}
# Waits for the visualization window (VIS) and a started simulation; VIS_X,
# VIS_Y, VIS_WIDTH and VIS_HEIGHT give its geometry.
wait_for_running_window() {
    VIS=$(wait_for_window '^Vellicor v[0-9.]*') || fail "no visualization window"
    wait_for_log "Simulation started." || true  # the checks that follow tell what is missing
    eval "$(xdotool getwindowgeometry --shell "$VIS" | sed 's/^/VIS_/')"
}
# Press and release apart: a press and release taken in one event batch can be lost.
press() { xdotool keydown --window "$VIS" "$1"; sleep 0.2; xdotool keyup --window "$VIS" "$1"; }
