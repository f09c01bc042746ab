// Process-wide view values and the camera reset.
//
// Sections: flags, camera, window size, capture, HUD notice.
#include "vis/view_state.h"

#include <cmath>
#include <cstdio>
#include <mutex>

#include "io/app_state.h"

// Globals for the one window, shared by the main, task and render threads: see
// the header.

// ---- Flags ------------------------------------------------------------------------------------
std::atomic<bool> HelpShown{false};
std::atomic<bool> AnalysisShown{false};
std::atomic<bool> FullView{false};
std::atomic<bool> SynapticStrengthView{true};
std::atomic<bool> AutoRotate{false};
bool ColorBufferMode = false;
int32_t MsaaSamples = 4;
std::atomic<uint8_t> SelectedSlice{0};
bool WireframeMode = false;

// ---- Camera -----------------------------------------------------------------------------------
float CameraPitch = 30.0f;
float CameraYaw = 140.0f;
float AutoRotation = 0.0f;
float CameraX = 0.0f, CameraY = 0.0f, CameraDistance = 0.0f;
float TargetX = 0.0f, TargetY = 0.0f, TargetZ = 0.0f;
float Zoom = 0.0f;
float ZoomScale = 1.0f;

float CameraDistanceForGrid(uint32_t gridX, uint32_t gridY, uint32_t gridZ) {
    const double k = gridZ == gridY ? 4.75 : 6.0;
    const uint64_t denominator = static_cast<uint64_t>(gridX) * gridY;
    const uint64_t quotient =
        denominator == 0 ? 1 : static_cast<uint64_t>(gridZ) * gridY / denominator;
    const float q = static_cast<float>(quotient);
    // A zero quotient (a grid wider than deep) would divide by zero: treat it as 1.
    const double root = q > 0.0f ? std::sqrt(static_cast<double>(q)) : 1.0;
    return static_cast<float>(static_cast<double>(gridZ) * k / root);
}

float ZoomScaleForGrid(uint32_t gridZ) { return static_cast<float>(gridZ) * 5.0f / 160.0f; }

float MinimumViewDepth(float extentX, float extentY, float extentZ) {
    // The volume box's half-sides are extent + 1.
    const float x = extentX + 1.0f, y = extentY + 1.0f, z = extentZ + 1.0f;
    return std::sqrt(x * x + y * y + z * z) + 1.0f;
}

float LimitDepthChange(float depth, float change, float minDepth) {
    if (change >= 0.0f || depth + change >= minDepth) return change;
    return depth > minDepth ? minDepth - depth : 0.0f;
}

void ResetCamera(AppState& state) {
    CameraPitch = 30.0f;
    CameraYaw = 140.0f;
    AutoRotation = 0.0f;
    Zoom = 0.0f;
    CameraX = CameraY = 0.0f;
    TargetX = TargetY = TargetZ = 0.0f;
    ZoomScale = ZoomScaleForGrid(state.params.gridZ);
    CameraDistance = CameraDistanceForGrid(state.params.gridX, state.params.gridY, state.params.gridZ);
    TraceLayoutDirty.store(true);
    ViewportDirty.store(true);
    MarkSceneDirty();
}

// ---- Window size ------------------------------------------------------------------------------
std::atomic<int32_t> WindowWidth{1024};
std::atomic<int32_t> WindowHeight{768};
std::atomic<bool> ViewportDirty{true};

std::atomic<bool> SceneOrderDirty{false};
std::atomic<bool> TraceLayoutDirty{false};

void MarkSceneDirty() { SceneOrderDirty.store(true); }

// ---- Capture ----------------------------------------------------------------------------------
std::atomic<void*> CaptureContextPtr{nullptr};
FrameCaptureGate CaptureGate;

SimulationObserver FrameCaptureGate::Observer() {
    SimulationObserver o;
    o.context = this;
    o.stepped = [](void* context, const Simulation&, uint32_t) {
        auto& gate = *static_cast<FrameCaptureGate*>(context);
        if (gate.on.load(std::memory_order_acquire) == 0) return;
        // Exactly one step per captured frame.
        gate.waiting.store(1);
        gate.frameDone.Wait();
        gate.waiting.store(0);
    };
    o.waiting = [](void* context) { return static_cast<FrameCaptureGate*>(context)->waiting.load() != 0; };
    o.release = [](void* context) {
        auto& gate = *static_cast<FrameCaptureGate*>(context);
        if (gate.waiting.load() != 0) gate.frameDone.Set();
    };
    return o;
}

// ---- HUD notice ---------------------------------------------------------------------------------
namespace {
// One notice for the one window: posted by any thread, read by the render thread.
std::mutex NoticeLock;
char NoticeText[160] = "";
uint32_t NoticeTime = 0;
}  // namespace

void PostViewNotice(const char* text, uint32_t nowMs) {
    std::lock_guard<std::mutex> lock(NoticeLock);
    std::snprintf(NoticeText, sizeof NoticeText, "%s", text ? text : "");
    NoticeTime = nowMs;
}

bool ViewNoticeAt(uint32_t nowMs, char* text, size_t size) {
    std::lock_guard<std::mutex> lock(NoticeLock);
    const bool shown = NoticeText[0] != '\0' && nowMs - NoticeTime < kViewNoticeMs;
    if (size > 0) std::snprintf(text, size, "%s", shown ? NoticeText : "");
    return shown;
}
