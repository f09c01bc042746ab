#!/usr/bin/env bash
# The Python module's run against the program's for the same run: preset 6, seed 1,
# the event engine on 2 threads, 6000 steps (3 s simulated), RUNS pairs.
# The program's time is its summary's (first step to last), the module's the
# run() call's; the overhead is their ratio minus one.
#
# Usage: bench/python-overhead.sh <builddir> [runs]
set -u
BUILD="${1:-build}"
RUNS="${2:-3}"
PRESET="${BENCH_PYTHON_PRESET:-6}"
STEPS=6000
if [ ! -e "$BUILD"/python/vellicor*.so ]; then
    echo "python-overhead.sh: no module in $BUILD/python (pybind11-dev missing?)" >&2
    exit 0
fi
# One pair: "program_s module_s" for the same run, the order alternating between
# pairs so that a machine slowing down or speeding up favours neither.
program_run() {
    "$BUILD/vellicor" headless preset=$PRESET seed=1 threads=2 engine=event steps=$STEPS </dev/null 2>/dev/null |
        sed -n 's/.* in \([0-9.]*\) s: real-time factor.*/\1/p'
}
module_run() {
    PYTHONPATH="$BUILD/python" /usr/bin/python3 -c "
import vellicor
sim = vellicor.Simulation(preset=$PRESET, engine='event', threads=2, seed=1)
sim.run($STEPS)
print(sim.wall_seconds)"
}
ratios=() program=() module=()
for k in $(seq "$RUNS"); do
    if [ $((k % 2)) -eq 1 ]; then p=$(program_run); m=$(module_run); else m=$(module_run); p=$(program_run); fi
    [ -n "$p" ] && [ -n "$m" ] || continue
    program+=("$p") module+=("$m") ratios+=("$(awk -v p="$p" -v m="$m" 'BEGIN { print m / p }')")
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
P=$(median "${program[@]}") M=$(median "${module[@]}") R=$(median "${ratios[@]}")
awk -v p="$P" -v m="$M" -v r="$R" -v s=$STEPS -v preset="$PRESET" 'BEGIN {
    printf "Python module vs program, preset %s, event engine, 2 threads, %d steps:\n", preset, s
    printf "  program %.3f ms/step, module %.3f ms/step (medians); overhead %+.1f%% (median of pairs; target <= 2%%)\n",
        1000 * p / s, 1000 * m / s, 100 * (r - 1) }'
