// The Python module `vellicor` over the public interface: numpy arrays in and
// out, the interpreter lock released while the workers run, Ctrl+C between steps.
//
// Sections:
//   1. Arrays and messages
//   2. Config
//   3. Simulation
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vellicor/vellicor.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace {

// ---- 1. Arrays and messages -----------------------------------------------------------------
// A numpy array that owns the vector's storage (no copy).
template <class T>
py::array_t<T> ToArray(std::vector<T>&& values) {
    auto* owned = new std::vector<T>(std::move(values));
    py::capsule release(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    return py::array_t<T>({owned->size()}, {sizeof(T)}, owned->data(), release);
}

// None: no messages; True: the console; a callable: f(level, text), level 0 info,
// 1 warning, 2 error (called with the interpreter lock taken, from any thread).
vellicor::LogCallback LogFrom(const py::object& log) {
    if (log.is_none() || (py::isinstance<py::bool_>(log) && !log.cast<bool>())) return vellicor::SilentLog();
    if (py::isinstance<py::bool_>(log)) return {};
    auto callable = std::make_shared<py::object>(log);
    return [callable](vellicor::LogLevel level, const std::string& text) {
        py::gil_scoped_acquire gil;
        try {
            (*callable)(static_cast<int>(level), text);
        } catch (py::error_already_set& e) {
            e.discard_as_unraisable("vellicor log callback");
        }
    };
}

vellicor::Engine EngineFrom(const std::string& name) {
    if (name == "exact") return vellicor::Engine::Exact;
    if (name == "event") return vellicor::Engine::Event;
    throw vellicor::Error("engine = \"" + name + "\": must be \"exact\" or \"event\"");
}
const char* EngineName(vellicor::Engine engine) { return engine == vellicor::Engine::Event ? "event" : "exact"; }

// ---- 3. Simulation --------------------------------------------------------------------------
// The handle and what the module adds: the cursor of spikes(since_last=True) and a
// guard against calls from another Python thread while `run` has the lock released.
struct PySimulation {
    std::unique_ptr<vellicor::Simulation> sim;
    uint32_t cursor = 0;
    bool running = false;

    vellicor::Simulation& Get() {
        if (running) throw std::runtime_error("the simulation is running (in another thread)");
        return *sim;
    }
};

py::dict NeuronsDict(const vellicor::NeuronState& s) {
    vellicor::NeuronState n = s;
    py::dict out;
    out["v"] = ToArray(std::move(n.v));
    out["u"] = ToArray(std::move(n.u));
    out["g_ampa"] = ToArray(std::move(n.gAmpa));
    out["g_nmda"] = ToArray(std::move(n.gNmda));
    out["g_gabaa"] = ToArray(std::move(n.gGabaA));
    out["g_gabab"] = ToArray(std::move(n.gGabaB));
    out["x"] = ToArray(std::move(n.x));
    out["y"] = ToArray(std::move(n.y));
    out["z"] = ToArray(std::move(n.z));
    out["excitatory"] = ToArray(std::move(n.excitatory));
    out["neuron_class"] = ToArray(std::move(n.neuronClass));
    return out;
}

// A progress line on standard error: steps done of all, simulated time, real-time factor.
void ShowProgress(uint32_t done, uint32_t steps, double seconds, bool last) {
    const int width = 30;
    const int filled = steps == 0 ? width : static_cast<int>(static_cast<double>(done) * width / steps);
    const double factor = seconds > 0 ? done * 0.0005 / seconds : 0.0;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(width, ' ');
    py::module_::import("sys").attr("stderr").attr("write")(
        "\r[" + bar + "] " + std::to_string(done) + "/" + std::to_string(steps) + " steps, " +
        std::to_string(static_cast<int>(done * 0.5)) + " ms simulated, real-time factor " +
        std::to_string(factor).substr(0, 5) + (last ? "\n" : ""));
}

uint32_t Run(PySimulation& self, uint32_t steps, bool progress) {
    vellicor::Simulation& sim = self.Get();
    bool interrupted = false;
    const auto begin = std::chrono::steady_clock::now();
    auto lastShown = begin;
    const auto poll = [&](uint32_t done) {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) {
            interrupted = true;  // KeyboardInterrupt is set: raised once the workers park
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (progress && now - lastShown > std::chrono::milliseconds(200)) {
            lastShown = now;
            ShowProgress(done, steps, std::chrono::duration<double>(now - begin).count(), false);
        }
        return true;
    };
    uint32_t done = 0;
    self.running = true;
    try {
        py::gil_scoped_release release;
        done = sim.Run(steps, poll);
    } catch (...) {
        self.running = false;
        throw;
    }
    self.running = false;
    if (progress)
        ShowProgress(done, steps, std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), true);
    if (interrupted) throw py::error_already_set();
    return done;
}

py::tuple SpikesTuple(PySimulation& self, bool sinceLast) {
    vellicor::Simulation& sim = self.Get();
    vellicor::Spikes s = sim.SpikesSince(sinceLast ? self.cursor : 0);
    if (sinceLast) self.cursor = sim.Step();
    return py::make_tuple(ToArray(std::move(s.timesMs)), ToArray(std::move(s.ids)));
}

}  // namespace

