// Parameter files in TOML.
//
// Sections:
//   1. The keys of the pages that are not neuron parameters
//   2. Writing: exact numbers, the file's text, saving
//   3. Reading: one value, one table, the file
#include "io/param_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <toml++/toml.h>

#include "io/output_file.h"

namespace {

// ---- 1. Keys of the pages that are not neuron parameters -------------------------------------

struct OptionFlag {
    const char* name;
    uint8_t AppOptions::*field;
};
constexpr OptionFlag kVisualizationFlags[] = {
    {"reducedVisualization", &AppOptions::reducedVisualization},
    {"renderHighPriority", &AppOptions::renderHighPriority},
    {"limitFps", &AppOptions::limitFps},
    {"waitVsync", &AppOptions::waitVsync},
};

struct ParamFlag {
    const char* name;
    uint8_t SimParams::*field;
};
constexpr ParamFlag kSimulationFlags[] = {
    {"autoManageThreads", &SimParams::autoManageThreads},
    {"idlePriority", &SimParams::idlePriority},
    {"reentrantLoops", &SimParams::reentrantLoops},
};

// SimParams::engineMode as the files name it, by EngineMode.
constexpr const char* kEngineNames[] = {"exact", "event"};
// SimParams::geometryKind as the files name it (shape = ...), by GeometryKind.
constexpr const char* kShapeNames[] = {"box", "sphere"};

constexpr uint32_t kMaxFileBytes = 1u << 20;

// ---- 2. Writing -------------------------------------------------------------------------------

// The shortest decimal text that reads back as the same float (read as a double,
// then rounded to float, as the loader does), always with a '.' or an exponent so
// that TOML reads a float.
std::string ExactFloat(float value) {
    char text[64];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (static_cast<float>(std::strtod(text, nullptr)) == value) break;
    }
    std::string out(text);
    if (out.find_first_of(".eEn") == std::string::npos) out += ".0";
    return out;
}

// A percentage: the whole number the page would show when it gives the same float,
// else the exact product.
std::string ExactPercentage(float fraction) {
    const long whole = std::lround(static_cast<double>(fraction) * 100.0);
    if (whole >= 0 && static_cast<float>(whole) / 100.0f == fraction) return std::to_string(whole);
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", static_cast<double>(fraction) * 100.0);
    return text;
}

// A TOML basic string.
std::string Quoted(const char* text) {
    std::string out = "\"";
    for (const char* c = text; *c; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        if (u == '"' || u == '\\') {
            out += '\\';
            out += *c;
        } else if (u < 0x20 || u == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += *c;
        }
    }
    return out + "\"";
}

const char* Bool(uint8_t flag) { return flag ? "true" : "false"; }

// The parser descends once per level of a dotted key or a table header, on the
// stack: keys deeper than any parameter file needs are refused before parsing.
// Counts the dots outside quotes before a line's '=' (or in its [header]).
constexpr int kMaxKeyDepth = 32;

std::string TooDeep(std::string_view text, const std::string& name) {
    size_t line = 1;
    for (size_t start = 0; start < text.size(); ++line) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        int dots = 0;
        char quote = 0;
        for (size_t i = start; i < end; ++i) {
            const char c = text[i];
            if (quote) {
                if (c == quote) quote = 0;
                else if (c == '\\' && quote == '"') ++i;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '=' || c == '#') {
                break;
            } else if (c == '.' && ++dots > kMaxKeyDepth) {
                return name + ":" + std::to_string(line) + ": a key nested deeper than " +
                       std::to_string(kMaxKeyDepth) + " levels";
            }
        }
        start = end + 1;
    }
    return "";
}

ParamFileStatus Failure(std::string message) {
    ParamFileStatus status;
    status.ok = false;
    status.error = std::move(message);
    return status;
}

// ---- 3. Reading ---------------------------------------------------------------------------------

struct Reader {
    const std::string& name;
    ParamFileStatus status;

    std::string Where(const toml::node& node) const {
        return name + ":" + std::to_string(node.source().begin.line);
    }
    bool Fail(const toml::node& node, const std::string& key, const std::string& what) {
        status.ok = false;
        status.error = Where(node) + ": " + key + ": " + what;
        return false;
    }
    void Warn(const toml::node& node, const std::string& key, const std::string& what) {
        status.warnings.push_back(Where(node) + ": " + key + ": " + what);
    }

    bool Flag(const toml::node& node, const std::string& key, uint8_t& field) {
        const auto* value = node.as_boolean();
        if (!value) return Fail(node, key, "expected true or false");
        field = value->get() ? 1 : 0;
        return true;
    }

