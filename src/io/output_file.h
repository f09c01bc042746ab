// Where an output file goes and how it replaces what is there.
//
// A symlink is followed to the file it names (also one that does not exist yet),
// so a replacement renames over the target, never over the link. A FIFO, device
// or socket at the path is reported as such: a writer either writes through it
// or refuses it, but never renames a regular file over it. Temporary files get
// short names of their own beside the target, so any legal name can be replaced.
#pragma once

#include <cstdint>
#include <string>

struct OutputTarget {
    std::string path;      // the file to write: the link's target when the path is a symlink
    bool exists = false;   // something is at `path` now
    bool regular = true;   // false: a FIFO, device or socket is there
    uint32_t mode = 0644;  // the permissions a replacement takes (the existing file's)
};

// Follows the symlinks of `given` (40 at most) and looks at what is there. False
// with `error` ("NAME: is a folder, not a file", a loop, ...) when nothing can be
// written there.
bool ResolveOutput(const std::string& given, OutputTarget& target, std::string& error);

// Creates a new, empty temporary file in the folder of `path` (mode 0600) and
// names it in `temporary`.
bool CreateTemporaryBeside(const std::string& path, std::string& temporary, std::string& error);

// Renames a complete temporary file over the target, with the target's
// permissions. On failure the temporary file is removed.
bool ReplaceWith(const std::string& temporary, const OutputTarget& target, std::string& error);

// The first of `path`, NAME-2.EXT, NAME-3.EXT, ... (from the `first`-th on) that
// does not exist, created empty with O_EXCL so that no other writer, in this
// process or another, takes the same name. The writer then fills it.
bool ClaimFreeName(const std::string& path, std::string& claimed, std::string& error, uint32_t first = 1);

// The `n`-th name of a series (1-based): path itself, then NAME-n.EXT.
std::string NumberedName(const std::string& path, uint32_t n);

// Two names denote one file: the same inode when both exist, else the same
// absolute path after symlinks are followed.
bool SameFile(const std::string& a, const std::string& b);
