#!/usr/bin/env bash
# End-to-end benchmark: headless runs of presets 4, 5, 6, 7 (1 and 2 worker
# threads) and 12 (2 threads) with seed 1 and both engines (exact, event), 2000
# steps each, and a table of the medians; an event row also gives its speed
# against the exact row above it and the worker time per delivered synapse event.
#
# Sections: settings, one run, the table, spike recording.
#
# Usage: bench/run-bench.sh <builddir> [runs]   (runs per row, default 3;
# BENCH_PRESETS="6" limits the presets)
# Columns: ms per step, real-time factor, synaptic updates per second (synapses
# x steps / wall time from the first step to the last), the whole step against
# the integration phase of the same run, peak resident memory (the build's, which
# briefly holds both layouts in event mode) and per synapse, the network's memory
# as the engine holds it while it runs, per synapse, and for the event engine
# nanoseconds of worker time (wall time x threads) per delivered synapse event;
# then the cost of recording the spikes (record=) on preset 6.
set -u

# ---- Settings ------------------------------------------------------------------------------
BUILD="${1:-build}"
RUNS="${2:-3}"
STEPS=2000
PRESETS="${BENCH_PRESETS:-4 5 6 7 12}"
THREADS="1 2"
ENGINES="${BENCH_ENGINES:-exact event}"
BIN="$BUILD/vellicor"
if [ ! -x "$BIN" ]; then
    echo "run-bench.sh: $BIN not found; build first (make build)" >&2
    exit 1
fi
TIME_BIN=/usr/bin/time
[ -x "$TIME_BIN" ] || TIME_BIN=""

# ---- One run ------------------------------------------------------------------------------------
# Prints "wall_s synapses rss_kib step_over_integration held_mib events" for one
# run, or nothing when it failed.
run_once() {
    local preset=$1 threads=$2 extra=${3:-} log rss
    log=$(mktemp)
    if [ -n "$TIME_BIN" ]; then
        "$TIME_BIN" -v "$BIN" headless seed=1 preset="$preset" threads="$threads" steps=$STEPS $extra \
            </dev/null >"$log" 2>"$log.time"
        rss=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$log.time")
    else
        "$BIN" headless seed=1 preset="$preset" threads="$threads" steps=$STEPS $extra </dev/null >"$log" \
            2>/dev/null
        rss=0
    fi
    local wall synapses ratio held events
    ratio=$(sed -n 's/.*whole step [0-9.]* ms, \([0-9.]*\)x the integration.*/\1/p' "$log" | tail -1)
    held=$(sed -n 's/.*Simulation memory usage: \([0-9]*\) MiB.*/\1/p' "$log" | tail -1)
    events=$(sed -n 's/.*; \([0-9]*\) synapse events delivered.*/\1/p' "$log" | tail -1)
    wall=$(sed -n 's/.*Ran [0-9]* steps ([0-9.]* ms simulated) in \([0-9.]*\) s.*/\1/p' "$log" | tail -1)
    synapses=$(sed -n 's/.*Created simulation with [0-9]* neurons and \([0-9]*\) synapses.*/\1/p' "$log" | tail -1)
    rm -f "$log" "$log.time"
    [ -n "$wall" ] && [ -n "$synapses" ] && echo "$wall $synapses ${rss:-0} ${ratio:-0} ${held:-0} ${events:-0}"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print ""; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# ---- The table ------------------------------------------------------------------------------------
echo "Vellicor end-to-end benchmark: seed=1, $STEPS steps, median of $RUNS runs ($(nproc) processors)"
printf "%-7s %-8s %-6s %12s %10s %16s %12s %12s %10s %10s %9s %9s\n" preset threads engine "ms/step" "RT factor" \
    "syn. upd./s" "step/integr." "peak RSS MiB" "peak B/syn" "held B/syn" "ns/event" "vs exact"
for preset in $PRESETS; do
    threads_of_preset=$THREADS
    [ "$preset" = 12 ] && threads_of_preset=2  # the largest network: two threads only
    for threads in $threads_of_preset; do
      exactWall=""
      for engine in $ENGINES; do
        walls=""; rsss=""; ratios=""; synapses=""; held=0; events=0
        runs=$RUNS
        # Keep the whole benchmark near 10 minutes on a loaded machine: one run per
        # row once 8 minutes have gone.
        [ "$SECONDS" -gt 480 ] && runs=1
        for ((r = 0; r < runs; r++)); do
            result=$(run_once "$preset" "$threads" "engine=$engine")
            [ -z "$result" ] && continue
            set -- $result
            walls+="$1"$'\n'; synapses=$2; rsss+="$3"$'\n'; ratios+="$4"$'\n'; held=$5; events=$6
        done
        wall=$(printf "%s" "$walls" | median)
        if [ -z "$wall" ]; then
            printf "%-7s %-8s %-6s %12s\n" "$preset" "$threads" "$engine" "failed"
            continue
        fi
        rss=$(printf "%s" "$rsss" | median)
        ratio=$(printf "%s" "$ratios" | median)
        [ "$engine" = exact ] && exactWall=$wall
        awk -v p="$preset" -v t="$threads" -v e="$engine" -v w="$wall" -v s="$synapses" -v n="$STEPS" \
            -v r="$rss" -v q="$ratio" -v x="$exactWall" -v h="$held" -v v="$events" 'BEGIN {
            speed = (x != "" && e != "exact") ? sprintf("%.2fx", x / w) : ""
            perEvent = v > 0 ? sprintf("%.1f", w * t * 1e9 / v) : ""
            heldPerSynapse = h > 0 ? sprintf("%.1f", 1048576 * h / s) : "<1 MiB"  # the log counts whole MiB
            printf "%-7s %-8s %-6s %12.4f %10.3f %16.4g %12.2f %12.1f %10.1f %10s %9s %9s\n", p, t, e, 1000 * w / n,
                (0.5 * n / 1000) / w, s * n / w, q, r / 1024, 1024 * r / s, heldPerSynapse, perEvent, speed
        }'
      done
    done
done

# ---- Spike recording ------------------------------------------------------------------------------
# The cost of record= on preset 6 (else the table's last preset) with 2 threads:
# runs with and without it alternate, and the medians are compared.
case " $PRESETS " in *" 6 "*) preset=6 ;; *) preset=$(echo $PRESETS | awk '{ print $NF }') ;; esac
report=$(mktemp -d)
plain=""; recorded=""
for ((r = 0; r < RUNS; r++)); do
    result=$(run_once "$preset" 2) && [ -n "$result" ] && plain+="${result%% *}"$'\n'
    result=$(run_once "$preset" 2 "record=$report/spikes.h5") && [ -n "$result" ] && recorded+="${result%% *}"$'\n'
done
rm -rf "$report"
wall=$(printf "%s" "$plain" | median); wallRecorded=$(printf "%s" "$recorded" | median)
if [ -n "$wall" ] && [ -n "$wallRecorded" ]; then
    awk -v p="$preset" -v a="$wall" -v b="$wallRecorded" -v n="$STEPS" 'BEGIN {
        printf "Spike recording, preset %s, 2 threads: %.4f ms/step without, %.4f with (%+.1f%%)\n",
            p, 1000 * a / n, 1000 * b / n, 100 * (b - a) / a
    }'
else
    echo "Spike recording: failed"
fi