    bool Integer(const toml::node& node, const std::string& key, int64_t min, int64_t max, int64_t& out) {
        const auto* value = node.as_integer();
        if (!value) return Fail(node, key, "expected a whole number");
        out = value->get();
        if (out < min || out > max) {
            const int64_t clamped = out < min ? min : max;
            Warn(node, key,
                 std::to_string(out) + " is outside " + std::to_string(min) + ".." + std::to_string(max) +
                     "; using " + std::to_string(clamped));
            out = clamped;
        }
        return true;
    }

    // A number (float or whole) as a double; NaN is refused.
    bool Number(const toml::node& node, const std::string& key, double& out) {
        if (const auto* f = node.as_floating_point()) {
            out = f->get();
        } else if (const auto* i = node.as_integer()) {
            out = static_cast<double>(i->get());
        } else {
            return Fail(node, key, "expected a number");
        }
        if (std::isnan(out)) return Fail(node, key, "expected a number, not nan");
        return true;
    }

    // A float field, rounded to float and clamped in float as the Neurons page does.
    bool Float(const toml::node& node, const std::string& key, const ParamField& f, float& field) {
        double number = 0.0;
        if (!Number(node, key, number)) return false;
        const float lo = static_cast<float>(f.min), hi = static_cast<float>(f.max);
        float value = static_cast<float>(number);
        if (value < lo || value > hi) {
            const float clamped = value < lo ? lo : hi;
            Warn(node, key, ExactFloat(value) + " is outside " + ExactFloat(lo) + ".." + ExactFloat(hi) +
                                "; using " + ExactFloat(clamped));
            value = clamped;
        }
        field = value;
        return true;
    }

    bool Percentage(const toml::node& node, const std::string& key, const ParamField& f, float& field) {
        if (node.is_integer()) {  // a whole percentage is stored as the page stores it
            int64_t whole = 0;
            if (!Integer(node, key, static_cast<int64_t>(f.min), static_cast<int64_t>(f.max), whole))
                return false;
            field = static_cast<float>(whole) / 100.0f;
            return true;
        }
        double percent = 0.0;
        if (!Number(node, key, percent)) return false;
        if (percent < f.min || percent > f.max) {
            const double clamped = percent < f.min ? f.min : f.max;
            Warn(node, key, "outside " + std::to_string(static_cast<int>(f.min)) + ".." +
                                std::to_string(static_cast<int>(f.max)) + " percent; using " +
                                std::to_string(static_cast<int>(clamped)));
            percent = clamped;
        }
        field = static_cast<float>(percent / 100.0);
        return true;
    }

    bool Simulation(const toml::table& table, SimParams& p, AppOptions& o) {
        // The preset first: it sets the shape, and the other keys may refine it.
        if (const toml::node* node = table.get("preset")) {
            int64_t preset = 0;
            const auto* value = node->as_integer();
            if (!value) return Fail(*node, "preset", "expected a whole number");
            preset = value->get();
            if (preset < 0 || preset >= kPresetCount)
                return Fail(*node, "preset",
                            std::to_string(preset) + " is not a network shape (0.." +
                                std::to_string(kPresetCount - 1) + ")");
            ApplyPreset(p, static_cast<int>(preset));
            o.reducedVisualization = static_cast<uint8_t>(GeometryPresets[preset].reducedVisualization ? 1 : 0);
        }
        if (!Shape(table, p)) return false;
        for (const auto& [k, node] : table) {
            const std::string key(k.str());
            if (key == "preset" || key == "shape" || key == "grid") continue;
            if (key == "workerThreads") {
                int64_t typed = 0;
                if (!Integer(node, key, 1, kMaxWorkerThreads, typed)) return false;
                const uint32_t rounded = RoundWorkerThreads(typed);
                if (rounded != typed)
                    Warn(node, key,
                         std::to_string(typed) + " is not a power of two; using " + std::to_string(rounded));
                p.workerThreads = rounded;
                continue;
            }
            if (key == "engine") {
                const auto* value = node.as_string();
                if (!value) return Fail(node, key, "expected \"exact\" or \"event\"");
                const std::string& name = value->get();
                if (name == kEngineNames[EngineExact])
                    p.engineMode = EngineExact;
                else if (name == kEngineNames[EngineEvent])
                    p.engineMode = EngineEvent;
                else
                    return Fail(node, key, Quoted(name.c_str()) + " is not an engine (\"exact\" or \"event\")");
                continue;
            }
            bool known = false;
            for (const ParamFlag& flag : kSimulationFlags) {
                if (key != flag.name) continue;
                if (!Flag(node, key, p.*flag.field)) return false;
                known = true;
            }
            if (!known) return Fail(node, "[simulation] " + key, "unknown key");
        }
        return true;
    }

