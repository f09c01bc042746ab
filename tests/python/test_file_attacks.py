"""Vellicor's files attacked as a hostile user or a failing disk would: damaged
checkpoints, parameter files that are no files, links and FIFOs where outputs go,
two outputs on one file, a full disk and too little memory. Every attack ends with
status 1 and one line naming the file, nothing replaced, no crash."""
import os
import re
import resource
import shutil
import signal
import subprocess
import threading

import h5py
import numpy as np
import pytest

BINARY = os.environ["VELLICOR_BINARY"]


def run(*switches, limits=(), timeout=120):
    """Runs the program headless with no console input under the given rlimits."""
    def prepare():
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL)  # the program's own choice is tested
        for which, value in limits:
            resource.setrlimit(which, (value, value))
    return subprocess.run([BINARY, "headless", *switches], stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=timeout, preexec_fn=prepare)


def refused(done, text):
    assert done.returncode == 1, done.stdout + done.stderr
    assert text in done.stdout, done.stdout
    assert "HDF5-DIAG" not in done.stdout + done.stderr


# ---- Checkpoints -------------------------------------------------------------------------------

@pytest.fixture(scope="module")
def checkpoint(tmp_path_factory):
    saved = tmp_path_factory.mktemp("saved") / "c.h5"
    assert run("seed=1", "preset=4", "steps=300", f"checkpoint={saved}").returncode == 0
    return saved


def set_attribute(group, name, value):
    return lambda f: f[group].attrs.__setitem__(name, value)


def set_value(dataset, index, value):
    return lambda f: f[dataset].__setitem__(index, value)


@pytest.mark.parametrize("damage, expected", [
    (set_value("synapses/lanes/arrived", (3, 1), 2), "/synapses/lanes/arrived[3]: 2 is not 0 or 1"),
    (set_attribute("random", "seed", np.uint32(0)), "/random/seed: 0"),
    (set_attribute("parameters", "tauAmpa", np.float32("nan")), "/parameters/tauAmpa: nan is outside 1.0..1000.0"),
    (set_attribute("parameters", "excD", np.float32(-2)), "/parameters/excD: -2.0 is outside 1.0..10000.0"),
    (set_value("synapses/lanes/weight", (5, 0), np.float32(1e30)), "/synapses/lanes/weight[5]: 1e+30 is outside 0..1"),
    (set_value("neurons/v", 7, np.nan), "/neurons/v[7]: nan is not a finite number"),
    (set_value("neurons/isHeld", 2, 7), "/neurons/isHeld[2]: 7 is not 0 or 1"),
    (lambda f: [set_attribute("parameters", k, np.uint32(4000))(f) for k in ("gridX", "gridY")],
     "/parameters/neurons = 128000000 (4000x4000x8): at most 8388608"),
])
def test_a_damaged_checkpoint_is_refused_naming_file_and_dataset(checkpoint, tmp_path, damage, expected):
    damaged = tmp_path / "d.h5"
    shutil.copy(checkpoint, damaged)
    with h5py.File(damaged, "r+") as f:
        damage(f)
    done = run(f"resume={damaged}", "steps=10")
    refused(done, f"Unable to resume the simulation: {damaged}: damaged checkpoint ({expected}")


# ---- Parameter files ---------------------------------------------------------------------------

@pytest.mark.parametrize("kind, expected", [
    ("deep key", ":1: a key nested deeper than 32 levels"),
    ("endless device", ": larger than 1 MiB"),
    ("read error", ": Input/output error"),
    ("fifo without writer", ": no process writes to it"),
    ("folder", ": is a folder, not a parameter file"),
])
def test_a_parameter_file_that_is_no_file_is_refused_at_once(tmp_path, kind, expected):
    if kind == "deep key":
        path = tmp_path / "deep.toml"
        path.write_text("a" + ".a" * 40000 + " = 1\n")
    elif kind == "endless device":
        path = "/dev/zero"
    elif kind == "read error":
        path = "/proc/self/mem"
    elif kind == "folder":
        path = tmp_path
    else:
        path = tmp_path / "fifo"
        os.mkfifo(path)
    refused(run(f"config={path}", "steps=0", timeout=30), f"{path}{expected}")


def test_a_file_switch_without_a_name_ends_at_once(tmp_path):
    refused(run("save-config=", timeout=30), "Unable to use switch \"save-config=\": a file name must follow '='")


# ---- Where outputs go --------------------------------------------------------------------------

def test_outputs_write_through_links_and_fifos_and_take_long_names(tmp_path, checkpoint):
    # A symlink stays a link; the file it names is written.
    target, link = tmp_path / "real.toml", tmp_path / "link.toml"
    link.symlink_to(target.name)
    assert run(f"save-config={link}").returncode == 0
    assert link.is_symlink() and target.read_text().startswith("# Vellicor parameter file")
    checkpoint_link = tmp_path / "c-link.h5"
    shutil.copy(checkpoint, tmp_path / "saved.h5")
    checkpoint_link.symlink_to(tmp_path / "saved.h5")
    assert run("seed=2", "preset=4", "steps=5", f"checkpoint={checkpoint_link}").returncode == 0
    assert checkpoint_link.is_symlink()
    with h5py.File(tmp_path / "saved.h5") as f:
        assert f.attrs["step"] == 5
    # A FIFO: a reader gets the text; without a reader it is refused; it stays a FIFO.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    refused(run(f"save-config={fifo}"), "no process reads from it")
    refused(run("preset=4", "steps=5", f"checkpoint={fifo}"), "is not a regular file")
    received = []
    reader = threading.Thread(target=lambda: received.append(open(fifo).read()))
    reader.start()
    assert run(f"save-config={fifo}").returncode == 0
    reader.join(timeout=30)
    assert received and received[0].startswith("# Vellicor parameter file")
    assert fifo.is_fifo() and not list(tmp_path.glob(".vellicor-*"))
    # Names of the longest length a folder takes.
    for switches in ([f"save-config={tmp_path / ('s' * 255)}"],
                     ["preset=4", "steps=0", f"checkpoint={tmp_path / ('c' * 255)}"]):
        done = run(*switches)
        assert done.returncode == 0, done.stdout


