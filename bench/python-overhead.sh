#!/usr/bin/env bash
# The Python module's run against the program's for the same run: preset 6, seed 1,
# the event engine on 2 threads, 2000 steps, alternating, medians of RUNS each.
# The program's time is its summary's (first step to last), the module's the
# run() call's; the overhead is their ratio minus one.
#
# Usage: bench/python-overhead.sh <builddir> [runs]
set -u
BUILD="${1:-build}"
RUNS="${2:-3}"
PRESET="${BENCH_PYTHON_PRESET:-6}"
STEPS=2000
if [ ! -e "$BUILD"/python/vellicor*.so ]; then
    echo "python-overhead.sh: no module in $BUILD/python (pybind11-dev missing?)" >&2
    exit 0
fi
program=() module=()
for _ in $(seq "$RUNS"); do
    p=$("$BUILD/vellicor" headless preset=$PRESET seed=1 threads=2 engine=event steps=$STEPS </dev/null |
        sed -n 's/.* in \([0-9.]*\) s: real-time factor.*/\1/p')
    m=$(PYTHONPATH="$BUILD/python" /usr/bin/python3 -c "
import vellicor
sim = vellicor.Simulation(preset=$PRESET, engine='event', threads=2, seed=1)
sim.run($STEPS)
print(sim.wall_seconds)")
    [ -n "$p" ] && program+=("$p")
    [ -n "$m" ] && module+=("$m")
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
P=$(median "${program[@]}") M=$(median "${module[@]}")
awk -v p="$P" -v m="$M" -v s=$STEPS -v preset="$PRESET" 'BEGIN {
    printf "Python module vs program, preset %s, event engine, 2 threads, %d steps:\n", preset, s
    printf "  program %.3f ms/step, module %.3f ms/step: overhead %+.1f%% (target <= 2%%)\n",
        1000 * p / s, 1000 * m / s, 100 * (m / p - 1) }'
