"""Vellicor's files opened as a user would: spike reports and networks with h5py,
parameter files through the program itself."""
import os
import re
import shutil
import subprocess

import h5py
import numpy as np
import pytest

BINARY = os.environ["VELLICOR_BINARY"]
SUMMARY = re.compile(r"Ran (\d+) steps \(([\d.]+) ms simulated\).* (\d+) spikes")
CREATED = re.compile(r"Created simulation with (\d+) neurons and (\d+) synapses")


def run(*switches, check=True):
    """Runs the program headless with no console input; returns its log."""
    done = subprocess.run([BINARY, "headless", *switches], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=300)
    if check:
        assert done.returncode == 0, done.stdout + done.stderr
    return done


@pytest.fixture(scope="module")
def recorded_run(tmp_path_factory):
    folder = tmp_path_factory.mktemp("run")
    spikes, network = folder / "spikes.h5", folder / "network.h5"
    log = run("seed=1", "preset=4", "threads=2", "steps=2000",
              f"record={spikes}", f"export={network}").stdout
    return log, spikes, network


def test_the_spike_report_holds_every_spike_of_the_summary_sorted_by_time(recorded_run):
    log, spikes, _ = recorded_run
    steps, simulated, count = SUMMARY.search(log).groups()
    neurons = int(CREATED.search(log).group(1))
    with h5py.File(spikes, "r") as f:
        population = f["/spikes/vellicor"]
        times = population["timestamps"][:]
        ids = population["node_ids"][:]
        sorting = h5py.check_enum_dtype(population.attrs.get_id("sorting").dtype)
        assert sorting["by_time"] == population.attrs["sorting"]
    assert times.dtype == np.float64 and ids.dtype == np.uint64
    assert len(times) == len(ids) == int(count) > 0
    assert np.all(np.diff(times) >= 0)
    assert times.min() >= 0 and times.max() < float(simulated)
    assert ids.max() < neurons
    assert np.all(np.fmod(times, 0.5) == 0)


def is_utf8_text(dtype):
    """A variable-length UTF-8 string type (what h5py and pandas write)."""
    info = h5py.check_string_dtype(dtype)
    return info is not None and info.encoding == "utf-8" and info.length is None


def library(group, column):
    """An enumerated column's values as names, the SONATA way: integers indexing
    the UTF-8 strings of the group's @library."""
    names = group["@library"][column]
    assert is_utf8_text(names.dtype)
    assert group[column].dtype.kind == "u" and h5py.check_enum_dtype(group[column].dtype) is None
    return np.array([n.decode() for n in names[:]])[group[column][:]]


def utf8_text(attributes, name):
    assert is_utf8_text(attributes.get_id(name).dtype)
    return attributes[name]


def edge_ids(indices, name, node):
    ranges = indices[name]["range_to_edge_id"]
    first, end = indices[name]["node_id_to_ranges"][node]
    return [e for start, stop in ranges[first:end] for e in range(start, stop)]


def test_the_files_carry_the_sonata_signature_and_utf8_text(recorded_run):
    _, spikes, network = recorded_run
    for path in (spikes, network):
        with h5py.File(path, "r") as f:
            assert f.attrs["magic"] == 0x0A7A and f.attrs["magic"].dtype == np.uint32
            assert list(f.attrs["version"]) == [0, 1] and f.attrs["version"].dtype == np.uint32
    with h5py.File(spikes, "r") as f:
        assert utf8_text(f["/spikes/vellicor/timestamps"].attrs, "units") == "ms"
    with h5py.File(network, "r") as f:
        assert utf8_text(f["/edges/vellicor__vellicor/source_node_id"].attrs, "node_population") == "vellicor"


def test_the_network_file_has_every_neuron_and_synapse(recorded_run):
    log, _, network = recorded_run
    neurons, synapses = map(int, CREATED.search(log).groups())
    with h5py.File(network, "r") as f:
        nodes = f["/nodes/vellicor"]
        assert len(nodes["node_type_id"]) == neurons
        assert np.array_equal(nodes["node_group_index"][:], np.arange(neurons))
        assert np.all(nodes["node_group_id"][:] == 0)
        group = nodes["0"]
        for axis in "xyz":
            assert np.all((group[axis][:] >= -0.5) & (group[axis][:] <= 8.5))  # the 8 mm cube
        kinds = library(group, "kind")
        assert set(kinds) == {"excitatory", "inhibitory"}
        assert set(library(group, "model_type")) == {"point_neuron"}
        # node_type_id is the class.
        classes = library(group, "class")
        assert set(classes) <= {"RS", "IB", "CH", "FS", "LTS"}
        assert np.array_equal(classes, np.array(["RS", "IB", "CH", "FS", "LTS"])[nodes["node_type_id"][:]])
        edges = f["/edges/vellicor__vellicor"]
        source, target = edges["source_node_id"][:], edges["target_node_id"][:]
        assert len(source) == len(target) == synapses
        assert source.max() < neurons and target.max() < neurons
        weights = edges["0/syn_weight"][:]
        assert np.all((weights >= 0) & (weights <= 1))
        # Delays in ms, float32 on disk: whole steps of 0.5 ms, odd and even ones
        # (in steps they would all be whole numbers).
        delay = edges["0/delay"]
        assert delay.dtype == np.dtype("<f4")
        assert np.all(delay[:] >= 0.5) and np.all(np.fmod(delay[:], 0.5) == 0) and np.any(np.fmod(delay[:], 1) == 0.5)
        # The receptor follows the source neuron's kind.
        receptor = library(edges["0"], "receptor")
        assert np.array_equal(receptor == "AMPA_NMDA", kinds[source] == "excitatory")
        # Both indices list exactly each node's edges.
        for name, ends in (("source_to_target", source), ("target_to_source", target)):
            for node in range(0, neurons, 7):
                assert edge_ids(edges["indices"], name, node) == list(np.flatnonzero(ends == node))


