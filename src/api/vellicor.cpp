// The public interface over the engine and the file formats.
//
// Sections:
//   1. Messages
//   2. Config
//   3. Simulation: construction, observers
//   4. Simulation: running
//   5. Simulation: state, edges, files
#include "vellicor/vellicor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "engine/network.h"
#include "engine/params.h"
#include "engine/simulation.h"
#include "engine/synapses.h"
#include "io/app_state.h"
#include "io/checkpoint.h"
#include "io/param_file.h"
#include "io/sonata.h"
#include "io/spike_recorder.h"
#include "platform/version.h"

namespace vellicor {

// ---- 1. Messages -------------------------------------------------------------------------------

LogCallback SilentLog() {
    return [](LogLevel, const std::string&) {};
}

// ---- 2. Config -----------------------------------------------------------------------------------

struct Config::Impl {
    SimParams params{};
    AppOptions options{};  // what a parameter file carries beside the parameters
    uint32_t seed = 1;
};

namespace {

// A value as a person typed it: 2, 0.75, 1e-05.
std::string Num(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// The Simulation page's flags beside the Neurons page's table.
uint8_t* FindFlag(SimParams& p, const std::string& name) {
    if (name == "reentrantLoops") return &p.reentrantLoops;
    if (name == "idlePriority") return &p.idlePriority;
    return nullptr;
}

const ParamField* FindField(const std::string& name) {
    for (const ParamField& f : NeuronParamFields)
        if (name == f.name) return &f;
    return nullptr;
}

}  // namespace

Config::Config() : impl_(std::make_unique<Impl>()) {
    SetDefaultParams(impl_->params, DefaultWorkerThreads());  // the default preset's shape too
    SetDefaultOptions(impl_->options);
}
Config::~Config() = default;
Config::Config(const Config& other) : impl_(std::make_unique<Impl>(*other.impl_)) {}
Config& Config::operator=(const Config& other) {
    if (this != &other) *impl_ = *other.impl_;
    return *this;
}
Config::Config(Config&& other) noexcept = default;
Config& Config::operator=(Config&& other) noexcept = default;

int Config::PresetCount() { return kPresetCount; }

std::string Config::PresetCaption(int index) {
    if (index < 0 || index >= kPresetCount)
        throw Error("preset = " + std::to_string(index) + ": must be 0.." + std::to_string(kPresetCount - 1));
    return GeometryPresets[index].label;
}

Config Config::Preset(int index) {
    PresetCaption(index);  // checks the index
    Config c;
    ApplyPreset(c.impl_->params, index);
    return c;
}

Config Config::Box(uint32_t x, uint32_t y, uint32_t z) {
    Config c;
    SimParams& p = c.impl_->params;
    const std::string error = SetNetworkShape(p, GeometryBox, x, y, z);
    if (!error.empty()) throw Error(error);
    return c;
}

Config Config::Sphere(uint32_t diameter) {
    Config c;
    const std::string error = SetNetworkShape(c.impl_->params, GeometrySphere, diameter, diameter, diameter);
    if (!error.empty()) throw Error(error);
    return c;
}

Config Config::Load(const std::string& path) {
    Config c;
    const ParamFileStatus status = LoadParamFile(path, c.impl_->params, c.impl_->options);
    if (!status.ok) throw Error(status.error);
    return c;
}

void Config::Save(const std::string& path) const {
    const ParamFileStatus status = SaveParamFile(path, impl_->params, impl_->options, kVellicorName);
    if (!status.ok) throw Error(status.error);
}

Config& Config::SetEngine(Engine engine) {
    impl_->params.engineMode = engine == Engine::Event ? EngineEvent : EngineExact;
    return *this;
}
Engine Config::GetEngine() const { return impl_->params.engineMode == EngineEvent ? Engine::Event : Engine::Exact; }

Config& Config::SetThreads(uint32_t threads) {
    impl_->params.workerThreads = RoundWorkerThreads(threads);
    impl_->params.autoManageThreads = 0;
    return *this;
}
uint32_t Config::Threads() const { return impl_->params.workerThreads; }

Config& Config::SetSeed(uint32_t seed) {
    // 0 would leave the generator unseeded (the build would not end).
    if (seed == 0) throw Error("seed = 0: must be 1..4294967295");
    impl_->seed = seed;
    return *this;
}
uint32_t Config::Seed() const { return impl_->seed; }

std::vector<std::string> Config::ParameterNames() {
    std::vector<std::string> names;
    for (const ParamField& f : NeuronParamFields) names.emplace_back(f.name);
    names.emplace_back("reentrantLoops");
    names.emplace_back("idlePriority");
    return names;
}

Config& Config::Set(const std::string& name, double value) {
    if (uint8_t* flag = FindFlag(impl_->params, name)) {
        if (value != 0 && value != 1) throw Error(name + " = " + Num(value) + ": must be 0 or 1");
        *flag = static_cast<uint8_t>(value);
        return *this;
    }
    SimParams p = impl_->params;
    const ParamField* f = FindField(name);
    if (f == nullptr) throw Error("unknown parameter \"" + name + "\"");
    if (!std::isfinite(value)) throw Error(name + " = " + Num(value) + ": not a number");
    void* field = reinterpret_cast<char*>(&p) + f->offset;
    switch (f->kind) {
        case ParamKindInteger:
            if (value != std::floor(value) || value < f->min || value > f->max)
                throw Error(name + " = " + Num(value) + ": must be a whole number within " +
                            std::to_string(static_cast<long>(f->min)) + ".." + std::to_string(static_cast<long>(f->max)));
            *static_cast<uint32_t*>(field) = static_cast<uint32_t>(value);
            break;
        case ParamKindFloat: *static_cast<float*>(field) = static_cast<float>(value); break;
        case ParamKindPercentage: *static_cast<float*>(field) = static_cast<float>(value) / 100.0f; break;
        default:
            if (value != 0 && value != 1) throw Error(name + " = " + Num(value) + ": must be 0 or 1");
            *static_cast<uint8_t*>(field) = static_cast<uint8_t>(value);
            break;
    }
    const std::string outside = ParamOutsideLimits(p);
    if (!outside.empty()) throw Error(outside);
    impl_->params = p;
    return *this;
}

double Config::Get(const std::string& name) const {
    if (const uint8_t* flag = FindFlag(impl_->params, name)) return *flag;
    const SimParams& p = impl_->params;
    const ParamField* f = FindField(name);
    if (f == nullptr) throw Error("unknown parameter \"" + name + "\"");
    const void* field = reinterpret_cast<const char*>(&p) + f->offset;
    switch (f->kind) {
        case ParamKindInteger: return *static_cast<const uint32_t*>(field);
        case ParamKindFloat: return *static_cast<const float*>(field);
        case ParamKindPercentage: return static_cast<double>(*static_cast<const float*>(field) * 100.0f);
        default: return *static_cast<const uint8_t*>(field);
    }
}

uint32_t Config::NeuronCount() const { return impl_->params.neuronCount; }

std::string Config::Caption() const { return NetworkShapeCaption(impl_->params); }

// ---- 3. Simulation: construction, observers ------------------------------------------------------

struct Simulation::Impl {
    ::Simulation sim;
    Config config;
    LogCallback log;
    bool started = false;  // workers launched (the first Run)
    uint32_t startStep = 0;  // the step the handle began at (a resumed run's)
    double wallSeconds = 0;
    std::vector<SpikeConsumer> consumers;
    // Every spike as (step << 32 | id), in step order: spikes[0, spikeCount),
    // appended by the last worker. Run makes room for the spikes it expects before
    // the workers go (pages touched then), so the step's end copies only.
    mutable std::mutex spikesLock;
    std::vector<uint64_t> spikes;
    size_t spikeCount = 0;
    std::atomic<bool> keepSpikes{true};
    SpikeRecorder recorder;