    // shape = "box" | "sphere" and grid = [x, y, z], after the preset: a shape that
    // is no preset. Either key alone keeps the other's current value; the result is
    // checked by SetNetworkShape and refused (not clamped) beyond its limits.
    bool Shape(const toml::table& table, SimParams& p) {
        const toml::node* shapeNode = table.get("shape");
        const toml::node* gridNode = table.get("grid");
        if (!shapeNode && !gridNode) return true;
        int32_t kind = p.geometryKind;
        if (shapeNode) {
            const auto* value = shapeNode->as_string();
            if (!value) return Fail(*shapeNode, "shape", "expected \"box\" or \"sphere\"");
            const std::string& name = value->get();
            if (name == kShapeNames[GeometryBox])
                kind = GeometryBox;
            else if (name == kShapeNames[GeometrySphere])
                kind = GeometrySphere;
            else
                return Fail(*shapeNode, "shape", Quoted(name.c_str()) + " is not a shape (\"box\" or \"sphere\")");
        }
        uint32_t grid[3] = {p.gridX, p.gridY, p.gridZ};
        if (gridNode) {
            const auto* array = gridNode->as_array();
            const char* expected = "expected three whole numbers, as [x, y, z]";
            if (!array || array->size() != 3) return Fail(*gridNode, "grid", expected);
            const char* axes[] = {"gridX", "gridY", "gridZ"};
            const uint32_t edge = kind == GeometrySphere ? kMaxSphereGrid : kMaxNetworkNeurons;
            for (size_t a = 0; a < 3; ++a) {
                const auto* value = (*array)[a].as_integer();
                if (!value) return Fail(*gridNode, "grid", expected);
                const int64_t v = value->get();
                if (v < 1 || v > edge)  // also what does not fit 32 bits
                    return Fail(*gridNode, "grid",
                                std::string(axes[a]) + " = " + std::to_string(v) + ": must be 1.." + std::to_string(edge));
                grid[a] = static_cast<uint32_t>(v);
            }
        }
        const std::string error = SetNetworkShape(p, kind, grid[0], grid[1], grid[2]);
        if (!error.empty()) return Fail(gridNode ? *gridNode : *shapeNode, gridNode ? "grid" : "shape", error);
        return true;
    }

    bool Neurons(const toml::table& table, SimParams& p) {
        char* base = reinterpret_cast<char*>(&p);
        for (const auto& [k, node] : table) {
            const std::string key(k.str());
            const ParamField* field = nullptr;
            for (const ParamField& f : NeuronParamFields)
                if (key == f.name) field = &f;
            if (!field) return Fail(node, "[neurons] " + key, "unknown key");
            void* target = base + field->offset;
            bool ok = true;
            switch (field->kind) {
                case ParamKindInteger: {
                    int64_t value = 0;
                    ok = Integer(node, key, static_cast<int64_t>(field->min), static_cast<int64_t>(field->max), value);
                    if (ok) *static_cast<uint32_t*>(target) = static_cast<uint32_t>(value);
                    break;
                }
                case ParamKindFloat: ok = Float(node, key, *field, *static_cast<float*>(target)); break;
                case ParamKindPercentage: ok = Percentage(node, key, *field, *static_cast<float*>(target)); break;
                default: ok = Flag(node, key, *static_cast<uint8_t*>(target)); break;
            }
            if (!ok) return false;
        }
        return true;
    }

    bool Visualization(const toml::table& table, AppOptions& o) {
        for (const auto& [k, node] : table) {
            const std::string key(k.str());
            bool known = false;
            for (const OptionFlag& flag : kVisualizationFlags) {
                if (key != flag.name) continue;
                if (!Flag(node, key, o.*flag.field)) return false;
                known = true;
            }
            if (!known) return Fail(node, "[visualization] " + key, "unknown key");
        }
        return true;
    }

    bool Capture(const toml::table& table, AppOptions& o) {
        for (const auto& [k, node] : table) {
            const std::string key(k.str());
            if (key == "captureQuality") {
                int64_t quality = 0;
                if (!Integer(node, key, 0, 100, quality)) return false;
                o.captureQuality = static_cast<uint32_t>(quality);
            } else if (key == "captureFolder") {
                const auto* value = node.as_string();
                if (!value) return Fail(node, key, "expected a folder name in quotes");
                const std::string& folder = value->get();
                if (folder.empty()) return Fail(node, key, "the folder name is empty");
                if (folder.size() >= sizeof o.captureFolder || folder.find('\0') != std::string::npos)
                    return Fail(node, key, "the folder name is too long");
                std::memcpy(o.captureFolder, folder.c_str(), folder.size() + 1);
            } else {
                return Fail(node, "[capture] " + key, "unknown key");
            }
        }
        return true;
    }
};

}  // namespace