def test_a_saved_parameter_file_sets_up_the_same_network(tmp_path):
    config = tmp_path / "short.toml"
    run("shortaxondemo", "preset=5", f"save-config={config}")
    text = config.read_text()
    assert text.startswith("# Vellicor parameter file") and "excAxonLengthMax = 2.0" in text
    direct = run("shortaxondemo", "seed=2", "preset=5", "steps=0").stdout
    loaded = run(f"config={config}", "seed=2", "steps=0").stdout
    assert CREATED.search(direct).groups() == CREATED.search(loaded).groups()


@pytest.mark.parametrize("content, expected", [
    ("[neurons]\ntauAmpa = = 5\n", ":2:"),
    ("[neurons]\ntauAmpx = 5.0\n", ":2: [neurons] tauAmpx: unknown key"),
])
def test_a_bad_parameter_file_is_refused_with_file_line_and_key(tmp_path, content, expected):
    config = tmp_path / "bad.toml"
    config.write_text(content)
    done = run(f"config={config}", "steps=0", check=False)
    assert done.returncode != 0
    assert str(config) + expected in done.stdout + done.stderr


@pytest.mark.parametrize("where", ["folder", "unwritable"])
def test_a_place_that_cannot_hold_the_report_stops_the_run_before_it_starts(tmp_path, where):
    target = tmp_path if where == "folder" else "/proc/vellicor-spikes.h5"
    done = run("preset=4", "steps=10", f"record={target}", check=False)
    assert done.returncode == 1
    assert f'Unable to write "{target}"' in done.stdout
    assert "Created simulation" not in done.stdout


RECORDED = re.compile(r'Recorded (\d+) spikes to "(.*)"')


def spike_count(path):
    with h5py.File(path, "r") as f:
        return len(f["/spikes/vellicor/node_ids"])


