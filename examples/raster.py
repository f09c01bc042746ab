#!/usr/bin/python3
"""Runs a network and saves what one looks at after a run: the spike raster,
the population rate and its power spectrum.

    PYTHONPATH=build/python /usr/bin/python3 examples/raster.py [--preset 6]
        [--engine event] [--seconds 2] [--threads 2] [--seed 1] [--out raster.png]
"""
import argparse

import matplotlib

matplotlib.use("Agg")  # a file, no window
import matplotlib.pyplot as plt
import numpy as np

import vellicor


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--preset", type=int, default=6)
    parser.add_argument("--engine", choices=["exact", "event"], default="event")
    parser.add_argument("--seconds", type=float, default=2.0, help="simulated time")
    parser.add_argument("--threads", type=int, default=0, help="0: the machine's default")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", default="raster.png")
    args = parser.parse_args()

    config = vellicor.Config.preset(args.preset)
    config.engine = args.engine
    config.seed = args.seed
    if args.threads:
        config.threads = args.threads
    sim = vellicor.Simulation(config)
    sim.stimulus = True
    steps = int(args.seconds * 2000)  # 0.5 ms steps
    print(f"{config.caption}: {sim.synapse_count} synapses, {steps} steps")
    sim.run(steps, progress=True)
    times, ids = sim.spikes()

    n = sim.neuron_count
    excitatory = sim.neurons()["excitatory"].astype(bool)
    bin_ms = 1.0
    edges = np.arange(0.0, steps * 0.5 + bin_ms, bin_ms)
    counts, _ = np.histogram(times, bins=edges)
    rate = counts / n / (bin_ms / 1000.0)  # Hz per neuron
    # Power spectrum of the rate after the first 200 ms (the start is a transient).
    settled = rate[int(200 / bin_ms):] if len(rate) > 400 else rate
    spectrum = np.abs(np.fft.rfft(settled - settled.mean())) ** 2
    frequencies = np.fft.rfftfreq(len(settled), d=bin_ms / 1000.0)
    keep = (frequencies > 0) & (frequencies <= 100)
    peak = frequencies[keep][np.argmax(spectrum[keep])] if keep.any() else 0.0

    figure, (raster, population, power) = plt.subplots(
        3, 1, figsize=(10, 9), gridspec_kw={"height_ratios": [3, 1, 1.2]})
    shown = ids < min(n, 2000)  # a readable raster: the first 2000 neurons
    colors = np.where(excitatory[ids[shown]], "tab:blue", "tab:red")
    raster.scatter(times[shown], ids[shown], s=0.4, c=colors, linewidths=0)
    raster.set(ylabel="neuron", xlim=(0, steps * 0.5),
               title=f"{config.caption}, {args.engine} engine, {len(times)} spikes "
                     f"(blue excitatory, red inhibitory)")
    population.plot(edges[:-1], rate, lw=0.6, color="black")
    population.set(xlabel="time (ms)", ylabel="rate (Hz)", xlim=(0, steps * 0.5))
    power.semilogy(frequencies[keep], spectrum[keep], color="tab:green")
    power.set(xlabel="frequency (Hz)", ylabel="power", title=f"population rate spectrum, peak {peak:.1f} Hz")
    figure.tight_layout()
    figure.savefig(args.out, dpi=120)
    print(f"mean rate {len(times) / n / (steps * 0.0005):.1f} Hz, peak {peak:.1f} Hz; saved {args.out}")


if __name__ == "__main__":
    main()
