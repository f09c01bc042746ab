// Distributed runs over MPI.
//
// Sections:
//   1. Joining and leaving the run
//   2. The step exchange and the build agreement
//   3. Shared values
#include "app/distributed.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/activity.h"
#include "engine/simulation.h"
#include "io/process_channel.h"

#ifdef VELLICOR_MPI
#include <mpi.h>
#endif

// ---- 1. Joining and leaving ------------------------------------------------------------------

#ifdef VELLICOR_MPI

namespace {

bool Joined = false;

// Set by Open MPI's launcher (and by PMI-based ones) in every process it starts.
bool StartedByLauncher() {
    for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMI_SIZE", "PMIX_RANK"})
        if (std::getenv(name) != nullptr) return true;
    return false;
}

}  // namespace

DistributedRun JoinDistributedRun(int& argc, char**& argv) {
    DistributedRun run;
    if (!StartedByLauncher()) return run;
    MPI_Init(&argc, &argv);
    Joined = true;
    int rank = 0, size = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    run.rank = static_cast<uint32_t>(rank);
    run.ranks = static_cast<uint32_t>(size);
    MPI_Comm here;
    if (MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &here) == MPI_SUCCESS) {
        int local = 1;
        MPI_Comm_size(here, &local);
        run.ranksHere = static_cast<uint32_t>(local);
        MPI_Comm_free(&here);
    }
    return run;
}

void LeaveDistributedRun() {
    if (Joined) MPI_Finalize();
    Joined = false;
}

// ---- 2. Exchange and agreement ------------------------------------------------------------------