def test_the_report_is_complete_after_sigterm_and_after_esc(tmp_path):
    # SIGTERM during a steps=N run: the summary's spikes are all in the file.
    report = tmp_path / "term.h5"
    process = subprocess.Popen([BINARY, "headless", "seed=1", "preset=5", "steps=4000000",
                                f"record={report}"], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    log = ""
    for line in process.stdout:
        log += line
        if "Simulation started." in line:
            break
    process.terminate()
    log += process.communicate(timeout=120)[0]
    assert process.returncode == 143, log
    assert spike_count(report) == int(SUMMARY.search(log).group(3)) > 0
    # Esc, y in an interactive headless run.
    report = tmp_path / "esc.h5"
    done = subprocess.run([BINARY, "headless", "demo", "seed=1", "preset=4", f"record={report}"],
                          input="\x1by", capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout
    count, path = RECORDED.search(done.stdout).groups()
    assert path == str(report) and spike_count(report) == int(count)


@pytest.fixture(scope="module")
def resumed_run(tmp_path_factory):
    """2000 steps in one run, and 1000 + checkpoint + 1000 resumed on another thread count
    (asking for the event engine and another preset, which a resumed run does not use)."""
    folder = tmp_path_factory.mktemp("checkpoint")
    whole, saved, second = folder / "a.h5", folder / "c.h5", folder / "b2.h5"
    run("seed=1", "preset=4", "threads=2", "steps=2000", f"record={whole}")
    run("seed=1", "preset=4", "threads=1", "steps=1000", f"checkpoint={saved}")
    log = run(f"resume={saved}", "threads=2", "steps=1000", f"record={second}", "engine=event", "preset=5").stdout
    return whole, saved, second, log


def spikes(path):
    with h5py.File(path, "r") as f:
        return f["/spikes/vellicor/timestamps"][:], f["/spikes/vellicor/node_ids"][:]


def test_a_resumed_run_fires_the_spikes_of_the_run_it_continues(resumed_run):
    whole, saved, second, log = resumed_run
    times, ids = spikes(whole)
    later = times >= 500.0  # the second 1000 steps
    resumed_times, resumed_ids = spikes(second)
    assert len(resumed_times) > 0
    assert np.array_equal(resumed_times, times[later]) and np.array_equal(resumed_ids, ids[later])
    assert SUMMARY.search(log).groups()[:2] == ("1000", "500.0")
    assert "holds the exact engine's state" in log and "Engine: event-driven" not in log
    assert "from the checkpoint: ignoring preset=." in log
    with h5py.File(saved, "r") as f:
        assert f.attrs["format"] in ("vellicor-checkpoint", b"vellicor-checkpoint")
        assert f.attrs["formatVersion"] == 1 and f.attrs["step"] == 1000
        assert f["parameters"].attrs["engineMode"] == 0  # exact
        assert "[neurons]" in f["parameters"].attrs["toml"].decode()
        assert len(f["neurons/v"]) == int(CREATED.search(log).group(1))


def test_an_event_engine_run_resumes_from_its_checkpoint(tmp_path):
    whole, saved, second, third = (tmp_path / name for name in ("a.h5", "c.h5", "b.h5", "d.h5"))
    run("engine=event", "seed=1", "preset=4", "threads=2", "steps=600", f"record={whole}")
    run("engine=event", "seed=1", "preset=4", "threads=1", "steps=300", f"checkpoint={saved}")
    log = run(f"resume={saved}", "threads=2", "steps=300", f"record={second}").stdout
    times, ids = spikes(whole)
    later = times >= 150.0
    resumed_times, resumed_ids = spikes(second)
    assert len(resumed_times) > 0
    assert np.array_equal(resumed_times, times[later]) and np.array_equal(resumed_ids, ids[later])
    assert "Engine: event-driven" in log
    damaged = tmp_path / "damaged.h5"
    shutil.copy(saved, damaged)
    with h5py.File(damaged, "r+") as f:
        f["event/inputSums"][3, 0] = np.nan
    done = run(f"resume={damaged}", "steps=10", check=False)
    assert done.returncode == 1 and "/event/inputSums[3]: nan is not a finite sum" in done.stdout, done.stdout
    # A checkpoint of the earlier layout (inputs in 2^-40 nS fixed point) resumes alike.
    with h5py.File(saved, "r+") as f:
        assert f["parameters"].attrs["engineMode"] == 1 and "weight" in f["event"]
        sums = f["event/inputSums"][...].astype(np.float64)
        del f["event/inputSums"]
        f["event/inputs"] = np.rint(sums * 2.0**40).astype(np.int64)
    run(f"resume={saved}", "threads=2", "steps=300", f"record={third}")
    assert np.array_equal(spikes(third)[0], resumed_times)


def test_a_custom_shape_resumes_from_its_checkpoint(tmp_path):
    whole, saved, second = tmp_path / "a.h5", tmp_path / "c.h5", tmp_path / "b.h5"
    log = run("seed=3", "grid=12x10x6", "threads=2", "steps=600", f"record={whole}").stdout
    assert CREATED.search(log).group(1) == "720"
    run("seed=3", "grid=12x10x6", "threads=1", "steps=300", f"checkpoint={saved}")
    run(f"resume={saved}", "threads=2", "steps=300", f"record={second}")
    times, ids = spikes(whole)
    resumed_times, resumed_ids = spikes(second)
    assert len(resumed_times) > 0
    assert np.array_equal(resumed_times, times[times >= 150.0]) and np.array_equal(resumed_ids, ids[times >= 150.0])


@pytest.mark.parametrize("kind, expected", [
    ("truncated", "truncated or damaged HDF5 file"),
    ("spike report", "not a Vellicor checkpoint"),
    ("other version", "checkpoint format version 2; this program reads version 1"),
    ("folder", "is a folder, not a checkpoint"),
])
def test_a_file_that_cannot_be_resumed_ends_the_run_with_its_name(resumed_run, tmp_path, kind, expected):
    whole, saved, _, _ = resumed_run
    bad = tmp_path / "bad.h5"
    if kind == "truncated":
        data = saved.read_bytes()
        bad.write_bytes(data[:len(data) // 2])
    elif kind == "spike report":
        bad = whole
    elif kind == "other version":
        bad.write_bytes(saved.read_bytes())
        with h5py.File(bad, "r+") as f:
            f.attrs["formatVersion"] = np.uint32(2)
    else:
        bad = tmp_path
    done = run(f"resume={bad}", "steps=10", check=False)
    assert done.returncode == 1
    assert f"Unable to resume the simulation: {bad}: {expected}" in done.stdout
    assert "Created simulation" not in done.stdout


def test_an_interactive_resume_the_network_cannot_take_ends_with_status_1(resumed_run, tmp_path):
    _, saved, _, _ = resumed_run
    other = tmp_path / "other.h5"
    other.write_bytes(saved.read_bytes())
    with h5py.File(other, "r+") as f:
        f["network"].attrs["structureDigest"] = np.uint64(1)
    # Standard input at its end: the program must not wait for a key.
    done = subprocess.run([BINARY, "headless", f"resume={other}"], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 1, done.stdout
    assert (f"Unable to resume the simulation: {other}: the network rebuilt from the checkpoint's "
            "parameters is not the saved one") in done.stdout
