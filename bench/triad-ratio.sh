#!/usr/bin/env bash
# The integration phase against memory bandwidth, in one run, on preset 6 (seed 1):
#   - one thread: the integration phase of bench_dynamics against a one-thread
#     STREAM-style triad;
#   - two threads: the integration phase of headless runs (the program's own
#     phase timer) against a two-thread triad, measured in turns, medians of 3.
# Bytes per step, two counts:
#   moved: what the lane layout makes the phase move: per group of four synapses
#          64 bytes of state read and written and 48 bytes of weight block read
#          (bench_dynamics counts the groups of the built network);
#   must:  what bit-exactness requires: each synapse's R, u, gFast and gSlow read
#          and written, 32 bytes per synapse.
# The triad counts bytes as STREAM does (three arrays per element, no write-allocate).
#
# Usage: bench/triad-ratio.sh <builddir> [runs]
set -u
BUILD="${1:-build}"
RUNS="${2:-3}"
BENCH="$BUILD/bench/bench_dynamics"
BIN="$BUILD/vellicor"
for f in "$BENCH" "$BIN"; do
    [ -x "$f" ] || { echo "triad-ratio.sh: $f not found (make bench builds it)" >&2; exit 1; }
done
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print ""; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Prints the named benchmark's bytes_per_second (and bytes_per_step when it has one).
figures() {
    "$BENCH" --benchmark_filter="$1" --benchmark_format=csv 2>/dev/null |
        awk -F, '/^name,/ { for (i = 1; i <= NF; i++) col[$i] = i; next }
                 /^"BM_/ { b = $(col["bytes_per_second"]); s = ("\"bytes_per_step\"" in col) ? $(col["\"bytes_per_step\""]) : "";
                           print b, s }'
}

# ---- One thread -----------------------------------------------------------------------------
read -r integration1 movedBytes < <(figures 'IntegrationPhase/6/')
triad1=$(figures 'StreamTriad/real_time/threads:1$' | awk '{ print $1 }')
if [ -z "${integration1:-}" ] || [ -z "${movedBytes:-}" ] || [ -z "$triad1" ]; then
    echo "triad-ratio.sh: no figures" >&2
    exit 1
fi
awk -v i="$integration1" -v t="$triad1" 'BEGIN {
    printf "Integration phase, preset 6, one thread: %.1f GB/s moved, %.0f%% of this run'"'"'s one-thread triad (%.1f GB/s)\n",
           i / 1e9, 100 * i / t, t / 1e9 }'

# ---- Two threads ------------------------------------------------------------------------------
triads=""; integrations=""; synapses=""
for ((r = 0; r < RUNS; r++)); do
    t=$(figures 'StreamTriad/real_time/threads:2$' | awk '{ print $1 }')
    [ -n "$t" ] && triads+="$t"$'\n'
    log=$("$BIN" headless seed=1 preset=6 threads=2 steps=1000 </dev/null 2>&1)
    i=$(printf "%s\n" "$log" | sed -n 's/.*Integration phase \([0-9.]*\) ms per step.*/\1/p' | tail -1)
    [ -n "$i" ] && integrations+="$i"$'\n'
    synapses=$(printf "%s\n" "$log" | sed -n 's/.*Created simulation with [0-9]* neurons and \([0-9]*\) synapses.*/\1/p' | tail -1)
done
triad2=$(printf "%s" "$triads" | median)
ms=$(printf "%s" "$integrations" | median)
if [ -z "$triad2" ] || [ -z "$ms" ] || [ -z "$synapses" ]; then
    echo "triad-ratio.sh: no two-thread figures" >&2
    exit 1
fi
awk -v ms="$ms" -v t="$triad2" -v moved="$movedBytes" -v syn="$synapses" 'BEGIN {
    must = 32 * syn
    printf "Integration phase, preset 6, 2 threads: %.3f ms per step; this run'"'"'s two-thread triad %.1f GB/s\n", ms, t / 1e9
    printf "  moved: %.1f MB per step, %.1f GB/s, %.0f%% of the triad\n", moved / 1e6, moved / (ms * 1e6), 100 * moved / (ms * 1e-3) / t
    printf "  must:  %.1f MB per step, %.1f GB/s, %.0f%% of the triad\n", must / 1e6, must / (ms * 1e6), 100 * must / (ms * 1e-3) / t
}'
