#pragma once
// Which disk a scan was made of, told by the disk itself rather than by its
// path: "<size>:<serial or ->:<FNV-1a 64 of the first MiB, 16 hex digits>".
// Header only, no dependency beyond POSIX and Linux sysfs: the engine writes
// it into its checkpoint, the front-end compares it before offering to go on.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace carver::identity {

inline constexpr uint64_t kHashedBytes = 1u << 20;

inline uint64_t fnv1a(uint64_t h, const unsigned char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

// A sysfs attribute's first line, trimmed, with anything that could break
// the identity's fields (':' and non-printing bytes) made '_'.
inline std::string sysfs_value(const std::string& path) {
    std::ifstream in(path);
    std::string v;
    if (!std::getline(in, v)) return "";
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r')) v.pop_back();
    size_t lead = v.find_first_not_of(" \t");
    v = lead == std::string::npos ? "" : v.substr(lead);
    if (v.size() > 128) v.resize(128);
    for (char& c : v)
        if (c == ':' || static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) c = '_';
    return v;
}

// The serial number of a block device (or of the disk a partition is on), "" when none.
inline std::string block_serial(dev_t rdev) {
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(rdev), minor(rdev));
    char real[PATH_MAX];
    if (!::realpath(link, real)) return "";
    std::string dir = real;
    for (int level = 0; level < 2; ++level) {
        for (const char* name : {"/device/serial", "/device/wwid", "/serial", "/wwid"})
            if (std::string v = sysfs_value(dir + name); !v.empty()) return v;
        if (::access((dir + "/partition").c_str(), F_OK) != 0) break;
        dir = dir.substr(0, dir.rfind('/'));  // the partition's disk
    }
    return "";
}

// The identity of the device or image open on `fd`; "" when it cannot be told.
inline std::string device_identity(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return "";
    uint64_t size = 0;
    std::string serial;
    if (S_ISREG(st.st_mode)) {
        size = static_cast<uint64_t>(st.st_size);
    } else if (S_ISBLK(st.st_mode)) {
        if (::ioctl(fd, BLKGETSIZE64, &size) != 0) return "";
        serial = block_serial(st.st_rdev);
    } else {
        return "";
    }
    uint64_t h = 14695981039346656037ull;
    unsigned char buf[65536];
    for (uint64_t at = 0; at < kHashedBytes && at < size;) {
        ssize_t r = ::pread(fd, buf, sizeof buf, static_cast<off_t>(at));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;  // an unreadable start: what was read tells it
        size_t n = static_cast<size_t>(r);
        if (at + n > kHashedBytes) n = static_cast<size_t>(kHashedBytes - at);
        h = fnv1a(h, buf, n);
        at += n;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return std::to_string(size) + ":" + (serial.empty() ? "-" : serial) + ":" + hex;
}

}  // namespace carver::identity
