// Spike report and network export as observers of the simulation.
#include "app/run_outputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "io/app_state.h"
#include "io/output_file.h"
#include "io/sonata.h"
#include "platform/log.h"
#include "vis/view_state.h"

namespace {

// The process's outputs, for the fatal hook: a plain function pointer called by
// the log on its way out, so it can reach them only through a global.
std::atomic<RunOutputs*> Installed{nullptr};

void CloseOnFatal() {
    RunOutputs* outputs = Installed.exchange(nullptr);
    if (!outputs) return;
    std::string error;
    outputs->recorder.Stop(error);  // what was recorded stays readable
}

// The `n`-th file of a series: the name given on the command line as it is, any
// other a free name claimed now. False (logged) when none can be made.
bool SeriesFile(const std::string& path, bool named, uint32_t n, std::string& out, std::string& error) {
    if (named && n <= 1) {
        out = path;
        return true;
    }
    return ClaimFreeName(path, out, error, named ? n : 1);
}

// The recorder's writer thread, when a write fails (a full disk): said at once,
// the recording ends; Stop reports what the file kept.
void RecordingFailed(void* context, const std::string& error) {
    RunOutputs& o = *static_cast<RunOutputs*>(context);
    LogMessage(LogError, 0, "Spike recording stopped: %s", error.c_str());
    plat::AtomicStore(o.state->recordingSpikes, uint8_t{0});
    o.failed.store(true);
    PostViewNotice("Spike recording stopped: the file cannot be written (see the log)", plat::TimeMs());
}

void StartReport(RunOutputs& o) {  // mutex held
    const bool named = !o.recordPath.empty();
    const std::string base =
        named ? o.recordPath
              : (std::filesystem::path(o.state->options.captureFolder) / "vellicor-spikes.h5").string();
    std::string path, error;
    o.recorder.SetFailureHandler(RecordingFailed, &o);
    if (SeriesFile(base, named, ++o.reports, path, error) && o.recorder.Start(path, error)) {
        o.recording = path;
        plat::AtomicStore(o.state->recordingSpikes, uint8_t{1});
        AnnounceFile("Recording spikes to", path);
    } else {
        LogMessage(LogError, 0, "Unable to record spikes: %s", error.c_str());
        o.failed.store(true);
    }
}

void StopReport(RunOutputs& o) {  // mutex held
    if (o.recording.empty()) return;
    std::string error;
    if (o.recorder.Stop(error)) {
        LogMessage(LogInfo, 0, "Recorded %llu spikes to \"%s\".",
                   static_cast<unsigned long long>(o.recorder.Recorded()), o.recording.c_str());
    } else {
        LogMessage(LogError, 0, "The spike report \"%s\" keeps only the %llu spikes written before: %s",
                   o.recording.c_str(), static_cast<unsigned long long>(o.recorder.Recorded()), error.c_str());
        o.failed.store(true);
    }
    plat::AtomicStore(o.state->recordingSpikes, uint8_t{0});
    o.recording.clear();
}

void Started(void* context, const Simulation& state) {
    RunOutputs& o = *static_cast<RunOutputs*>(context);
    std::lock_guard<std::mutex> lock(o.mutex);
    ++o.runs;
    if (o.sendExportParts && o.channel != nullptr) ExportPartsOnly(state, *o.channel);
    if (!o.exportPath.empty()) {
        std::string path, error;
        const bool named = SeriesFile(o.exportPath, true, o.runs, path, error);
        if (!named && o.channel != nullptr) ExportPartsOnly(state, *o.channel);  // the others send theirs
        if (named && ExportNetwork(state, path, error, o.channel)) {
            AnnounceFile("Network written to", path);
        } else {
            LogMessage(LogError, 0, "Unable to write the network: %s", error.c_str());
            o.failed.store(true);
        }
    }
    if (!o.recordPath.empty()) StartReport(o);
}

// Every step: a no-op (one atomic load) unless a report is open.
void Stepped(void* context, const Simulation& state, uint32_t step) {
    static_cast<RunOutputs*>(context)->recorder.OnStep(step, state.firedIds, state.firedCount);
}

void Stopped(void* context, const Simulation&) {
    RunOutputs& o = *static_cast<RunOutputs*>(context);
    std::lock_guard<std::mutex> lock(o.mutex);
    StopReport(o);
}

}  // namespace

RunOutputs::~RunOutputs() {
    RunOutputs* self = this;
    Installed.compare_exchange_strong(self, nullptr);
}

bool CheckOutputPath(const std::string& path, std::string& error, bool* exists) {
    OutputTarget target;
    if (!ResolveOutput(path, target, error)) return false;
    if (!target.regular) {
        error = path + ": is not a regular file (a FIFO, device or socket); an HDF5 file needs one";
        return false;
    }
    if (exists) *exists = target.exists;
    // Open it as the run will (an existing file is left as it is, a new one is
    // removed again): this is the only test that root's permissions cannot fool.
    const int fd = open(target.path.c_str(), target.exists ? O_WRONLY : O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    if (!target.exists) unlink(target.path.c_str());
    return true;
}

std::string OverlappingOutputs(const NamedFile* files, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        for (size_t j = i + 1; j < count; ++j) {
            const NamedFile &a = files[i], &b = files[j];
            if (a.path.empty() || b.path.empty() || !SameFile(a.path, b.path)) continue;
            const bool resumeAndCheckpoint = (std::strcmp(a.switchName, "resume=") == 0 &&
                                              std::strcmp(b.switchName, "checkpoint=") == 0) ||
                                             (std::strcmp(b.switchName, "resume=") == 0 &&
                                              std::strcmp(a.switchName, "checkpoint=") == 0);
            if (resumeAndCheckpoint) continue;
            return std::string(a.switchName) + " and " + b.switchName + " name one file, \"" + b.path +
                   "\": one would destroy the other; give each its own file";
        }
    }
    return "";
}

std::string FileNotice(const char* what, const std::string& path) {
    constexpr size_t kMaxChars = 100;  // the HUD's notice line
    std::error_code ignored;
    std::string shown = std::filesystem::absolute(path, ignored).lexically_normal().string();
    if (shown.empty()) shown = path;
    std::string text = std::string(what) + " ";
    if (text.size() + shown.size() > kMaxChars) {
        const size_t keep = kMaxChars > text.size() + 3 ? kMaxChars - text.size() - 3 : 0;
        shown = "..." + shown.substr(shown.size() - std::min(keep, shown.size()));
    }
    return text + shown;
}

void AnnounceFile(const char* what, const std::string& path) {
    LogMessage(LogInfo, 0, "%s \"%s\".", what, path.c_str());
    PostViewNotice(FileNotice(what, path).c_str(), plat::TimeMs());
}

bool InstallRunOutputs(AppState& state, RunOutputs& outputs) {
    outputs.state = &state;
    SimulationObserver observer;
    observer.context = &outputs;
    observer.started = Started;
    observer.stepped = Stepped;
    observer.stopped = Stopped;
    if (!state.AddObserver(observer)) return false;
    Installed.store(&outputs);
    return AddLogFatalHook(CloseOnFatal);
}

bool ToggleRecording(RunOutputs& outputs) {
    std::lock_guard<std::mutex> lock(outputs.mutex);
    if (!outputs.recording.empty()) {
        StopReport(outputs);
        return false;
    }
    StartReport(outputs);
    return !outputs.recording.empty();
}
