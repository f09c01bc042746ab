// Distributed runs over MPI: one network stepped by several processes that
// mpirun started, each on its share of the neurons (engine/simulation.h, section 3).
//
// Sections:
//   1. Joining and leaving the run
//   2. What the processes share
//
// Without MPI at build time (VELLICOR_MPI off) every process is a run of its own.
#pragma once

#include <cstdint>

#include "engine/random.h"

struct Simulation;
struct ProcessChannel;

// ---- 1. Joining and leaving ------------------------------------------------------------------
struct DistributedRun {
    uint32_t rank = 0;
    uint32_t ranks = 1;
    uint32_t ranksHere = 1;  // the processes of the run on this machine (sharing its cores)
};
// Joins the run when mpirun (or another MPI launcher) started this process
// (MPI_Init); otherwise, and without MPI, a run of one.
DistributedRun JoinDistributedRun(int& argc, char**& argv);
// MPI_Finalize, when joined.
void LeaveDistributedRun();

// ---- 2. Shared state ----------------------------------------------------------------------------
// Sets sim.distribution: this process's share, the step exchange (MPI_Allgather of
// counts, MPI_Allgatherv of spike and due ids) and the agreement after the build.
// A failed collective ends every process (MPI's default error handler).
void AttachDistribution(Simulation& sim, const DistributedRun& run);
// Copies every other process's per-neuron state (VisitShareState) into rank 0's
// network and sums the weight histograms there, before a checkpoint. On every
// process, its workers parked.
void GatherShares(Simulation& sim);
// How the processes make one file together (io/process_channel.h): MPI_Send and
// MPI_Recv of the parts, MPI_Allreduce, MPI_Bcast. Null outside a distributed run.
const ProcessChannel* DistributedProcessChannel();
// Rank 0's generator state on every process (the network must be the same bits).
void ShareRandomState(RandomGeneratorState& random);
// The sum of `value` over all processes, on every process.
uint64_t SumOverProcesses(uint64_t value);
// Whether `ok` holds on every process.
bool AllProcesses(bool ok);
// This process's exchanges so far: steps, wall time inside them (waiting for the
// others included) and the bytes every process received, per step on average.
struct ExchangeTotals {
    uint64_t steps = 0;
    double seconds = 0;
    uint64_t bytes = 0;
};
ExchangeTotals DistributedExchangeTotals();
