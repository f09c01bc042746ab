// Vellicor's public C++ interface: a network configuration (a value) and a
// simulation handle whose state stays behind it. A program that links the
// library includes this header only.
//
//   vellicor::Config config = vellicor::Config::Preset(6);   // or Box(x, y, z), Sphere(d), Load(path)
//   config.SetEngine(vellicor::Engine::Event).SetThreads(2).SetSeed(7);
//   config.Set("excWeightMax", 0.6);                           // any parameter by name
//   vellicor::Simulation sim(config);                         // builds the network
//   sim.OnSpikes([](uint32_t step, const uint32_t* ids, size_t n) { ... });
//   sim.Run(2000);                                            // 1 s of simulated time
//   vellicor::Spikes s = sim.SpikesSince(0);                  // (ms, id) of every spike
//
// Sections:
//   1. Errors and messages
//   2. Config
//   3. Simulation
//
// Every failure is a vellicor::Error with the engine's message (file names, line
// numbers, field names and limits included). One handle is used from one thread
// at a time; several handles may run side by side, each on its own workers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vellicor {

// ---- 1. Errors and messages ------------------------------------------------------------------
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class LogLevel : uint8_t { Info = 0, Warning = 1, Error = 2 };
// Where a simulation's messages go (on the thread that logs them, possibly a
// worker). An empty function is the console; SilentLog() drops them.
using LogCallback = std::function<void(LogLevel level, const std::string& text)>;
LogCallback SilentLog();

enum class Engine : uint8_t { Exact = 0, Event = 1 };

// ---- 2. Config ---------------------------------------------------------------------------------
// A network's shape and every parameter of the configuration sheet. Setters check
// their value and throw Error naming the field and its limits.
class Config {
public:
    Config();  // the default network: preset 6, the exact engine, seed 1, threads for this machine
    ~Config();
    Config(const Config& other);
    Config& operator=(const Config& other);
    Config(Config&& other) noexcept;
    Config& operator=(Config&& other) noexcept;

    static int PresetCount();
    static std::string PresetCaption(int index);
    static Config Preset(int index);
    // A box of x * y * z neurons, one per 1 mm grid cell; a sphere in a d * d * d grid.
    static Config Box(uint32_t x, uint32_t y, uint32_t z);
    static Config Sphere(uint32_t diameter);
    // A parameter file, as config= reads it (errors name the file, line and value).
    static Config Load(const std::string& path);
    void Save(const std::string& path) const;

    Config& SetEngine(Engine engine);
    Engine GetEngine() const;
    // Worker threads, rounded to a power of two within 1..256.
    Config& SetThreads(uint32_t threads);
    uint32_t Threads() const;
    // The construction generator's seed, 1..4294967295.
    Config& SetSeed(uint32_t seed);
    uint32_t Seed() const;
    // Every neuron and synapse parameter of the configuration sheet, named as in
    // parameter files (inhibitoryFraction in percent), plus the Simulation page's
    // reentrantLoops and idlePriority; flags are 0 or 1.
    static std::vector<std::string> ParameterNames();
    Config& Set(const std::string& name, double value);
    double Get(const std::string& name) const;

    uint32_t NeuronCount() const;
    std::string Caption() const;  // the preset's caption, or the shape's

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    friend class Simulation;
};

// ---- 3. Simulation ------------------------------------------------------------------------------
// Spikes as two columns: times in ms (step * 0.5) and neuron ids, in step order,
// ids ascending within a step.
struct Spikes {
    std::vector<double> timesMs;
    std::vector<uint32_t> ids;
};

// Neuron state between two steps, one entry per neuron.
struct NeuronState {
    std::vector<float> v, u, gAmpa, gNmda, gGabaA, gGabaB;
    std::vector<float> x, y, z;        // soma positions, mm
    std::vector<uint8_t> excitatory;   // 1 excitatory, 0 inhibitory
    std::vector<uint8_t> neuronClass;  // 0 RS, 1 IB, 2 CH, 3 FS, 4 LTS
};

// Every synapse, by target neuron then source (the order of the SONATA export).
struct Edges {
    std::vector<uint32_t> source, target;
    std::vector<float> weight;      // 0..1, potentiation applied
    std::vector<float> delayMs;     // the source's axonal delay
    std::vector<uint8_t> receptor;  // 0 AMPA/NMDA, 1 GABAa/GABAb
};

class Simulation {
public:
    // Builds the network of `config` (a few seconds for the largest presets).
    explicit Simulation(const Config& config, LogCallback log = {});
    // Continues the run saved in a checkpoint, bit for bit, on `threads` workers
    // (0: the machine's default).
    static Simulation Resume(const std::string& checkpoint, uint32_t threads = 0, LogCallback log = {});
    ~Simulation();
    Simulation(Simulation&& other) noexcept;
    Simulation& operator=(Simulation&& other) noexcept;
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    // Runs `steps` steps of 0.5 ms. `poll` is called on this thread about every
    // 20 ms with the steps done so far; false ends the run after the step in
    // progress. Returns the steps run. The simulation stays usable either way.
    uint32_t Run(uint32_t steps, const std::function<bool(uint32_t done)>& poll = {});
    uint32_t Step() const;   // steps completed since the network was built
    double TimeMs() const;   // Step() * 0.5
    uint32_t NeuronCount() const;
    uint64_t SynapseCount() const;
    Engine GetEngine() const;
    const Config& GetConfig() const;
    // Wall time spent in Run so far.
    double WallSeconds() const;

    // Each step's fired ids, on the worker that ends the step, before the next
    // one begins: keep it short. Registered before the first Run.
    using SpikeConsumer = std::function<void(uint32_t step, const uint32_t* ids, size_t count)>;
    void OnSpikes(SpikeConsumer consumer);
    // Every spike of steps >= `step` kept by the handle (all since it was built,
    // 8 bytes each, while KeepSpikes is on: the default).
    Spikes SpikesSince(uint32_t step) const;
    void KeepSpikes(bool keep);
    uint64_t SpikeCount() const;

    NeuronState Neurons() const;
    Edges Connections() const;
    std::vector<float> Weights() const;  // Connections().weight alone

    void SetStimulus(bool on);
    bool Stimulus() const;

    // The files of the command line: the spike report (from now until
    // StopRecording, or the handle's end), the network, a checkpoint.
    void RecordSpikes(const std::string& path);
    void StopRecording();
    void ExportNetwork(const std::string& path) const;
    void SaveCheckpoint(const std::string& path) const;

    struct Impl;

private:
    Simulation() = default;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vellicor
