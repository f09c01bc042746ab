"""The Python module against the program: the same run gives the same spikes,
checkpoints cross between them, and errors and interrupts leave a usable
simulation."""
import os
import signal
import subprocess
import threading

import h5py
import numpy as np
import pytest

import vellicor

BINARY = os.environ["VELLICOR_BINARY"]
STEPS = 400


def run_binary(*switches):
    done = subprocess.run([BINARY, "headless", *switches], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def report(path):
    with h5py.File(path, "r") as f:
        population = f["/spikes/vellicor"]
        return population["timestamps"][:], population["node_ids"][:]


def simulation(engine="exact", seed=3):
    return vellicor.Simulation(preset=9, engine=engine, threads=2, seed=seed)


@pytest.mark.parametrize("engine", ["exact", "event"])
def test_spikes_equal_the_binarys_report_of_the_same_run(tmp_path, engine):
    run_binary("preset=9", "seed=3", "threads=2", f"engine={engine}", f"steps={STEPS}",
               f"record={tmp_path / 'spikes.h5'}")
    sim = simulation(engine)
    assert sim.run(STEPS) == STEPS
    times, ids = sim.spikes()
    expected_times, expected_ids = report(tmp_path / "spikes.h5")
    assert len(ids) > 0
    np.testing.assert_array_equal(times, expected_times)
    np.testing.assert_array_equal(ids, expected_ids)
    # since_last hands out each spike once
    first = sim.spikes(since_last=True)[1]
    sim.run(10)
    later_times, _ = sim.spikes(since_last=True)
    assert len(first) == len(ids) and np.all(later_times >= STEPS * 0.5)


def test_two_simulations_in_two_threads_equal_each_alone():
    alone = [simulation(seed=s) for s in (1, 2)]
    for sim in alone:
        sim.run(STEPS)
    together = [simulation(seed=s) for s in (1, 2)]
    threads = [threading.Thread(target=sim.run, args=(STEPS,)) for sim in together]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(alone, together):
        np.testing.assert_array_equal(a.spikes()[1], b.spikes()[1])
    assert len(alone[0].spikes()[1]) != len(alone[1].spikes()[1])


def test_ctrl_c_stops_between_steps_and_the_run_goes_on_bit_for_bit():
    whole = simulation()
    whole.run(4 * STEPS)
    sim = simulation()
    timer = threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        sim.run(10_000_000)
    timer.join()
    stopped = sim.step
    assert 0 < stopped < 10_000_000
    if stopped < 4 * STEPS:
        assert sim.run(4 * STEPS - stopped) == 4 * STEPS - stopped
        np.testing.assert_array_equal(sim.spikes()[1], whole.spikes()[1])


def test_bad_shapes_and_parameters_raise_with_the_engines_message(tmp_path):
    with pytest.raises(vellicor.Error, match="grid"):
        vellicor.Config.box(0, 4, 4)
    with pytest.raises(vellicor.Error, match="excWeightMax"):
        vellicor.Config()["excWeightMax"] = 7
    with pytest.raises(vellicor.Error, match="unknown parameter"):
        vellicor.Config()["noSuchThing"] = 1
    with pytest.raises(vellicor.Error, match="preset"):
        vellicor.Simulation(preset=13)
    bad = tmp_path / "bad.toml"
    bad.write_text("[neurons]\nexcWeightMax = \"high\"\n")
    with pytest.raises(vellicor.Error, match="bad.toml:2"):
        vellicor.Config.load(str(bad))
    with pytest.raises(vellicor.Error, match="missing.h5"):
        vellicor.Simulation.resume(str(tmp_path / "missing.h5"))


def test_checkpoints_cross_between_module_and_binary_bit_for_bit(tmp_path):
    whole = simulation("event")
    whole.run(2 * STEPS)
    later = whole.spikes()
    later_ids = later[1][later[0] >= STEPS * 0.5]

    # From the module to the binary
    sim = simulation("event")
    sim.run(STEPS)
    sim.save_checkpoint(str(tmp_path / "module.h5"))
    run_binary(f"resume={tmp_path / 'module.h5'}", "threads=1", f"steps={STEPS}",
               f"record={tmp_path / 'continued.h5'}")
    np.testing.assert_array_equal(report(tmp_path / "continued.h5")[1], later_ids)

    # From the binary to the module
    run_binary("preset=9", "seed=3", "threads=2", "engine=event", f"steps={STEPS}",
               f"checkpoint={tmp_path / 'binary.h5'}")
    resumed = vellicor.Simulation.resume(str(tmp_path / "binary.h5"), threads=1)
    assert resumed.step == STEPS and resumed.engine == "event"
    resumed.run(STEPS)
    np.testing.assert_array_equal(resumed.spikes()[1], later_ids)


def test_exported_edges_equal_the_modules_edge_arrays(tmp_path):
    sim = simulation("event")
    sim.run(STEPS)  # weights moved by plasticity
    sim.export_network(str(tmp_path / "network.h5"))
    edges = sim.edges()
    with h5py.File(tmp_path / "network.h5", "r") as f:
        population = f["/edges/vellicor__vellicor"]
        np.testing.assert_array_equal(population["source_node_id"][:], edges["source"])
        np.testing.assert_array_equal(population["target_node_id"][:], edges["target"])
        np.testing.assert_array_equal(population["0/syn_weight"][:], edges["weight"])
        np.testing.assert_array_equal(population["0/delay"][:], edges["delay"])
        np.testing.assert_array_equal(population["0/receptor"][:], edges["receptor"])
    np.testing.assert_array_equal(sim.weights(), edges["weight"])
    assert len(edges["source"]) == sim.synapse_count
    neurons = sim.neurons()
    assert len(neurons["v"]) == sim.neuron_count and np.isfinite(neurons["v"]).all()


def test_the_example_saves_a_raster_with_rate_and_spectrum(tmp_path):
    example = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "raster.py")
    out = tmp_path / "raster.png"
    done = subprocess.run(["/usr/bin/python3", example, "--preset", "4", "--seconds", "0.3",
                           "--threads", "1", "--out", str(out)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    assert out.stat().st_size > 10_000 and "peak" in done.stdout
