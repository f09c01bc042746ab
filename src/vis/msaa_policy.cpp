// Multisample negotiation policy.
//
// Sections: extension word search, negotiation.
#include "vis/msaa_policy.h"

#include <cstdio>
#include <cstring>

#include "platform/log.h"

// ---- Extension word search --------------------------------------------------------------------
bool HasExtensionWord(const char* list, const char* name) {
    if (!list || !name || !*name) return false;
    const size_t n = std::strlen(name);
    for (const char* p = std::strstr(list, name); p; p = std::strstr(p + 1, name)) {
        const bool startOk = p == list || p[-1] == ' ';
        const bool endOk = p[n] == 0 || p[n] == ' ';
        if (startOk && endOk) return true;
    }
    return false;
}

// ---- Negotiation ------------------------------------------------------------------------------------
namespace {

void Say(const MsaaLogSink& sink, uint8_t level, const char* text) {
    if (sink.line) sink.line(sink.context, level, text);
}

MsaaOutcome Create(const MsaaWindowFactory& factory, const MsaaLogSink& sink, int32_t samples) {
    MsaaOutcome out{false, samples, -1};
    out.obtained = factory.create(factory.context, samples);
    if (out.obtained < 0 && samples > 0) {
        // The display promised the format but the window failed: go single-sampled.
        Say(sink, LogWarning, "Multisampled window could not be created, using legacy smoothing.");
        out.requested = 0;
        out.obtained = factory.create(factory.context, 0);
    }
    out.windowCreated = out.obtained >= 0;
    return out;
}

}  // namespace

MsaaOutcome NegotiateMultisample(int32_t requestedSamples, const MsaaWindowFactory& factory,
                                 const MsaaLogSink& sink, const char* extensionName) {
    const char* list = factory.extensions ? factory.extensions(factory.context) : nullptr;
    if (!list || !HasExtensionWord(list, extensionName)) {
        Say(sink, LogInfo, "OpenGL reports that multisample antialiasing is unavailable.");
        Say(sink, LogInfo, "Reverting to legacy GL_SMOOTH smoothing for lines/polygons.");
        return Create(factory, sink, 0);
    }
    if (requestedSamples > 0 && factory.offers(factory.context, requestedSamples)) {
        Say(sink, LogInfo, "OpenGL reports MSAA antialiasing as supported.");
        MsaaOutcome out = Create(factory, sink, requestedSamples);
        if (out.requested > 0) {
            char text[64];
            std::snprintf(text, sizeof text, "Enabled MSAA %dx antialiasing.", out.obtained);
            Say(sink, LogInfo, text);
        }
        return out;
    }
    if (factory.offers(factory.context, 2)) {
        Say(sink, LogWarning, "MSAA 4x request failed, enabled MSAA 2x.");
        return Create(factory, sink, 2);
    }
    Say(sink, LogWarning, "Trying MSAA 2x antialiasing failed!");
    Say(sink, LogWarning, "Forcing legacy smoothing mode (GL_SMOOTH)");
    return Create(factory, sink, 0);
}