PYBIND11_MODULE(vellicor, m) {
    m.doc() = "Vellicor: a cortical spiking network (Izhikevich neurons, conductance synapses, STDP).";
    // Every engine error, with its message; a RuntimeError for code that catches those.
    py::register_exception<vellicor::Error>(m, "Error", PyExc_RuntimeError);

    // ---- 2. Config ----------------------------------------------------------------------------
    py::class_<vellicor::Config>(m, "Config", "A network's shape and parameters (a value; copy with copy()).")
        .def(py::init<>(), "The default network: preset 6, the exact engine, seed 1.")
        .def_static("preset", &vellicor::Config::Preset, "index"_a, "One of the presets (0..12).")
        .def_static("box", &vellicor::Config::Box, "x"_a, "y"_a, "z"_a, "A box of x*y*z neurons on a 1 mm grid.")
        .def_static("sphere", &vellicor::Config::Sphere, "diameter"_a, "A sphere in a d*d*d grid.")
        .def_static("load", &vellicor::Config::Load, "path"_a, "A parameter file (TOML).")
        .def_static("presets",
                    [] {
                        std::vector<std::string> out;
                        for (int i = 0; i < vellicor::Config::PresetCount(); ++i)
                            out.push_back(vellicor::Config::PresetCaption(i));
                        return out;
                    },
                    "The presets' captions, by index.")
        .def_static("parameter_names", &vellicor::Config::ParameterNames)
        .def("save", &vellicor::Config::Save, "path"_a)
        .def("copy", [](const vellicor::Config& c) { return vellicor::Config(c); })
        .def_property("engine", [](const vellicor::Config& c) { return EngineName(c.GetEngine()); },
                      [](vellicor::Config& c, const std::string& name) { c.SetEngine(EngineFrom(name)); })
        .def_property("threads", &vellicor::Config::Threads,
                      [](vellicor::Config& c, uint32_t t) { c.SetThreads(t); })
        .def_property("seed", &vellicor::Config::Seed, [](vellicor::Config& c, uint32_t s) { c.SetSeed(s); })
        .def_property_readonly("neuron_count", &vellicor::Config::NeuronCount)
        .def_property_readonly("caption", &vellicor::Config::Caption)
        .def("__getitem__", &vellicor::Config::Get)
        .def("__setitem__", [](vellicor::Config& c, const std::string& name, double v) { c.Set(name, v); })
        .def("__repr__", [](const vellicor::Config& c) {
            return "<vellicor.Config " + c.Caption() + ", " + EngineName(c.GetEngine()) + " engine, seed " +
                   std::to_string(c.Seed()) + ">";
        });

    // ---- 3. Simulation ------------------------------------------------------------------------
    py::class_<PySimulation>(m, "Simulation", "A built network and its run.")
        .def(py::init([](const py::object& config, const py::object& preset, const py::object& engine,
                         const py::object& threads, const py::object& seed, const py::object& log,
                         bool keepSpikes) {
                 vellicor::Config c = config.is_none() ? vellicor::Config() : config.cast<vellicor::Config>();
                 if (!preset.is_none()) {
                     vellicor::Config p = vellicor::Config::Preset(preset.cast<int>());
                     p.SetEngine(c.GetEngine()).SetSeed(c.Seed());
                     c = p;
                 }
                 if (!engine.is_none()) c.SetEngine(EngineFrom(engine.cast<std::string>()));
                 if (!threads.is_none()) c.SetThreads(threads.cast<uint32_t>());
                 if (!seed.is_none()) c.SetSeed(seed.cast<uint32_t>());
                 auto out = std::make_unique<PySimulation>();
                 vellicor::LogCallback sink = LogFrom(log);
                 py::gil_scoped_release release;
                 out->sim = std::make_unique<vellicor::Simulation>(c, sink);
                 out->sim->KeepSpikes(keepSpikes);
                 return out;
             }),
             "config"_a = py::none(), py::kw_only(), "preset"_a = py::none(), "engine"_a = py::none(),
             "threads"_a = py::none(), "seed"_a = py::none(), "log"_a = py::none(), "keep_spikes"_a = true,
             "Builds the network of `config` (or the default one), with keyword overrides.\n"
             "log: None (silent), True (the console) or f(level, text). keep_spikes=False keeps no\n"
             "spikes for spikes() (long runs that record to a SONATA file instead).")
        .def_static("resume",
                    [](const std::string& path, uint32_t threads, const py::object& log) {
                        auto out = std::make_unique<PySimulation>();
                        vellicor::LogCallback sink = LogFrom(log);
                        py::gil_scoped_release release;
                        out->sim = std::make_unique<vellicor::Simulation>(vellicor::Simulation::Resume(path, threads, sink));
                        out->cursor = out->sim->Step();
                        return out;
                    },
                    "path"_a, "threads"_a = 0, "log"_a = py::none(), "Continues a checkpoint bit for bit.")
        .def("run", &Run, "steps"_a, "progress"_a = false,
             "Runs `steps` steps of 0.5 ms; Ctrl+C stops after the current step (KeyboardInterrupt).")
        .def("spikes", &SpikesTuple, "since_last"_a = false,
             "(times in ms, neuron ids) of every spike, or of those since the last call with since_last=True.")
        .def("neurons", [](PySimulation& s) { return NeuronsDict(s.Get().Neurons()); },
             "v, u, the four conductances, positions (mm), excitatory, neuron_class: one entry per neuron.")
        .def("edges",
             [](PySimulation& s) {
                 vellicor::Edges e = s.Get().Connections();
                 py::dict out;
                 out["source"] = ToArray(std::move(e.source));
                 out["target"] = ToArray(std::move(e.target));
                 out["weight"] = ToArray(std::move(e.weight));
                 out["delay"] = ToArray(std::move(e.delayMs));
                 out["receptor"] = ToArray(std::move(e.receptor));
                 return out;
             },
             "Every synapse by target then source: source, target, weight, delay (ms), receptor (0 AMPA/NMDA, 1 GABA).")
        .def("weights", [](PySimulation& s) { return ToArray(s.Get().Weights()); })
        .def_property("stimulus", [](PySimulation& s) { return s.Get().Stimulus(); },
                      [](PySimulation& s, bool on) { s.Get().SetStimulus(on); })
        .def_property_readonly("step", [](PySimulation& s) { return s.sim->Step(); })
        .def_property_readonly("time_ms", [](PySimulation& s) { return s.sim->TimeMs(); })
        .def_property_readonly("neuron_count", [](PySimulation& s) { return s.sim->NeuronCount(); })
        .def_property_readonly("synapse_count", [](PySimulation& s) { return s.Get().SynapseCount(); })
        .def_property_readonly("engine", [](PySimulation& s) { return EngineName(s.sim->GetEngine()); })
        .def_property_readonly("config", [](PySimulation& s) { return s.sim->GetConfig(); })
        .def_property_readonly("wall_seconds", [](PySimulation& s) { return s.sim->WallSeconds(); })
        .def("record_spikes", [](PySimulation& s, const std::string& path) { s.Get().RecordSpikes(path); }, "path"_a,
             "Writes the spikes from now on into a SONATA spike report.")
        .def("stop_recording", [](PySimulation& s) { s.Get().StopRecording(); })
        .def("export_network",
             [](PySimulation& s, const std::string& path) {
                 vellicor::Simulation& sim = s.Get();
                 py::gil_scoped_release release;
                 sim.ExportNetwork(path);
             },
             "path"_a, "The network as SONATA nodes and edges.")
        .def("save_checkpoint",
             [](PySimulation& s, const std::string& path) {
                 vellicor::Simulation& sim = s.Get();
                 py::gil_scoped_release release;
                 sim.SaveCheckpoint(path);
             },
             "path"_a, "The whole state; Simulation.resume or the program's resume= continue it.");
}
