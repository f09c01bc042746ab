// Distributed runs, inside one process: every "process" of the run is a Simulation
// of its own on its own threads, and the exchange is a rendezvous of their last
// workers. The spikes of the run must be those of one simulation, step by step.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/params.h"
#include "engine/random.h"
#include "engine/simulation.h"

namespace {

// Waits until all `ranks` have called, then runs `combine` once on the last one.
class Rendezvous {
public:
    explicit Rendezvous(uint32_t ranks) : ranks_(ranks) {}
    template <class Combine>
    void Meet(Combine&& combine) {
        std::unique_lock<std::mutex> lock(mutex_);
        const uint64_t generation = generation_;
        if (++arrived_ == ranks_) {
            combine();
            arrived_ = 0;
            ++generation_;
            changed_.notify_all();
        } else {
            changed_.wait(lock, [&] { return generation_ != generation; });
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint32_t ranks_, arrived_ = 0;
    uint64_t generation_ = 0;
};

struct LocalRun;
struct Rank {
    LocalRun* run;
    uint32_t rank;
    StepExchange* step = nullptr;
    bool ok = true;
};

struct LocalRun {
    explicit LocalRun(uint32_t ranks) : meeting(ranks), ranks(ranks) {}
    Rendezvous meeting;
    uint32_t ranks;
    std::vector<Rank> members;
    bool refuse = false;  // one process reports a failed build
};

void Exchange(void* context, StepExchange& x) {
    Rank& me = *static_cast<Rank*>(context);
    me.step = &x;
    me.run->meeting.Meet([&run = *me.run] {
        std::vector<uint32_t> fired;
        bool park = false;
        for (const Rank& r : run.members) {
            fired.insert(fired.end(), r.step->firedIds, r.step->firedIds + r.step->firedCount);
            park = park || r.step->park;
        }
        for (Rank& to : run.members) {
            StepExchange& t = *to.step;
            for (const Rank& from : run.members) {
                if (&from == &to) continue;
                const StepExchange& f = *from.step;
                for (uint32_t w = f.first / 64; w < (f.end + 63) / 64; ++w) t.due[w] = f.due[w];
            }
            std::copy(fired.begin(), fired.end(), t.firedIds);
            t.firedCount = static_cast<uint32_t>(fired.size());
            t.park = park;
        }
    });
}

bool Agree(void* context, bool ok) {
    Rank& me = *static_cast<Rank*>(context);
    me.ok = ok && !(me.run->refuse && me.rank == 1);
    me.run->meeting.Meet([&run = *me.run] {
        bool every = true;
        for (const Rank& r : run.members) every = every && r.ok;
        for (Rank& r : run.members) r.ok = every;
    });
    return me.ok;
}

// Every spike as (step << 32 | id), in order.
void Record(void* context, const Simulation& sim, uint32_t step) {
    auto& spikes = *static_cast<std::vector<uint64_t>*>(context);
    for (uint32_t k = 0; k < sim.firedCount; ++k) spikes.push_back(uint64_t{step} << 32 | sim.firedIds[k]);
}

void Configure(Simulation& sim, uint32_t threads, uint8_t engine) {
    SetDefaultParams(sim.params, threads);
    ApplyPreset(sim.params, 9);  // 2048 neurons in 32 planes: the stimulus acts
    sim.params.workerThreads = threads;
    sim.params.engineMode = engine;
    sim.stimulusOn = 1;
    sim.random = SeededRandom(7);
    sim.views = false;
    sim.logSink.write = [](void*, uint8_t, const char*) {};
}

std::vector<uint64_t> RunAlone(uint32_t steps, uint8_t engine, uint64_t* memory) {
    Simulation sim;
    Configure(sim, 2, engine);
    std::vector<uint64_t> spikes;
    sim.AddObserver({&spikes, nullptr, &Record});
    EXPECT_TRUE(sim.Start(steps).ok());
    *memory = sim.MemoryUsage;
    EXPECT_TRUE(sim.WaitForTarget(600000));
    sim.Stop();
    return spikes;
}

struct RunShape {
    uint32_t ranks, threads;
    bool shareOnly;  // each keeps only its share's synapses
};

// Runs `ranks` processes of `threads` workers; returns rank 0's spikes, or the
// start errors, and the most memory a process's network took.
std::vector<uint64_t> RunDistributed(RunShape shape, uint8_t engine, uint32_t steps, bool refuse,
                                     std::vector<std::string>* errors = nullptr, uint64_t* memory = nullptr) {
    const uint32_t ranks = shape.ranks, threads = shape.threads;
    LocalRun run(ranks);
    run.refuse = refuse;
    run.members.resize(ranks);
    std::vector<uint64_t> spikes;
    std::vector<std::string> failures(ranks);
    std::vector<std::thread> processes;
    std::mutex memoryLock;
    for (uint32_t r = 0; r < ranks; ++r) {
        run.members[r] = Rank{&run, r};
        processes.emplace_back([&, r] {
            Simulation sim;
            Configure(sim, threads, engine);
            sim.distribution = Distribution{r, ranks, &run.members[r], &Exchange, &Agree, shape.shareOnly};
            if (r == 0) sim.AddObserver({&spikes, nullptr, &Record});
            const SimResult started = sim.Start(steps);
            failures[r] = started.error;
            if (!started.ok()) return;
            if (memory != nullptr) {
                const std::lock_guard<std::mutex> lock(memoryLock);
                *memory = std::max(*memory, sim.MemoryUsage);
            }
            EXPECT_TRUE(sim.WaitForTarget(600000));
            EXPECT_EQ(sim.stepCounter.load(), steps);
            sim.Stop();
        });
    }
    for (std::thread& t : processes) t.join();
    if (errors != nullptr) *errors = failures;
    return spikes;
}

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr uint32_t kSteps = 150;
#else
constexpr uint32_t kSteps = 1500;
#endif

TEST(Distribution, ProcessesTogetherGiveTheSpikesOfOneSimulation) {
    for (const uint8_t engine : {EngineEvent, EngineExact}) {
        const char* name = engine == EngineEvent ? "event" : "exact";
        uint64_t aloneMemory = 0;
        const std::vector<uint64_t> alone = RunAlone(kSteps, engine, &aloneMemory);
        ASSERT_GT(alone.size(), 1000u);  // the network is active
        for (const RunShape shape : {RunShape{2, 1, false}, RunShape{2, 1, true}, RunShape{3, 2, true}}) {
            uint64_t memory = 0;
            const std::vector<uint64_t> together = RunDistributed(shape, engine, kSteps, false, nullptr, &memory);
            EXPECT_TRUE(together == alone) << name << " engine, " << shape.ranks << " processes of " << shape.threads
                                            << " threads" << (shape.shareOnly ? ", shares only" : "") << ": "
                                            << together.size() << " spikes against " << alone.size();
            // A process that keeps its share holds its part of the synapses, and
            // every neuron's record (and, in event mode, every run's short-term
            // state): in this small network those weigh about as much as the synapses.
            if (shape.shareOnly) {
                EXPECT_LT(memory, aloneMemory * 4 / 5) << name << " engine, " << shape.ranks;
            }
        }
    }
}

TEST(Distribution, OneFailedBuildEndsEveryProcessWithAnError) {
    std::vector<std::string> errors;
    RunDistributed({3, 1, true}, EngineEvent, 10, true, &errors);
    for (const std::string& error : errors)
        EXPECT_EQ(error, "Another process of the distributed run could not build its network.");
}

TEST(Distribution, SharesAreWholeWordsThatCoverTheNetwork) {
    for (const auto& [n, ranks] : {std::pair{2048u, 3u}, std::pair{100u, 2u}, std::pair{64u, 3u}}) {
        uint32_t expected = 0;
        for (uint32_t r = 0; r < ranks; ++r) {
            uint32_t first = 0, end = 0;
            ShareOfNeurons(n, r, ranks, first, end);
            EXPECT_EQ(first, expected) << n << " neurons, rank " << r;
            EXPECT_TRUE(first % 64 == 0 && first <= end) << n << " neurons, rank " << r;
            expected = end;
        }
        EXPECT_EQ(expected, n);
    }
}

}  // namespace
