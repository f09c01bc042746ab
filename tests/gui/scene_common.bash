# Helpers of the scene GUI tests (sourced; not a test of its own).
# Each test runs itself again inside xvfb-run, starts the binary, and ends only
# the process it started.
WORK=$(mktemp -d)
LOG="$WORK/log.txt"
PID=""
WID=""

fail() {
    echo "FAIL: $*"
    echo "---- log"; cat "$LOG"
    if [ -n "$PID" ]; then kill "$PID" 2>/dev/null; wait "$PID" 2>/dev/null; fi
    rm -rf "$WORK"
    exit 1
}

finish() {
    if [ -n "$PID" ]; then kill "$PID" 2>/dev/null; wait "$PID" 2>/dev/null; fi
    rm -rf "$WORK"
    echo "PASS"
    exit 0
}

wait_for_log() {  # pattern, seconds
    for _ in $(seq 1 $(( $2 * 10 ))); do grep -q "$1" "$LOG" && return 0; sleep 0.1; done
    return 1
}

# Starts the binary with the given switches and waits for its scene.
start_scene() {
    "$BIN" "$@" </dev/null >"$LOG" 2>"$WORK/err.txt" &
    PID=$!
    WID=$(timeout 20 xdotool search --sync --name '^Vellicor v[0-9.]*$' | head -1)
    [ -n "$WID" ] || fail "no visualization window"
    wait_for_log "3D visualization is started." 60 || fail "the scene geometry was not built"
}

shot() { /usr/bin/import -window root "$WORK/$1.png" || fail "screenshot $1"; }

# Pixels of a region WxH+X+Y whose blue exceeds red: the neurons (palette (c, c, 255)).
blue_pixels() {
    /usr/bin/convert "$WORK/$1.png" -crop "$2" +repage -fx "b - r > 0.03 ? 1 : 0" \
        -colorspace Gray -format "%[fx:int(mean*w*h+0.5)]" info:
}
# Pixels of a region that are not black.
lit_pixels() {
    /usr/bin/convert "$WORK/$1.png" -crop "$2" +repage -colorspace Gray -threshold 8% \
        -format "%[fx:int(mean*w*h+0.5)]" info:
}
# Mask of the grey pixels of a region (the volume box: equal channels, not black).
grey_mask() {
    /usr/bin/convert "$WORK/$1.png" -crop "$2" +repage \
        -fx "(abs(r - g) < 0.02 && abs(g - b) < 0.02 && r > 0.15) ? 1 : 0" "$WORK/$3.png"
}
# Number of pixels in which two masks differ.
mask_difference() {
    /usr/bin/compare -metric AE "$WORK/$1.png" "$WORK/$2.png" null: 2>&1 | cut -d' ' -f1
}
# Mask of the bright pixels of a region.
bright_mask() {
    /usr/bin/convert "$WORK/$1.png" -crop "$2" +repage -fx "r > 0.3 ? 1 : 0" "$WORK/$3.png"
}
