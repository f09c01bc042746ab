// Parameter files: the settings of the configuration pages as TOML, one table per
// page ([simulation], [neurons], [visualization], [capture]), keys named as the
// fields in the code, values in the units the pages show (the inhibitory fraction
// in percent). The exceptions: engineMode is engine = "exact" or "event", and the
// network's shape is preset = K for a preset row, else shape = "box" or "sphere"
// with grid = [x, y, z] (a sphere's three equal), refused beyond SetNetworkShape's
// limits.
//
// Loading is all or nothing: a file with a syntax error, an unknown table or key,
// a value of the wrong type or a value that cannot be used leaves the records as
// they were. Values outside a field's limits are clamped as the pages clamp them,
// with a warning. Keys a file does not name keep their current values, so a file
// written by an older version loads on a newer one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "io/app_state.h"

struct ParamFileStatus {
    bool ok = true;
    std::string error;                  // "FILE:LINE: ..." when !ok
    std::vector<std::string> warnings;  // "FILE:LINE: ..." for each clamped value
};

// The file's text. `writer` names the program on the comment line at the top.
std::string FormatParamFile(const SimParams& params, const AppOptions& options, const char* writer);

// Parses `text` (named `name` in messages) into the records.
ParamFileStatus ParseParamText(std::string_view text, const std::string& name, SimParams& params,
                               AppOptions& options);

// The first field of the Neurons page's table outside its limits (or NaN), as
// "KEY: VALUE is outside MIN..MAX" in the loader's words; "" when all are within.
// A checkpoint's parameters are checked with it (refused, not clamped).
std::string ParamOutsideLimits(const SimParams& params);

ParamFileStatus LoadParamFile(const std::string& path, SimParams& params, AppOptions& options);

// Writes through a temporary file in the same folder and renames it over `path`,
// so a failed save never leaves a half-written file.
ParamFileStatus SaveParamFile(const std::string& path, const SimParams& params, const AppOptions& options,
                              const char* writer);
