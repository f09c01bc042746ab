// Multisample negotiation for the visualization window, as a plain policy over a
// window factory so that it can be tested with a fake one.
//
// Sections: extension word search, factory, negotiation.
#pragma once

#include <cstdint>

// Whole-word search in a space-separated extension list: a match counts only at
// the start or after a space, followed by the end or a space.
bool HasExtensionWord(const char* list, const char* name);

// What the negotiation needs from the display.
struct MsaaWindowFactory {
    void* context;
    // Space-separated extension string of the display; null when there is none.
    const char* (*extensions)(void* context);
    // Whether a double-buffered RGBA window format with at least `samples` exists.
    bool (*offers)(void* context, int32_t samples);
    // Creates the window asking for `samples` (0 = single-sampled); returns the
    // samples actually obtained, or -1 when no window could be created.
    int32_t (*create)(void* context, int32_t samples);
};

// One log line of the negotiation (level as LogMessage takes it).
struct MsaaLogSink {
    void* context;
    void (*line)(void* context, uint8_t level, const char* text);
};

struct MsaaOutcome {
    bool windowCreated;
    int32_t requested;  // the sample count the window was created with (0 = none)
    int32_t obtained;   // what the window reports
};

// The extension check, the requested count, then 2, then none; every message in
// its order. The "Enabled MSAA %dx antialiasing." line names the samples obtained.
// When a multisampled window cannot be created, a single-sampled one is tried.
MsaaOutcome NegotiateMultisample(int32_t requestedSamples, const MsaaWindowFactory& factory,
                                 const MsaaLogSink& sink, const char* extensionName);
