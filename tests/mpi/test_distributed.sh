#!/bin/bash
# Distributed runs under mpirun against one process:
#   1. 1, 2 and 3 processes (3 oversubscribe a 2-core machine), with 1 and 2 worker
#      threads each, record the very spikes of the single process, for both engines,
#      and 3 processes export its network;
#   2. a checkpoint written by 2 processes (3 with the exact engine) holds what
#      one process writes, and each resumes in the other to the same spikes;
#   3. a process that cannot build its network ends every process, with the
#      error on process 0 and status 1;
#   4. a process killed mid-run ends the run with a failure status, no hang;
#   5. SIGTERM to one process parks every process after the same step, with the
#      checkpoint of the whole run written.
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
"$bin" headless $run threads=2 record="$out/one.h5" export="$out/one-net.h5" > "$out/one.log" 2>&1 ||
    fail "single process: $(tail -3 "$out/one.log")"
files=()
for np in 1 2 3; do
    for threads in 1 2; do
        f="$out/$engine-np$np-t$threads.h5"
        exported=()
        [ $np = 3 ] && [ $threads = 1 ] && exported=(export="$out/three-net.h5")
        timeout 120 mpirun -np $np "$bin" $run threads=$threads record="$f" "${exported[@]}" > "$out/np.log" 2>&1 ||
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
"$python" - "$out/one-net.h5" "$out/three-net.h5" <<'PY' || fail "$engine engine: the network exports differ"
import sys
import h5py
import numpy as np

with h5py.File(sys.argv[1], "r") as one, h5py.File(sys.argv[2], "r") as three:
    def compare(name, x):
        if isinstance(x, h5py.Dataset) and not np.array_equal(x[()], three[name][()]):
            sys.exit(f"exports differ in {name}")
    one.visititems(compare)
PY
done

# 2. Checkpoints: 2 or 3 processes write what one writes (every dataset), and a
# checkpoint of either resumes in the other, to the same spikes.
for engine in event exact; do
    run="preset=9 engine=$engine seed=3 steps=300 threads=1"
    np=2
    [ $engine = exact ] && np=3
    "$bin" headless $run checkpoint="$out/one.vcp" > "$out/c.log" 2>&1 || fail "checkpoint of one: $(tail -3 "$out/c.log")"
    timeout 120 mpirun -np $np "$bin" $run checkpoint="$out/two.vcp" > "$out/c.log" 2>&1 ||
        fail "$engine engine, checkpoint of $np: $(tail -5 "$out/c.log")"
    "$bin" headless engine=$engine threads=2 steps=300 resume="$out/one.vcp" record="$out/from-one.h5" > "$out/c.log" 2>&1
    "$bin" headless engine=$engine threads=2 steps=300 resume="$out/two.vcp" record="$out/two-in-one.h5" > "$out/c.log" 2>&1 ||
        fail "$engine engine, resuming two in one: $(tail -3 "$out/c.log")"
    timeout 120 mpirun -np 2 "$bin" engine=$engine threads=1 steps=300 resume="$out/one.vcp" record="$out/one-in-two.h5" \
        > "$out/c.log" 2>&1 || fail "$engine engine, resuming one in two: $(tail -5 "$out/c.log")"
    "$python" - "$out" <<'PY' || fail "$engine engine: checkpoints or resumed runs differ"
import sys
import h5py
import numpy as np

out = sys.argv[1]
with h5py.File(f"{out}/one.vcp", "r") as one, h5py.File(f"{out}/two.vcp", "r") as two:
    def compare(name, x):
        if isinstance(x, h5py.Dataset) and not np.array_equal(x[()], two[name][()]):
            sys.exit(f"checkpoints differ in {name}")
    one.visititems(compare)

def spikes(path):
    with h5py.File(path, "r") as f:
        (population,) = f["spikes"].values()
        return np.asarray(population["timestamps"]), np.asarray(population["node_ids"])

reference = spikes(f"{out}/from-one.h5")
for name in ("two-in-one", "one-in-two"):
    t, i = spikes(f"{out}/{name}.h5")
    if not (np.array_equal(t, reference[0]) and np.array_equal(i, reference[1])):
        sys.exit(f"{name}: {len(t)} spikes against {len(reference[0])}, or not the same")
PY
done

# 3. A process without the memory for its network (a 400 MB address space is
# enough for MPI and preset 9, not for these 131072 neurons).
big="grid=64x64x32 engine=event seed=3 threads=1 steps=10"
timeout 120 mpirun -np 1 "$bin" $big : -np 1 bash -c "ulimit -v 400000; exec '$bin' $big" > "$out/fail.log" 2>&1
status=$?
[ $status -eq 1 ] || fail "a failed build gave status $status"
grep -q "Another process of the distributed run could not build its network." "$out/fail.log" ||
    fail "process 0 did not say why: $(tail -5 "$out/fail.log")"

# 4. A process killed while the run goes on.
long="preset=9 engine=event seed=3 threads=1 steps=100000000"
timeout 60 mpirun -np 1 "$bin" $long : -np 1 bash -c "(sleep 2; kill -9 \$\$) & exec '$bin' $long" > "$out/kill.log" 2>&1
status=$?
[ $status -ne 0 ] && [ $status -ne 124 ] || fail "a killed process gave status $status (124: the run hung)"

# 5. SIGTERM to one process: every process parks after the same step, and the
# checkpoint of the whole run is written.
timeout 60 mpirun -np 1 "$bin" $long checkpoint="$out/term.vcp" : \
    -np 1 bash -c "(sleep 2; kill -TERM \$\$) & exec '$bin' $long checkpoint='$out/term.vcp'" > "$out/term.log" 2>&1
status=$?
[ $status -ne 0 ] && [ $status -ne 124 ] || fail "SIGTERM to a process gave status $status"
grep -q "another process of the run was interrupted" "$out/term.log" && [ -s "$out/term.vcp" ] ||
    fail "process 0 did not stop with the checkpoint: $(tail -5 "$out/term.log")"

[ $failures -eq 0 ] && echo "distributed runs: all checks passed"
exit $((failures != 0))
