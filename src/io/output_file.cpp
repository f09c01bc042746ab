// Output files: symlinks followed, special files reported, temporary files beside
// the target, free names claimed with O_EXCL.
#include "io/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

}  // namespace

bool ResolveOutput(const std::string& given, OutputTarget& target, std::string& error) {
    target = OutputTarget{};
    if (given.empty()) {
        error = "no file name given";
        return false;
    }
    struct stat info {};
    if (stat(given.c_str(), &info) == 0) {
        target.exists = true;
        if (S_ISDIR(info.st_mode)) {
            error = given + ": is a folder, not a file";
            return false;
        }
        target.regular = S_ISREG(info.st_mode);
        target.mode = info.st_mode & 07777;
        if (!target.regular) {  // written through the name as given (/dev/stdout is a link to one)
            target.path = given;
            return true;
        }
        char* real = realpath(given.c_str(), nullptr);
        if (real == nullptr) {
            error = given + ": " + std::strerror(errno);
            return false;
        }
        target.path = real;
        std::free(real);
        return true;
    }
    if (errno != ENOENT) {
        error = given + ": " + std::strerror(errno);
        return false;
    }
    // A new file, or a symlink to one: the link's final target is made.
    std::string path = given;
    for (int hops = 0; lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode); ++hops) {
        char link[PATH_MAX];
        const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        if (n < 0 || hops == 40) {
            error = given + ": " + std::strerror(n < 0 ? errno : ELOOP);
            return false;
        }
        link[n] = '\0';
        path = link[0] == '/' ? std::string(link) : Joined(Folder(path), link);
    }
    target.path = path;
    const mode_t mask = umask(0);
    umask(mask);
    target.mode = 0666 & ~mask;
    return true;
}

bool CreateTemporaryBeside(const std::string& path, std::string& temporary, std::string& error) {
    static std::atomic<uint32_t> counter{0};
    const std::string folder = Folder(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".vellicor-%d-%u.tmp", static_cast<int>(getpid()), counter.fetch_add(1));
        const std::string candidate = Joined(folder, name);
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            temporary = candidate;
            return true;
        }
        if (errno != EEXIST) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
    }
    error = path + ": no temporary name is free in its folder";
    return false;
}

bool ReplaceWith(const std::string& temporary, const OutputTarget& target, std::string& error) {
    if (chmod(temporary.c_str(), target.mode) != 0 || std::rename(temporary.c_str(), target.path.c_str()) != 0) {
        error = target.path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::string NumberedName(const std::string& path, uint32_t n) {
    if (n <= 1) return path;
    const std::filesystem::path p(path);
    std::filesystem::path name = p.stem();
    name += "-" + std::to_string(n);
    name += p.extension();
    return (p.parent_path() / name).string();
}

bool ClaimFreeName(const std::string& path, std::string& claimed, std::string& error, uint32_t first) {
    for (uint32_t n = first == 0 ? 1 : first; n < first + 100000; ++n) {
        const std::string candidate = NumberedName(path, n);
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            claimed = candidate;
            return true;
        }
        if (errno != EEXIST) {
            error = candidate + ": " + std::strerror(errno);
            return false;
        }
    }
    error = path + ": no free numbered name";
    return false;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat x {}, y {};
    const bool hasA = stat(a.c_str(), &x) == 0, hasB = stat(b.c_str(), &y) == 0;
    if (hasA && hasB) return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
    if (hasA != hasB) return false;
    std::error_code ignored;
    return std::filesystem::weakly_canonical(a, ignored) == std::filesystem::weakly_canonical(b, ignored);
}
