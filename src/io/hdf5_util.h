// HDF5 helpers shared by the file formats of src/io (not used elsewhere): ids that
// close themselves, typed attributes, groups, and the checks made before a file is
// created.
#pragma once

#include <fcntl.h>
#include <hdf5.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "io/output_file.h"

static_assert(sizeof(hid_t) == sizeof(int64_t), "HDF5 ids are kept as int64_t");

// HDF5 closes the files left open at exit; a file whose close failed (a full
// disk) stays half closed, and that cleanup then crashes inside the library.
// Every file here is closed explicitly, so the library's exit handler is not
// installed (H5dont_atexit must come before the library's first call).
inline const bool kHdf5WithoutExitHandler = (H5dont_atexit(), true);

inline constexpr const char* kNotRegularForHdf5 =
    ": is not a regular file (a FIFO, device or socket); an HDF5 file needs one";

// Closes an HDF5 id of any kind when it goes out of scope.
struct Id {
    hid_t id;
    explicit Id(hid_t value = -1) : id(value) {}
    ~Id() {
        if (id >= 0) H5Idec_ref(id);
    }
    Id(Id&& other) noexcept : id(other.id) { other.id = -1; }
    Id(const Id&) = delete;
    Id& operator=(const Id&) = delete;
    operator hid_t() const { return id; }
    bool ok() const { return id >= 0; }
};

// File (little-endian) and memory types of the stored value types.
template <typename T> struct H5Types;
template <> struct H5Types<float> {
    static hid_t File() { return H5T_IEEE_F32LE; }
    static hid_t Memory() { return H5T_NATIVE_FLOAT; }
};
template <> struct H5Types<uint8_t> {
    static hid_t File() { return H5T_STD_U8LE; }
    static hid_t Memory() { return H5T_NATIVE_UINT8; }
};
template <> struct H5Types<int16_t> {
    static hid_t File() { return H5T_STD_I16LE; }
    static hid_t Memory() { return H5T_NATIVE_INT16; }
};
template <> struct H5Types<uint32_t> {
    static hid_t File() { return H5T_STD_U32LE; }
    static hid_t Memory() { return H5T_NATIVE_UINT32; }
};
template <> struct H5Types<int32_t> {
    static hid_t File() { return H5T_STD_I32LE; }
    static hid_t Memory() { return H5T_NATIVE_INT32; }
};
template <> struct H5Types<uint64_t> {
    static hid_t File() { return H5T_STD_U64LE; }
    static hid_t Memory() { return H5T_NATIVE_UINT64; }
};
template <> struct H5Types<int64_t> {
    static hid_t File() { return H5T_STD_I64LE; }
    static hid_t Memory() { return H5T_NATIVE_INT64; }
};

// One value (a scalar attribute) or `count` values (a one-dimensional one).
template <typename T>
inline bool WriteAttribute(hid_t object, const char* name, const T* values, hsize_t count = 1) {
    Id space(count == 1 ? H5Screate(H5S_SCALAR) : H5Screate_simple(1, &count, nullptr));
    Id attribute(H5Acreate2(object, name, H5Types<T>::File(), space, H5P_DEFAULT, H5P_DEFAULT));
    return attribute.ok() && H5Awrite(attribute, H5Types<T>::Memory(), values) >= 0;
}

template <typename T>
inline bool ReadAttribute(hid_t object, const char* name, T* values, hsize_t count = 1) {
    if (H5Aexists(object, name) <= 0) return false;
    Id attribute(H5Aopen(object, name, H5P_DEFAULT));
    Id space(H5Aget_space(attribute));
    if (!space.ok() || H5Sget_simple_extent_npoints(space) != static_cast<hssize_t>(count)) return false;
    Id type(H5Aget_type(attribute));
    const H5T_class_t kind = H5Tget_class(type);
    if (kind != H5T_INTEGER && kind != H5T_FLOAT) return false;
    return H5Aread(attribute, H5Types<T>::Memory(), values) >= 0;
}

// A scalar UTF-8 variable-length string attribute (how Python tools write text).
inline bool WriteText(hid_t object, const char* name, const std::string& text) {
    Id type(H5Tcopy(H5T_C_S1));
    H5Tset_size(type, H5T_VARIABLE);
    H5Tset_cset(type, H5T_CSET_UTF8);
    Id space(H5Screate(H5S_SCALAR));
    Id attribute(H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT));
    const char* value = text.c_str();
    return attribute.ok() && H5Awrite(attribute, type, &value) >= 0;
}

// A scalar fixed-length ASCII string attribute.
inline bool WriteString(hid_t object, const char* name, const std::string& text) {
    Id type(H5Tcopy(H5T_C_S1));
    H5Tset_size(type, text.size() + 1);
    H5Tset_strpad(type, H5T_STR_NULLTERM);
    Id space(H5Screate(H5S_SCALAR));
    Id attribute(H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT));
    return attribute.ok() && H5Awrite(attribute, type, text.c_str()) >= 0;
}

// A scalar string attribute, fixed or variable length.
inline bool ReadString(hid_t object, const char* name, std::string& text) {
    if (H5Aexists(object, name) <= 0) return false;
    Id attribute(H5Aopen(object, name, H5P_DEFAULT));
    Id type(H5Aget_type(attribute));
    Id space(H5Aget_space(attribute));
    if (H5Tget_class(type) != H5T_STRING || H5Sget_simple_extent_npoints(space) != 1) return false;
    if (H5Tis_variable_str(type) > 0) {
        char* value = nullptr;
        if (H5Aread(attribute, type, &value) < 0) return false;
        text = value ? value : "";
        H5free_memory(value);
        return true;
    }
    std::vector<char> buffer(H5Tget_size(type) + 1, '\0');
    if (H5Aread(attribute, type, buffer.data()) < 0) return false;
    text = buffer.data();
    return true;
}

inline hid_t NewGroup(hid_t parent, const char* name) {
    return H5Gcreate2(parent, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
}

inline hid_t OpenGroup(hid_t parent, const char* name) {
    if (H5Lexists(parent, name, H5P_DEFAULT) <= 0) return -1;
    return H5Gopen2(parent, name, H5P_DEFAULT);
}

// HDF5 prints its error stack to stderr by default; the formats report errors
// themselves, in one line. The setting is per thread (the library is built
// thread-safe): every thread that calls HDF5 calls this first.
inline void QuietHdf5() { H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); }

// The file can be created and written: checked with open(2) first, since HDF5's
// own failure says little about why (no folder, no permission, a folder there).
// An HDF5 file needs a regular file: a FIFO, device or socket is refused.
inline bool CheckWritable(const std::string& path, std::string& error) {
    OutputTarget target;
    if (!ResolveOutput(path, target, error)) return false;
    if (!target.regular) {
        error = path + kNotRegularForHdf5;
        return false;
    }
    const int fd = open(target.path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    return true;
}
