#!/bin/bash
# Frame rate of the 3D view with cubes and with lines (the wireframe switch), in one
# run, alternating, on one network: preset 5 (4096 neurons, about 124,000
# synapses), seed 1, the demo's turning view, MSAA 4x, a 1600x1000 Xvfb screen
# (Mesa llvmpipe). Frames are counted at the buffer swap (bench/swap_times.c,
# preloaded), over a window that starts 3 s after the geometry is built. The
# network's activity changes what the line scene draws, so single samples vary:
# read the medians and their ratio.
#
# Usage: bench/scene_fps.sh [vellicor binary] [repetitions] [seconds per sample]
#   SCENE_FPS_BASELINE=/other/vellicor  also measures that binary's lines each round
#   SCENE_FPS_SWITCHES="msaa2x"         extra switches for every sample
set -u
BIN=$(realpath "${1:-build/vellicor}")
REPS=${2:-3}
SECONDS_PER=${3:-12}
if [ "${SCENE_FPS_INNER:-}" != 1 ]; then
    export SCENE_FPS_INNER=1
    exec xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" "$BIN" "$REPS" "$SECONDS_PER"
fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cc -O2 -shared -fPIC -o "$WORK/swap_times.so" "$(dirname "$0")/swap_times.c" -ldl || exit 1
BASELINE=${SCENE_FPS_BASELINE:-}

# One sample: frames per second of a binary with the given switches.
sample() {
    local bin=$1; shift
    local log="$WORK/log.txt" swaps="$WORK/swaps.txt"
    rm -f "$swaps"
    VELLICOR_SWAP_LOG="$swaps" LD_PRELOAD="$WORK/swap_times.so" \
        "$bin" demo seed=1 preset=5 "$@" ${SCENE_FPS_SWITCHES:-} </dev/null >"$log" 2>&1 &
    local pid=$!
    for _ in $(seq 1 600); do grep -q "3D visualization is started." "$log" && break; sleep 0.1; done
    sleep 3
    local from; from=$(tail -n 1 "$swaps" 2>/dev/null)
    sleep "$SECONDS_PER"
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
    awk -v from="${from:-0}" '$1 > from { n++; last = $1 } END {
        if (n > 1) printf "%.2f\n", n / (last - from); else print "0" }' "$swaps"
}
median() { sort -g | awk '{ a[NR] = $1 } END { printf "%.2f", a[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

if [ -n "$BASELINE" ]; then
    printf "%-4s %10s %10s %8s %15s\n" rep "cubes fps" "lines fps" "ratio" "baseline lines"
else
    printf "%-4s %10s %10s %8s\n" rep "cubes fps" "lines fps" "ratio"
fi
: >"$WORK/cubes"; : >"$WORK/lines"; : >"$WORK/base"
for rep in $(seq 1 "$REPS"); do
    c=$(sample "$BIN"); l=$(sample "$BIN" wireframe)
    echo "$c" >>"$WORK/cubes"; echo "$l" >>"$WORK/lines"
    if [ -n "$BASELINE" ]; then
        b=$(sample "$BASELINE" wireframe); echo "$b" >>"$WORK/base"
        printf "%-4s %10s %10s %8s %15s\n" "$rep" "$c" "$l" "$(ratio "$c" "$l")" "$b"
    else
        printf "%-4s %10s %10s %8s\n" "$rep" "$c" "$l" "$(ratio "$c" "$l")"
    fi
done
C=$(median <"$WORK/cubes"); L=$(median <"$WORK/lines")
echo "median: cubes $C fps, lines $L fps, cubes/lines $(ratio "$C" "$L")"
if [ -n "$BASELINE" ]; then
    B=$(median <"$WORK/base")
    echo "median baseline lines $B fps: lines $(ratio "$L" "$B")x the baseline"
fi
