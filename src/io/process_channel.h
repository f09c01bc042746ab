// How the processes of a distributed run make one file together: process 0 writes
// it while the others send their parts, in the order it takes them (a checkpoint,
// the network export). The program fills it over MPI (app/distributed.h); io knows
// no transport. The callbacks return only when done; process 0 takes every part
// even when its file cannot be written, so that no sender is left waiting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct ProcessChannel {
    uint32_t rank = 0, ranks = 1;
    void* context = nullptr;
    void (*send)(void* context, const void* data, size_t bytes) = nullptr;                // to process 0
    void (*receive)(void* context, uint32_t from, std::vector<char>& bytes) = nullptr;  // process 0: the next part
    void (*sum)(void* context, uint64_t* values, size_t count) = nullptr;  // every process's, summed, on every process
    void (*broadcast)(void* context, uint64_t& value) = nullptr;           // process 0's, on every process
};
