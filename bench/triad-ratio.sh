#!/usr/bin/env bash
# The integration phase against memory bandwidth, in one run: preset 6's
# integration (one thread, counting the lane blocks it must read and write each
# step: two state records and one weight record per group of four synapses) and a
# STREAM-style triad on arrays far larger than the caches.
#
# Usage: bench/triad-ratio.sh <builddir>
set -u
BIN="${1:-build}/bench/bench_dynamics"
[ -x "$BIN" ] || { echo "triad-ratio.sh: $BIN not found (make bench builds it)" >&2; exit 1; }
"$BIN" --benchmark_filter='IntegrationPhase/6|StreamTriad' --benchmark_format=csv 2>/dev/null |
    awk -F, '/^"BM_/ { gsub(/"/, "", $1); if ($1 ~ /Integration/) i = $6; if ($1 ~ /Triad/) t = $6 }
        END {
            if (i == "" || t == "" || t == 0) { print "triad-ratio.sh: no figures" > "/dev/stderr"; exit 1 }
            printf "Integration phase, preset 6, one thread: %.1f GB/s, %.0f%% of this run'"'"'s triad (%.1f GB/s)\n",
                   i / 1e9, 100 * i / t, t / 1e9
        }'
