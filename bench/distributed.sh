#!/usr/bin/env bash
# Distributed runs against one process on this machine: for each preset
# (BENCH_PRESETS, default 6 7), 2 processes of 1 thread (mpirun) against 1 process
# of 2 threads, the event engine, seed 1, medians of RUNS alternating pairs; the
# exchange's share of a step and its bytes per step; and the peak resident memory
# of each process of a 2-process build of BENCH_MEMORY_PRESET (12) against one
# process's.
#
# Usage: bench/distributed.sh <builddir> [runs]
set -u
BUILD="${1:-build}"
RUNS="${2:-3}"
PRESETS="${BENCH_PRESETS:-6 7}"
MEMORY_PRESET="${BENCH_MEMORY_PRESET:-12}"
STEPS=2000
if ! command -v mpirun >/dev/null || ! ldd "$BUILD/vellicor" 2>/dev/null | grep -q libmpi; then
    echo "distributed.sh: no MPI build (scripts/install-deps.sh installs Open MPI)" >&2
    exit 0
fi
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
step_ms() { sed -n 's/.*whole step \([0-9.]*\) ms.*/\1/p' | head -1; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
one() { "$BUILD/vellicor" headless preset=$1 engine=event seed=1 threads=2 steps=$STEPS </dev/null 2>/dev/null; }
two() { mpirun -np 2 --bind-to none "$BUILD/vellicor" preset=$1 engine=event seed=1 threads=1 steps=$STEPS </dev/null 2>/dev/null; }
echo "Distributed runs, event engine, $STEPS steps, medians of $RUNS pairs:"
echo "| preset | 1 process x 2 threads ms/step | 2 processes x 1 thread ms/step | speed ratio | exchange ms/step | exchange share | kB per step |"
echo "|---|---|---|---|---|---|---|"
for preset in $PRESETS; do
    a=() b=() x=() share=() kb=()
    for k in $(seq "$RUNS"); do
        if [ $((k % 2)) -eq 1 ]; then o=$(one $preset); t=$(two $preset); else t=$(two $preset); o=$(one $preset); fi
        a+=("$(echo "$o" | step_ms)") b+=("$(echo "$t" | step_ms)")
        line=$(echo "$t" | grep "Exchange between the processes")
        x+=("$(echo "$line" | sed -n 's/.*processes: \([0-9.]*\) ms.*/\1/p')")
        share+=("$(echo "$line" | sed -n 's/.*(\([0-9]*\)% of a step).*/\1/p')")
        kb+=("$(echo "$line" | sed -n 's/.*, \([0-9.]*\) kB per step.*/\1/p')")
    done
    A=$(median "${a[@]}") B=$(median "${b[@]}")
    awk -v p=$preset -v a="$A" -v b="$B" -v x="$(median "${x[@]}")" -v s="$(median "${share[@]}")" -v k="$(median "${kb[@]}")" \
        'BEGIN { printf "| %s | %.3f | %.3f | %.2fx (target >= 0.8x) | %.3f | %s%% | %.1f |\n", p, a, b, a / b, x, s, k }'
done
# Peak resident memory (kB) of each process of a build (steps=1).
m=$MEMORY_PRESET
peak_one=$(/usr/bin/time -f "%M" "$BUILD/vellicor" headless preset=$m engine=event seed=1 threads=1 steps=1 2>&1 >/dev/null | tail -1)
# Each process's figure to a file of its own: mpirun interleaves their outputs.
peaks=$(mktemp -d)
mpirun -np 2 --bind-to none bash -c '/usr/bin/time -f "%M" -o "$0/peak.$OMPI_COMM_WORLD_RANK" "$1" preset=$2 engine=event seed=1 threads=1 steps=1' \
    "$peaks" "$BUILD/vellicor" "$m" >/dev/null 2>&1
peak_two=$(cat "$peaks"/peak.* | sort -n | tail -1)
rm -rf "$peaks"
awk -v m=$m -v o="$peak_one" -v t="$peak_two" 'BEGIN {
    printf "Preset %s, peak resident memory: one process %.0f MiB, the larger of 2 processes %.0f MiB (%.0f%%; target <= 60%%)\n", m, o / 1024, t / 1024, 100 * t / o }'