std::string ParamOutsideLimits(const SimParams& p) {
    const char* base = reinterpret_cast<const char*>(&p);
    for (const ParamField& f : NeuronParamFields) {
        const void* field = base + f.offset;
        const std::string key(f.name);
        switch (f.kind) {
            case ParamKindInteger: {
                const uint32_t value = *static_cast<const uint32_t*>(field);
                if (value < f.min || value > f.max)
                    return key + ": " + std::to_string(value) + " is outside " +
                           std::to_string(static_cast<int64_t>(f.min)) + ".." +
                           std::to_string(static_cast<int64_t>(f.max));
                break;
            }
            case ParamKindFloat: {
                const float value = *static_cast<const float*>(field);
                const float lo = static_cast<float>(f.min), hi = static_cast<float>(f.max);
                if (!(value >= lo && value <= hi))
                    return key + ": " + ExactFloat(value) + " is outside " + ExactFloat(lo) + ".." + ExactFloat(hi);
                break;
            }
            case ParamKindPercentage: {
                const double percent = static_cast<double>(*static_cast<const float*>(field)) * 100.0;
                // The stored fraction of a whole percentage may round a hair past a limit.
                if (!(percent >= f.min - 1e-4 && percent <= f.max + 1e-4))
                    return key + ": " + ExactPercentage(*static_cast<const float*>(field)) + " percent is outside " +
                           std::to_string(static_cast<int>(f.min)) + ".." + std::to_string(static_cast<int>(f.max));
                break;
            }
            default: {
                const uint8_t value = *static_cast<const uint8_t*>(field);
                if (value > 1) return key + ": " + std::to_string(value) + " is not true or false";
                break;
            }
        }
    }
    return "";
}

std::string FormatParamFile(const SimParams& p, const AppOptions& o, const char* writer) {
    std::ostringstream out;
    out << "# Vellicor parameter file, written by " << writer << ".\n"
        << "# One table per page of the configuration sheet; a key left out keeps its value.\n\n";
    out << "[simulation]\n";
    const int preset = FindPreset(p);
    if (preset >= 0) {
        out << "preset = " << preset << "  # " << GeometryPresets[preset].label << "\n";
    } else {
        out << "shape = " << Quoted(kShapeNames[p.geometryKind == GeometrySphere ? GeometrySphere : GeometryBox])
            << "  # box or sphere\n"
            << "grid = [" << p.gridX << ", " << p.gridY << ", " << p.gridZ << "]  # " << NetworkShapeCaption(p)
            << "\n";
    }
    out << "autoManageThreads = " << Bool(p.autoManageThreads) << "\n"
        << "workerThreads = " << p.workerThreads << "\n"
        << "idlePriority = " << Bool(p.idlePriority) << "\n"
        << "reentrantLoops = " << Bool(p.reentrantLoops) << "\n"
        << "engine = " << Quoted(kEngineNames[p.engineMode == EngineEvent ? EngineEvent : EngineExact])
        << "  # exact or event\n\n";
    out << "[neurons]\n";
    const char* base = reinterpret_cast<const char*>(&p);
    for (const ParamField& f : NeuronParamFields) {
        const void* field = base + f.offset;
        out << f.name << " = ";
        switch (f.kind) {
            case ParamKindInteger: out << *static_cast<const uint32_t*>(field); break;
            case ParamKindFloat: out << ExactFloat(*static_cast<const float*>(field)); break;
            case ParamKindPercentage:
                out << ExactPercentage(*static_cast<const float*>(field)) << "  # percent";
                break;
            default: out << Bool(*static_cast<const uint8_t*>(field)); break;
        }
        out << "\n";
    }
    out << "\n[visualization]\n";
    for (const OptionFlag& flag : kVisualizationFlags) out << flag.name << " = " << Bool(o.*flag.field) << "\n";
    out << "\n[capture]\n"
        << "captureFolder = " << Quoted(o.captureFolder) << "\n"
        << "captureQuality = " << o.captureQuality << "  # JPEG quality, 0..100\n";
    return out.str();
}

