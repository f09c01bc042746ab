// Spike report and network export as observers of the simulation.
#include "app/run_outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/app_state.h"
#include "io/sonata.h"
#include "platform/log.h"

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

// The next spike report: the record= name, or vellicor-spikes.h5 in the capture
// folder, numbered from the second report of the process on.
std::string NextReportPath(RunOutputs& o) {
    std::string path = o.recordPath;
    if (path.empty())
        path = (std::filesystem::path(o.state->options.captureFolder) / "vellicor-spikes.h5").string();
    return RunFileName(path, ++o.reports);
}

void StartReport(RunOutputs& o) {  // mutex held
    const std::string path = NextReportPath(o);
    std::string error;
    if (o.recorder.Start(path, error)) {
        o.recording = path;
        plat::AtomicStore(o.state->recordingSpikes, uint8_t{1});
        LogMessage(LogInfo, 0, "Recording spikes to \"%s\".", path.c_str());
    } else {
        LogMessage(LogError, 0, "Unable to record spikes: %s", error.c_str());
        o.failed = true;
    }
}

void StopReport(RunOutputs& o) {  // mutex held
    if (o.recording.empty()) return;
    std::string error;
    if (o.recorder.Stop(error)) {
        LogMessage(LogInfo, 0, "Recorded %llu spikes to \"%s\".",
                   static_cast<unsigned long long>(o.recorder.Recorded()), o.recording.c_str());
    } else {
        LogMessage(LogError, 0, "The spike report is incomplete: %s", error.c_str());
        o.failed = true;
    }
    plat::AtomicStore(o.state->recordingSpikes, uint8_t{0});
    o.recording.clear();
}

void Started(void* context, const Simulation& state) {
    RunOutputs& o = *static_cast<RunOutputs*>(context);
    std::lock_guard<std::mutex> lock(o.mutex);
    ++o.runs;
    if (!o.exportPath.empty()) {
        const std::string path = RunFileName(o.exportPath, o.runs);
        std::string error;
        if (ExportNetwork(state, path, error)) {
            LogMessage(LogInfo, 0, "Network written to \"%s\".", path.c_str());
        } else {
            LogMessage(LogError, 0, "Unable to write the network: %s", error.c_str());
            o.failed = true;
        }
    }
    if (!o.recordPath.empty()) StartReport(o);
}

// Every step: a no-op (one atomic load) unless a report is open.
void Stepped(void* context, const Simulation& state, uint32_t step) {
    static_cast<RunOutputs*>(context)->recorder.OnStep(step, state.spiked, state.neuronCount);
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

std::string RunFileName(const std::string& path, uint32_t run) {
    if (run <= 1) return path;
    const std::filesystem::path p(path);
    std::filesystem::path name = p.stem();
    name += "-" + std::to_string(run);
    name += p.extension();
    return (p.parent_path() / name).string();
}

bool CheckOutputPath(const std::string& path, std::string& error) {
    struct stat info {};
    if (path.empty()) {
        error = "no file name given";
        return false;
    }
    const bool exists = stat(path.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        error = path + ": is a folder, not a file";
        return false;
    }
    // Open it as the run will (an existing file is left as it is, a new one is
    // removed again): this is the only test that root's permissions cannot fool.
    const int fd = open(path.c_str(), exists ? O_WRONLY : O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    if (!exists) unlink(path.c_str());
    return true;
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