    // Room for about `steps` more steps at the rate so far (50 Hz before any run).
    void ReserveSpikes(uint32_t steps) {
        if (!keepSpikes.load()) return;
        constexpr size_t kMostAhead = size_t{1} << 25;  // 256 MiB at a time at most
        const uint32_t done = sim.stepCounter.load(std::memory_order_acquire) - startStep;
        const double perStep = done > 0 ? static_cast<double>(spikeCount) / done : 0.025 * sim.neuronCount;
        const size_t ahead = std::min(kMostAhead, static_cast<size_t>(perStep * steps * 1.25) + sim.neuronCount);
        std::lock_guard<std::mutex> guard(spikesLock);
        if (spikes.size() < spikeCount + ahead) spikes.resize(spikeCount + ahead);
    }

    // The workers end before the recorder they report to (a moved-over handle
    // takes this path as well as a destroyed one).
    ~Impl() {
        sim.Stop();
        std::string error;
        recorder.Stop(error);
    }

    static void Write(void* context, uint8_t level, const char* text) {
        static_cast<Impl*>(context)->log(static_cast<LogLevel>(std::min<uint8_t>(level, 2)), text);
    }
    static void Stepped(void* context, const ::Simulation& sim, uint32_t step) {
        Impl& self = *static_cast<Impl*>(context);
        if (self.keepSpikes.load(std::memory_order_relaxed)) {
            std::lock_guard<std::mutex> guard(self.spikesLock);
            const uint32_t n = sim.firedCount;
            if (self.spikeCount + n > self.spikes.size())  // more than Run expected
                self.spikes.resize(std::max(self.spikes.size() * 2, self.spikeCount + n));
            uint64_t* out = self.spikes.data() + self.spikeCount;
            const uint64_t stamp = uint64_t{step} << 32;
            for (uint32_t k = 0; k < n; ++k) out[k] = stamp | sim.firedIds[k];
            self.spikeCount += n;
        }
        for (const SpikeConsumer& consumer : self.consumers) consumer(step, sim.firedIds, sim.firedCount);
        self.recorder.OnStep(step, sim.firedIds, sim.firedCount);
    }