ParamFileStatus ParseParamText(std::string_view text, const std::string& name, SimParams& params,
                               AppOptions& options) {
    const std::string nesting = TooDeep(text, name);
    if (!nesting.empty()) return Failure(nesting);
    toml::table root;
    try {
        root = toml::parse(text, name);
    } catch (const toml::parse_error& e) {
        return Failure(name + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
    }
    // Work on copies: nothing is stored unless the whole file is good.
    SimParams p;
    AppOptions o;
    std::memcpy(&p, &params, sizeof p);
    std::memcpy(&o, &options, sizeof o);
    Reader reader{name, {}};
    // [simulation] first, since its preset resets the shape.
    if (const toml::node* node = root.get("simulation")) {
        const toml::table* table = node->as_table();
        if (!table) return Failure(reader.Where(*node) + ": simulation: expected a table");
        if (!reader.Simulation(*table, p, o)) return reader.status;
    }
    for (const auto& [k, node] : root) {
        const std::string key(k.str());
        const toml::table* table = node.as_table();
        bool ok = true;
        if (key == "simulation") continue;
        if (key != "neurons" && key != "visualization" && key != "capture")
            return Failure(reader.Where(node) + ": " + key + ": unknown table");
        if (!table) return Failure(reader.Where(node) + ": " + key + ": expected a table");
        if (key == "neurons") ok = reader.Neurons(*table, p);
        else if (key == "visualization") ok = reader.Visualization(*table, o);
        else ok = reader.Capture(*table, o);
        if (!ok) return reader.status;
    }
    DeriveParams(p);
    std::memcpy(&params, &p, sizeof p);
    std::memcpy(&options, &o, sizeof o);
    return reader.status;
}

namespace {

// How long a FIFO may stay silent before the read gives up.
constexpr int kPipeWaitMs = 2000;

// The file's bytes, up to the size limit, whatever the file type: a regular file,
// a FIFO (refused when no process writes to it), a device. Failure() on errors.
ParamFileStatus ReadBounded(const std::string& path, std::string& text) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Failure(path + ": " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat info {};
    if (fstat(fd, &info) != 0) return Failure(path + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode)) return Failure(path + ": is a folder, not a parameter file");
    const std::string tooLarge = path + ": larger than 1 MiB: not a parameter file";
    if (S_ISREG(info.st_mode) && info.st_size > kMaxFileBytes) return Failure(tooLarge);
    const bool pipe = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
    bool heardWriter = !pipe;
    char buffer[65536];
    for (;;) {
        if (pipe) {
            pollfd ready{fd, POLLIN, 0};
            const int n = poll(&ready, 1, kPipeWaitMs);
            if (n < 0 && errno == EINTR) continue;
            if (n == 0)
                return Failure(path + (heardWriter ? ": nothing more arrived for 2 s" : ": no process writes to it"));
            heardWriter = heardWriter || (ready.revents & POLLIN) != 0;
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return Failure(path + ": " + std::strerror(errno));
        if (n == 0) {
            if (!heardWriter) return Failure(path + ": no process writes to it");
            return {};
        }
        heardWriter = true;
        if (text.size() + static_cast<size_t>(n) > kMaxFileBytes) return Failure(tooLarge);
        text.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

ParamFileStatus LoadParamFile(const std::string& path, SimParams& params, AppOptions& options) {
    std::string text;
    ParamFileStatus status = ReadBounded(path, text);
    if (!status.ok) return status;
    return ParseParamText(text, path, params, options);
}

namespace {

// Writes all of `text` to `fd`; false with errno set when it cannot.
bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

ParamFileStatus SaveParamFile(const std::string& path, const SimParams& params, const AppOptions& options,
                              const char* writer) {
    OutputTarget target;
    std::string error;
    if (!ResolveOutput(path, target, error)) return Failure(error);
    const std::string text = FormatParamFile(params, options, writer);
    if (!target.regular) {
        // A FIFO or a device (save-config=/dev/stdout) is written through, never
        // replaced; a FIFO nobody reads is refused rather than waited for.
        const int fd = open(target.path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return Failure(path + ": " + (errno == ENXIO ? std::string("no process reads from it") : std::strerror(errno)));
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        const bool written = WriteAll(fd, text);
        const int writeErrno = errno;
        close(fd);
        if (!written) return Failure(path + ": " + std::strerror(writeErrno));
        return {};
    }
    // A regular file is written beside itself and renamed over (a symlink's target,
    // not the link), so a failed save never leaves a half-written file.
    std::string temporary;
    if (!CreateTemporaryBeside(target.path, temporary, error)) return Failure(error);
    const int fd = open(temporary.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const bool written = fd >= 0 && WriteAll(fd, text);
    const int writeErrno = errno;
    const bool closed = fd >= 0 && close(fd) == 0;
    if (!written || !closed) {
        std::remove(temporary.c_str());
        return Failure(path + ": " + std::strerror(written ? errno : writeErrno));
    }
    if (!ReplaceWith(temporary, target, error)) return Failure(error);
    return {};
}
