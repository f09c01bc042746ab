#!/bin/bash
# Distributed runs under mpirun against one process:
#   1. 1, 2 and 3 processes (3 oversubscribe a 2-core machine), with 1 and 2 worker
#      threads each, record the very spikes of the single process, for both engines;
#   2. a process that cannot build its network ends every process, with the
#      error on process 0 and status 1;
#   3. a process killed mid-run ends the run with a failure status, no hang.
# Usage: test_distributed.sh BINARY PYTHON
set -u
bin=$1
python=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1  # CI runs as root
export OMPI_MCA_rmaps_base_oversubscribe=1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# 1. The same spikes, with both engines.
for engine in event exact; do
run="preset=9 engine=$engine seed=3 steps=600"
"$bin" headless $run threads=2 record="$out/one.h5" > "$out/one.log" 2>&1 || fail "single process: $(tail -3 "$out/one.log")"
files=()
for np in 1 2 3; do
    for threads in 1 2; do
        f="$out/$engine-np$np-t$threads.h5"
        timeout 120 mpirun -np $np "$bin" $run threads=$threads record="$f" > "$out/np.log" 2>&1 ||
            fail "$engine engine, $np processes of $threads threads: $(tail -5 "$out/np.log")"
        files+=("$f")
    done
done
"$python" - "$out/one.h5" "${files[@]}" <<'PY' || fail "$engine engine: the spike reports differ"
import sys
import h5py
import numpy as np

def spikes(path):
    with h5py.File(path, "r") as f:
        (population,) = f["spikes"].values()
        return np.asarray(population["timestamps"]), np.asarray(population["node_ids"])

times, ids = spikes(sys.argv[1])
assert len(times) > 10000, len(times)
for path in sys.argv[2:]:
    t, i = spikes(path)
    if not (np.array_equal(t, times) and np.array_equal(i, ids)):
        sys.exit(f"{path}: {len(t)} spikes against {len(times)}, or not the same")
PY
done

# 2. A process without the memory for its network (a 400 MB address space is
# enough for MPI and preset 9, not for these 131072 neurons).
big="grid=64x64x32 engine=event seed=3 threads=1 steps=10"
timeout 120 mpirun -np 1 "$bin" $big : -np 1 bash -c "ulimit -v 400000; exec '$bin' $big" > "$out/fail.log" 2>&1
status=$?
[ $status -eq 1 ] || fail "a failed build gave status $status"
grep -q "Another process of the distributed run could not build its network." "$out/fail.log" ||
    fail "process 0 did not say why: $(tail -5 "$out/fail.log")"

# 3. A process killed while the run goes on.
long="preset=9 engine=event seed=3 threads=1 steps=100000000"
timeout 60 mpirun -np 1 "$bin" $long : -np 1 bash -c "(sleep 2; kill -9 \$\$) & exec '$bin' $long" > "$out/kill.log" 2>&1
status=$?
[ $status -ne 0 ] && [ $status -ne 124 ] || fail "a killed process gave status $status (124: the run hung)"

[ $failures -eq 0 ] && echo "distributed runs: all checks passed"
exit $((failures != 0))