namespace {

// The buffers of one process's exchange, sized when the network is built (no
// allocation in the step loop).
struct MpiExchange {
    Simulation* sim = nullptr;
    int ranks = 1;
    std::vector<uint32_t> send;    // this process's due ids, then its spike ids
    std::vector<uint32_t> all;     // every process's, in rank order
    std::vector<int> counts;       // per process: due ids, spike ids, park asked
    std::vector<int> sizes, offsets;
    ExchangeTotals totals;
};

MpiExchange TheExchange;

void Exchange(void* context, StepExchange& x) {
    MpiExchange& m = *static_cast<MpiExchange*>(context);
    const auto start = std::chrono::steady_clock::now();
    // Every id of the network, twice (due and fired), at most: grown by the
    // warm-up's hand-offs or by Agree after the build, never in the step loop.
    const size_t room = 2 * size_t{x.dueWords} * 64;
    if (m.send.size() < room) m.send.resize(room);
    if (m.all.size() < room) m.all.resize(room);
    uint32_t* out = m.send.data();
    const uint32_t firstWord = x.first / 64, endWord = (x.end + 63) / 64;
    for (uint32_t w = firstWord; w < endWord; ++w)
        for (uint64_t bits = x.due[w]; bits != 0; bits &= bits - 1)
            *out++ = w * 64 + static_cast<uint32_t>(__builtin_ctzll(bits));
    const int dueCount = static_cast<int>(out - m.send.data());
    for (uint32_t k = 0; k < x.firedCount; ++k) *out++ = x.firedIds[k];
    const int mine[3] = {dueCount, static_cast<int>(x.firedCount), x.park ? 1 : 0};
    MPI_Allgather(mine, 3, MPI_INT, m.counts.data(), 3, MPI_INT, MPI_COMM_WORLD);
    int total = 0;
    for (int r = 0; r < m.ranks; ++r) {
        m.sizes[r] = m.counts[3 * r] + m.counts[3 * r + 1];
        m.offsets[r] = total;
        total += m.sizes[r];
    }
    MPI_Allgatherv(m.send.data(), dueCount + static_cast<int>(x.firedCount), MPI_UINT32_T, m.all.data(),
                   m.sizes.data(), m.offsets.data(), MPI_UINT32_T, MPI_COMM_WORLD);
    // The other processes' words of the due bitmap are theirs alone: replaced whole.
    for (uint32_t w = 0; w < x.dueWords; ++w)
        if (w < firstWord || w >= endWord) x.due[w] = 0;
    uint32_t fired = 0;
    bool park = false;
    for (int r = 0; r < m.ranks; ++r) {
        const uint32_t* ids = m.all.data() + m.offsets[r];
        const int due = m.counts[3 * r], spikes = m.counts[3 * r + 1];
        if (static_cast<uint32_t>(r) != m.sim->distribution.rank)
            for (int k = 0; k < due; ++k) x.due[ids[k] / 64] |= uint64_t{1} << (ids[k] % 64);
        for (int k = 0; k < spikes; ++k) x.firedIds[fired++] = ids[due + k];  // ranks own ascending ids
        park = park || m.counts[3 * r + 2] != 0;
    }
    x.firedCount = fired;
    x.park = park;
    m.totals.steps += 1;
    m.totals.bytes += sizeof(int) * m.counts.size() + sizeof(uint32_t) * static_cast<uint64_t>(total);
    m.totals.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Agree(void* context, bool ok) {
    MpiExchange& m = *static_cast<MpiExchange*>(context);
    int mine = ok ? 1 : 0, all = 0;
    MPI_Allreduce(&mine, &all, 1, MPI_INT, MPI_LAND, MPI_COMM_WORLD);
    m.totals = {};  // the steps' exchanges only, not the warm-up's hand-offs
    if (all != 0) {
        const size_t room = 2 * ((size_t{m.sim->neuronCount} + 63) / 64 * 64);
        if (m.send.size() < room) m.send.resize(room);
        if (m.all.size() < room) m.all.resize(room);
    }
    return all != 0;
}

}  // namespace

void AttachDistribution(Simulation& sim, const DistributedRun& run) {
    if (run.ranks <= 1) return;
    TheExchange.sim = &sim;
    TheExchange.ranks = static_cast<int>(run.ranks);
    TheExchange.counts.assign(3 * run.ranks, 0);
    TheExchange.sizes.assign(run.ranks, 0);
    TheExchange.offsets.assign(run.ranks, 0);
    sim.distribution = Distribution{run.rank, run.ranks, &TheExchange, &Exchange, &Agree};
}

// ---- 3. Shared values -----------------------------------------------------------------------------

namespace {

// Up to 1 GiB per message: MPI counts are ints.
constexpr size_t kMessageBytes = size_t{1} << 30;

struct ShareBuffer {
    std::vector<char> bytes;
    size_t at = 0;
};

// One message to process 0 of any length: its size, then pieces of at most 1 GiB.
constexpr int kPartTag = 7;
void SendBytes(const void* data, size_t bytes) {
    const uint64_t size = bytes;
    MPI_Send(&size, 1, MPI_UINT64_T, 0, kPartTag, MPI_COMM_WORLD);
    const char* from = static_cast<const char*>(data);
    for (size_t at = 0; at < size; at += kMessageBytes)
        MPI_Send(from + at, static_cast<int>(std::min(kMessageBytes, size - at)), MPI_BYTE, 0, kPartTag,
                 MPI_COMM_WORLD);
}
void ReceiveBytes(uint32_t from, std::vector<char>& bytes) {
    uint64_t size = 0;
    MPI_Recv(&size, 1, MPI_UINT64_T, static_cast<int>(from), kPartTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    bytes.resize(size);
    for (size_t at = 0; at < size; at += kMessageBytes)
        MPI_Recv(bytes.data() + at, static_cast<int>(std::min(kMessageBytes, size - at)), MPI_BYTE,
                 static_cast<int>(from), kPartTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
}

}  // namespace

void GatherShares(Simulation& sim) {
    if (!Joined || sim.distribution.ranks <= 1) return;
    const uint32_t rank = sim.distribution.rank, ranks = sim.distribution.ranks;
    ShareBuffer buffer;
    if (rank != 0) {
        VisitShareState(sim, sim.shareFirst, sim.shareEnd,
                        [](void* c, void* data, size_t bytes) {
                            auto& b = static_cast<ShareBuffer*>(c)->bytes;
                            b.insert(b.end(), static_cast<char*>(data), static_cast<char*>(data) + bytes);
                        },
                        &buffer);
        SendBytes(buffer.bytes.data(), buffer.bytes.size());
    } else {
        for (uint32_t from = 1; from < ranks; ++from) {
            ReceiveBytes(from, buffer.bytes);
            buffer.at = 0;
            uint32_t first = 0, end = 0;
            ShareOfNeurons(sim.neuronCount, from, ranks, first, end);
            VisitShareState(sim, first, end,
                            [](void* c, void* data, size_t bytes) {
                                auto& b = *static_cast<ShareBuffer*>(c);
                                if (b.at + bytes <= b.bytes.size()) std::memcpy(data, b.bytes.data() + b.at, bytes);
                                b.at += bytes;
                            },
                            &buffer);
        }
    }
    // Each process counts the synapses onto its own neurons; a histogram the
    // workers have cleared and not yet counted is counted here.
    ActivityAnalysis& a = sim.analysis;
    std::vector<uint32_t> histogram(kWeightBins + 1, 0);
    if (WeightCountPending(sim.stepCounter.load())) {
        CountWeightBins(sim, sim.shareFirst, sim.shareEnd, histogram.data());
        for (uint32_t b = 0; b < kWeightBins; ++b) histogram[kWeightBins] += histogram[b];
    } else {
        std::copy(a.WeightHistogram, a.WeightHistogram + kWeightBins, histogram.begin());
        histogram[kWeightBins] = a.weightTotal;
    }
    std::vector<uint32_t> sum(histogram.size());
    MPI_Reduce(histogram.data(), sum.data(), static_cast<int>(histogram.size()), MPI_UINT32_T, MPI_SUM, 0,
               MPI_COMM_WORLD);
    if (rank == 0) {
        std::copy(sum.begin(), sum.begin() + kWeightBins, a.WeightHistogram);
        a.weightTotal = sum.back();
    }
}

namespace {

void ChannelSend(void*, const void* data, size_t bytes) { SendBytes(data, bytes); }
void ChannelReceive(void*, uint32_t from, std::vector<char>& bytes) { ReceiveBytes(from, bytes); }
void ChannelSum(void*, uint64_t* values, size_t count) {
    for (size_t at = 0; at < count; at += kMessageBytes / 8)
        MPI_Allreduce(MPI_IN_PLACE, values + at, static_cast<int>(std::min(kMessageBytes / 8, count - at)),
                      MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
}
void ChannelBroadcast(void*, uint64_t& value) { MPI_Bcast(&value, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD); }

ProcessChannel TheChannel;

}  // namespace

const ProcessChannel* DistributedProcessChannel() {
    if (!Joined || TheExchange.sim == nullptr) return nullptr;
    const Distribution& d = TheExchange.sim->distribution;
    TheChannel = ProcessChannel{d.rank, d.ranks, nullptr, &ChannelSend, &ChannelReceive, &ChannelSum, &ChannelBroadcast};
    return &TheChannel;
}

void ShareRandomState(RandomGeneratorState& random) {
    if (Joined) MPI_Bcast(&random, sizeof random, MPI_BYTE, 0, MPI_COMM_WORLD);
}

uint64_t SumOverProcesses(uint64_t value) {
    if (!Joined) return value;
    uint64_t sum = 0;
    MPI_Allreduce(&value, &sum, 1, MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
    return sum;
}

bool AllProcesses(bool ok) { return SumOverProcesses(ok ? 0 : 1) == 0; }

ExchangeTotals DistributedExchangeTotals() { return TheExchange.totals; }

#else  // without MPI: every process is a run of one

DistributedRun JoinDistributedRun(int&, char**&) { return {}; }
void LeaveDistributedRun() {}
void AttachDistribution(Simulation&, const DistributedRun&) {}
void ShareRandomState(RandomGeneratorState&) {}
void GatherShares(Simulation&) {}
const ProcessChannel* DistributedProcessChannel() { return nullptr; }
uint64_t SumOverProcesses(uint64_t value) { return value; }
bool AllProcesses(bool ok) { return ok; }
ExchangeTotals DistributedExchangeTotals() { return {}; }

#endif
