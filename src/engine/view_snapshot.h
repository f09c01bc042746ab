// The values the visualization draws, copied out of the running network between
// steps.
//
// The workers write neuron fields and the analysis buffers plainly while a step
// runs, so the render thread never reads those from the network then. It asks for
// a copy (RequestViewFrame). The last worker at the end of a step, while the others
// wait at the barrier, starts one in the frame that is neither being read nor
// published (BeginViewFrame: the step, the inspected neuron, the analysis); during
// the next integration phase, which reads v and vEnvelopeView but writes neither,
// each worker copies those of the chunks it integrates (CopyViewRange); the last
// thread at that phase's barrier publishes the frame (PublishViewFrame). The reader
// takes the newest published frame (AcquireViewFrame). Three frames exchanged
// through one atomic word: neither side waits for the other, and a frame being
// read is never written.
//
// While the workers are parked (paused) they write nothing: then, and only with
// StateLock held (resuming takes it), the render thread fills a frame itself
// (ParkedViewFrame in engine/work_manager.h).
//
// The inspector's traces need every step, not one sample per drawn frame: at the
// end of every step the last worker appends the inspected neuron's v, u and four
// conductances to a ring (RecordViewTrace), and each frame carries a copy of the
// newest samples, so a trace shows simulated time however fast frames are drawn.
//
// Everything is allocated when the workers are launched; copying allocates nothing.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/activity.h"
#include "engine/network.h"

struct Simulation;

inline constexpr uint32_t kNoViewNeuron = 0xFFFFFFFFu;

// One step of the inspected neuron: v, u, gAmpa, gNmda, gGabaA, gGabaB.
inline constexpr int kTraceQuantities = 6;
struct TraceSample {
    float q[kTraceQuantities];
};
// Steps the trace ring keeps: 1.024 s at 0.5 ms per step.
inline constexpr uint32_t kTraceCapacity = 2048;

// One incoming synapse of the inspected neuron, in the order of its `incoming` list.
struct ViewIncoming {
    uint32_t pre;             // the pre-synaptic neuron
    float preV;               // its v
    uint32_t preDelayIndex;   // its delay-line head
    uint32_t filteredOffset;  // its delayFiltered copy within ViewFrame::filtered
    float weight;
};

struct ViewFrame {
    uint32_t step;    // stepCounter when copied
    float* v;         // [neuronCount]
    float* envelope;  // [neuronCount] vEnvelopeView
    // The inspected neuron (kNoViewNeuron: none). `record` is a copy of its record:
    // v, u, conductances, spike count and time as copied; delayFiltered points to
    // its own line's copy (the first delayLength floats of `filtered`); delayV, the
    // lane pointers and the synapse lists are null: `incoming` and `outgoing` hold
    // what a view draws of them.
    uint32_t inspected;
    Neuron record;
    ViewIncoming* incoming;  // [record.incomingCount]
    uint32_t* outgoing;      // [record.outgoingCount] the post-synaptic neurons
    float* filtered;         // the neuron's delay line, then each pre-synaptic one's
    // The inspected neuron's newest traceCount steps, oldest first; the last one is
    // the state `record` holds. 0 while none were recorded for it.
    TraceSample* trace;  // [kTraceCapacity]
    uint32_t traceCount;
    // History, spectrum and weight histogram; SpikeHistory and power point into this
    // frame (spectrum and fftConfig are null).
    ActivityAnalysis analysis;
};

struct ViewSnapshot {
    uint32_t neuronCount;
    uint32_t incomingCapacity;  // the largest incoming list
    uint32_t outgoingCapacity;  // the largest outgoing list
    uint32_t filteredCapacity;  // the largest own + pre-synaptic delay lines together
    ViewFrame frames[3];
    std::atomic<uint32_t> latest{0};  // the newest published frame, | kFreshFrame when unread
    uint32_t writing = 1;             // the frame the next fill writes (writer side)
    uint32_t reading = 0;             // the frame the reader holds (reader side)
    std::atomic<uint32_t> requested{0};            // 1: the reader wants a fresh frame
    std::atomic<uint32_t> inspected{kNoViewNeuron};  // whose details it wants
    std::atomic<uint32_t> traceWanted{kTraceCapacity};  // samples a frame copies at most
    std::atomic<uint32_t> traceReset{0};             // 1: start the ring afresh
    // Trace ring (writer side): the samples of traceNeuron, traceHead the next slot.
    TraceSample* traceRing = nullptr;  // [kTraceCapacity]
    uint32_t traceNeuron = kNoViewNeuron;
    uint32_t traceHead = 0;
    uint32_t traceCount = 0;
};

// Allocates the three frames for state's network and fills the reader's from it
// (call before the workers start). Null when memory is missing.
ViewSnapshot* CreateViewSnapshot(const Simulation& state);
void ReleaseViewSnapshot(ViewSnapshot* snapshot);

// Reader (render thread): asks for a frame with the details of `inspected`
// (kNoViewNeuron: none), and takes the newest published frame (the one taken
// before when nothing newer was published).
void RequestViewFrame(ViewSnapshot& snapshot, uint32_t inspected);
const ViewFrame& AcquireViewFrame(ViewSnapshot& snapshot);

// Reader: how many of the newest trace samples a frame should carry (at most
// kTraceCapacity), and a request to drop the samples recorded so far.
void SetViewTraceLength(ViewSnapshot& snapshot, uint32_t samples);
void ResetViewTrace(ViewSnapshot& snapshot);

// Writer, at the end of every step with the network at rest (one thread): appends
// the state of the inspected neuron the reader last asked for to the trace ring; a
// different neuron, or a reset request, empties the ring first. One neuron's six
// values and two atomic loads.
void RecordViewTrace(const Simulation& state, ViewSnapshot& snapshot);

// Writer side, the frame of one request: BeginViewFrame (one thread, network at
// rest) fills all but v and vEnvelopeView and returns the frame, or null when
// nothing was requested (one atomic load); CopyViewRange copies those two for
// neurons [first, end) (any threads, disjoint ranges, nobody writing them); then
// PublishViewFrame (one thread, after all copies).
ViewFrame* BeginViewFrame(const Simulation& state, ViewSnapshot& snapshot);
void CopyViewRange(const Simulation& state, ViewFrame& frame, uint32_t first, uint32_t end);
void PublishViewFrame(ViewSnapshot& snapshot);
// All three at once for `inspected`, on the calling thread, whether requested or not.
void FillViewFrame(const Simulation& state, ViewSnapshot& snapshot, uint32_t inspected);