    void Install(LogCallback callback) {
        log = std::move(callback);
        if (log) sim.logSink = LogSink{this, &Write};
        sim.views = false;
        SimulationObserver observer;
        observer.context = this;
        observer.stepped = &Stepped;
        sim.AddObserver(observer);
    }

    // fn on the network between two steps.
    template <class F>
    void AtRest(F&& fn) const {
        auto& s = const_cast<::Simulation&>(sim);
        if (!started) {
            fn(s);
            return;
        }
        auto call = [](void* context, ::Simulation& at) { (*static_cast<F*>(context))(at); };
        if (s.WhileParked(call, &fn) != SimStatus::Ok) throw Error("the simulation is not at rest");
    }
};

namespace {

// A builder whose extension resumes a checkpoint.
struct ResumeContext {
    CheckpointReader* reader;
    std::string error;
};

void PrepareResume(void* context, ::Simulation& sim) { static_cast<ResumeContext*>(context)->reader->PrepareBuild(sim); }

bool RestoreResume(void* context, ::Simulation& sim) {
    auto& c = *static_cast<ResumeContext*>(context);
    return c.reader->Restore(sim, c.error);
}

}  // namespace

Simulation::Simulation(const Config& config, LogCallback log) : impl_(std::make_unique<Impl>()) {
    impl_->config = config;
    impl_->Install(std::move(log));
    ::Simulation& s = impl_->sim;
    s.params = config.impl_->params;
    s.random = SeededRandom(config.impl_->seed);
    const SimResult built = s.Build();
    if (!built.ok()) throw Error(built.error.empty() ? "the network could not be built" : built.error);
}

Simulation Simulation::Resume(const std::string& checkpoint, uint32_t threads, LogCallback log) {
    Simulation out;
    out.impl_ = std::make_unique<Impl>();
    Impl& impl = *out.impl_;
    impl.Install(std::move(log));
    CheckpointReader reader;
    std::string error;
    if (!reader.Open(checkpoint, error)) throw Error(error);
    ::Simulation& s = impl.sim;
    SetDefaultParams(s.params, threads == 0 ? DefaultWorkerThreads() : RoundWorkerThreads(threads));
    ResumeContext context{&reader, ""};
    const StartExtension extension{&context, &PrepareResume, &RestoreResume};
    const SimResult built = s.Build(&extension);
    if (!built.ok())
        throw Error(!context.error.empty() ? checkpoint + ": " + context.error
                                           : built.error.empty() ? checkpoint + ": cannot be resumed" : built.error);
    impl.config.impl_->params = s.buildOrigin.params;
    impl.config.impl_->params.workerThreads = s.params.workerThreads;
    impl.config.impl_->seed = s.buildOrigin.random.seed;
    impl.startStep = s.stepCounter.load(std::memory_order_acquire);
    return out;
}

Simulation::~Simulation() = default;
Simulation::Simulation(Simulation&& other) noexcept = default;
Simulation& Simulation::operator=(Simulation&& other) noexcept = default;

void Simulation::OnSpikes(SpikeConsumer consumer) {
    if (impl_->started) throw Error("spike consumers are registered before the first run");
    impl_->consumers.push_back(std::move(consumer));
}

// ---- 4. Simulation: running ---------------------------------------------------------------------

uint32_t Simulation::Run(uint32_t steps, const std::function<bool(uint32_t done)>& poll) {
    if (steps == 0) return 0;
    Impl& impl = *impl_;
    ::Simulation& s = impl.sim;
    const uint32_t first = s.stepCounter.load(std::memory_order_acquire);
    if (uint64_t{first} + steps > 0xFFFFFFF0u) throw Error("the run would pass the last step a simulation counts");
    impl.ReserveSpikes(steps);
    const auto begin = std::chrono::steady_clock::now();
    const SimResult result = impl.started ? s.Advance(steps) : s.Start(steps);
    if (!result.ok()) throw Error(result.error.empty() ? "the simulation cannot run" : result.error);
    impl.started = true;
    while (!s.WaitForTarget(20)) {
        if (poll && !poll(s.stepCounter.load(std::memory_order_acquire) - first)) {
            s.Park();
            break;
        }
    }
    impl.wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return s.stepCounter.load(std::memory_order_acquire) - first;
}

uint32_t Simulation::Step() const { return impl_->sim.stepCounter.load(std::memory_order_acquire); }
double Simulation::TimeMs() const { return Step() * static_cast<double>(kStepMs); }
uint32_t Simulation::NeuronCount() const { return impl_->sim.neuronCount; }
uint64_t Simulation::SynapseCount() const { return impl_->sim.params.synapseCount; }
Engine Simulation::GetEngine() const { return impl_->sim.eventEngine != nullptr ? Engine::Event : Engine::Exact; }
const Config& Simulation::GetConfig() const { return impl_->config; }
double Simulation::WallSeconds() const { return impl_->wallSeconds; }

Spikes Simulation::SpikesSince(uint32_t step) const {
    std::lock_guard<std::mutex> guard(impl_->spikesLock);
    const uint64_t* begin = impl_->spikes.data();
    const uint64_t* end = begin + impl_->spikeCount;
    const uint64_t* from = std::lower_bound(begin, end, uint64_t{step} << 32);
    Spikes out;
    const size_t n = static_cast<size_t>(end - from);
    out.timesMs.resize(n);
    out.ids.resize(n);
    for (size_t k = 0; k < n; ++k) {
        out.timesMs[k] = static_cast<double>(from[k] >> 32) * kStepMs;
        out.ids[k] = static_cast<uint32_t>(from[k]);
    }
    return out;
}

void Simulation::KeepSpikes(bool keep) { impl_->keepSpikes.store(keep); }

uint64_t Simulation::SpikeCount() const {
    std::lock_guard<std::mutex> guard(impl_->spikesLock);
    return impl_->spikeCount;
}

void Simulation::SetStimulus(bool on) { plat::AtomicStore(impl_->sim.stimulusOn, static_cast<uint8_t>(on ? 1 : 0)); }
bool Simulation::Stimulus() const { return plat::AtomicLoad(impl_->sim.stimulusOn) != 0; }

// ---- 5. Simulation: state, edges, files ---------------------------------------------------------

NeuronState Simulation::Neurons() const {
    NeuronState out;
    impl_->AtRest([&out](::Simulation& s) {
        const uint32_t n = s.neuronCount;
        for (auto* column : {&out.v, &out.u, &out.gAmpa, &out.gNmda, &out.gGabaA, &out.gGabaB, &out.x, &out.y, &out.z})
            column->resize(n);
        out.excitatory.resize(n);
        out.neuronClass.resize(n);
        for (uint32_t i = 0; i < n; ++i) {
            const Neuron& r = s.neurons[i];
            out.v[i] = r.v;
            out.u[i] = r.u;
            out.gAmpa[i] = r.gAmpa;
            out.gNmda[i] = r.gNmda;
            out.gGabaA[i] = r.gGabaA;
            out.gGabaB[i] = r.gGabaB;
            out.x[i] = r.somaPos[0];
            out.y[i] = r.somaPos[1];
            out.z[i] = r.somaPos[2];
            out.excitatory[i] = r.isExcitatory ? 1 : 0;
            out.neuronClass[i] = r.neuronClass;
        }
    });
    return out;
}

Edges Simulation::Connections() const {
    Edges out;
    impl_->AtRest([&out](::Simulation& s) {
        const uint64_t total = s.params.synapseCount;
        out.source.reserve(total);
        out.target.reserve(total);
        out.weight.reserve(total);
        out.delayMs.reserve(total);
        out.receptor.reserve(total);
        for (uint32_t post = 0; post < s.neuronCount; ++post) {
            for (uint32_t k = 0; k < s.neurons[post].incomingCount; ++k) {
                const uint32_t pre = IncomingPre(s, post, k);
                out.source.push_back(pre);
                out.target.push_back(post);
                out.weight.push_back(IncomingWeight(s, post, k));
                out.delayMs.push_back(static_cast<float>(s.neurons[pre].delayLength) * kStepMs);
                out.receptor.push_back(s.neurons[pre].isExcitatory ? 0 : 1);
            }
        }
    });
    return out;
}

std::vector<float> Simulation::Weights() const {
    std::vector<float> out;
    impl_->AtRest([&out](::Simulation& s) {
        for (uint32_t post = 0; post < s.neuronCount; ++post)
            for (uint32_t k = 0; k < s.neurons[post].incomingCount; ++k) out.push_back(IncomingWeight(s, post, k));
    });
    return out;
}

void Simulation::RecordSpikes(const std::string& path) {
    std::string error;
    impl_->recorder.Stop(error);
    if (!impl_->recorder.Start(path, error)) throw Error(error);
}

void Simulation::StopRecording() {
    std::string error;
    if (!impl_->recorder.Stop(error)) throw Error(error);
}

void Simulation::ExportNetwork(const std::string& path) const {
    std::string error;
    bool ok = false;
    impl_->AtRest([&](::Simulation& s) { ok = ::ExportNetwork(s, path, error); });
    if (!ok) throw Error(error.empty() ? path + ": cannot be written" : error);
}

void Simulation::SaveCheckpoint(const std::string& path) const {
    std::string error;
    bool ok = false;
    impl_->AtRest([&](::Simulation& s) { ok = WriteCheckpoint(s, impl_->config.impl_->options, path, error); });
    if (!ok) throw Error(error.empty() ? path + ": cannot be written" : error);
}

}  // namespace vellicor