def test_two_outputs_on_one_file_are_refused_before_anything_is_written(tmp_path, checkpoint):
    saved = tmp_path / "c.h5"
    shutil.copy(checkpoint, saved)
    before = saved.read_bytes()
    for output in ("record", "export"):
        refused(run(f"resume={saved}", "steps=10", f"{output}={saved}"), f"{output}= and resume= name one file")
        assert saved.read_bytes() == before
    report = tmp_path / "spikes.h5"
    refused(run("preset=4", "steps=10", f"record={report}", f"checkpoint={tmp_path}/./spikes.h5"),
            "record= and checkpoint= name one file")
    refused(run("preset=4", "steps=10", f"record={report}", f"export={report}"), "record= and export= name one file")
    assert not report.exists()


def test_files_the_program_names_never_overwrite_and_named_ones_say_so(tmp_path):
    # Reports switched on with O go to the capture folder under free names.
    earlier = tmp_path / "vellicor-spikes.h5"
    earlier.write_text("an earlier run")
    done = subprocess.run([BINARY, "headless", "demo", "preset=4", f"capture={tmp_path}"], input="o\x1by",
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stdout
    assert earlier.read_text() == "an earlier run"
    assert f'Recording spikes to "{tmp_path}/vellicor-spikes-2.h5"' in done.stdout
    # A file named on the command line is overwritten, and the log says so first.
    report = tmp_path / "named.h5"
    report.write_text("old")
    done = run("preset=4", "steps=10", f"record={report}")
    assert done.returncode == 0
    assert f'"{report}" exists: it will be overwritten.' in done.stdout
    assert h5py.is_hdf5(report)


# ---- A full disk and too little memory ---------------------------------------------------------

def on_full_disk(tmp_path, size, *switches):
    """Runs the program with DISK a tmpfs of `size` (in a mount namespace of its own);
    what the tmpfs holds afterwards is copied to tmp_path/kept."""
    disk, kept = tmp_path / "disk", tmp_path / "kept"
    disk.mkdir()
    kept.mkdir()
    program = " ".join([BINARY, "headless", *switches]).replace("DISK", str(disk))
    script = (f"mount -t tmpfs -o size={size} tmpfs {disk} || exit 99; {program}; status=$?; "
              f"cp -a {disk}/. {kept}/; exit $status")
    done = subprocess.run(["unshare", "--user", "--map-root-user", "--mount", "sh", "-c", script],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    if done.returncode == 99 or "unshare:" in done.stderr:
        pytest.skip("no mount namespace for a small file system: " + done.stderr.strip())
    return done, kept


@pytest.mark.parametrize("output", ["export", "checkpoint"])
def test_a_full_disk_ends_with_status_1_and_one_clear_line(tmp_path, output):
    done, kept = on_full_disk(tmp_path, "256k", "seed=1", "preset=6", "steps=2", f"{output}=DISK/out.h5")
    refused(done, f"/out.h5: cannot write the ")
    if output == "checkpoint":
        assert not list(kept.iterdir())  # neither a half checkpoint nor its temporary file


def test_a_full_disk_while_recording_stops_it_at_once_and_keeps_what_was_written(tmp_path):
    done, kept = on_full_disk(tmp_path, "3m", "seed=1", "preset=6", "steps=300", "record=DISK/spikes.h5")
    refused(done, "/spikes.h5: cannot write spikes")
    log = done.stdout
    assert log.index("Spike recording stopped") < log.index("Stopping current simulation")
    count = int(re.search(r"keeps only the (\d+) spikes", log).group(1))
    with h5py.File(kept / "spikes.h5") as f:
        times, ids = f["/spikes/vellicor/timestamps"][:], f["/spikes/vellicor/node_ids"][:]
    assert len(times) == len(ids) == count > 0
    assert np.all(np.diff(times) >= 0) and times[-1] > 0


def test_a_file_size_limit_is_reported_as_a_full_disk(tmp_path):
    path = tmp_path / "c.h5"
    done = run("seed=1", "preset=6", "steps=2", f"checkpoint={path}", limits=[(resource.RLIMIT_FSIZE, 64 << 10)])
    refused(done, f"{path}: cannot write the checkpoint")


def test_too_little_memory_for_the_outputs_ends_with_a_message_and_status_1(tmp_path):
    switches = ("seed=1", "preset=4", "steps=5", f"record={tmp_path / 'r.h5'}", f"export={tmp_path / 'n.h5'}")

    def with_megabytes(megabytes):
        return run(*switches, limits=[(resource.RLIMIT_AS, megabytes << 20)])
    # The least address space that runs (found by halving), then less and less of it:
    # each way the outputs, the workers or the build run short ends the same way.
    low, high = 16, 4096
    while high - low > 4:
        middle = (low + high) // 2
        low, high = (low, middle) if with_megabytes(middle).returncode == 0 else (middle, high)
    for megabytes in range(low, max(low - 40, 16), -4):
        refused(with_megabytes(megabytes), "memory")
