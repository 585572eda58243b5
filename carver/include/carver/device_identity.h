#pragma once
// Who a disk is, independent of the node it is attached as today:
//   <size in bytes>:<serial or ->:<16 hex digits of 64-bit FNV-1a over the first 1 MiB>
// The engine records it in its checkpoints; the window matches an unfinished
// scan to a disk by it. Plain C++17 and POSIX, header-only.
#include <cstdint>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace carver {

namespace identity_detail {

inline std::string read_trimmed(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0) return {};
    std::string text(buf, static_cast<size_t>(n));
    const auto blank = [](char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\0'; };
    while (!text.empty() && blank(text.back())) text.pop_back();
    size_t start = 0;
    while (start < text.size() && blank(text[start])) ++start;
    return text.substr(start);
}

// The serial the kernel knows for a block device: its own, or (a partition)
// its parent disk's; serial first, then wwid.
inline std::string serial_of(dev_t rdev) {
    const std::string dir = "/sys/dev/block/" + std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev));
    for (const char* base : {"/device/", "/../device/"})
        for (const char* name : {"serial", "wwid"}) {
            std::string value = read_trimmed(dir + base + name);
            if (!value.empty()) return value;
        }
    return {};
}

}  // namespace identity_detail

// The identity of the disk open as `fd` (a block device or an image file);
// `path` is the name it was opened by. Empty when `fd` cannot be examined.
inline std::string device_identity(int fd, const std::string& path) {
    (void)path;  // the descriptor decides; the name is kept for callers' messages
    struct stat st {};
    if (::fstat(fd, &st) != 0) return {};
    uint64_t size = static_cast<uint64_t>(st.st_size);
    std::string serial;
    if (S_ISBLK(st.st_mode)) {
        uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) size = bytes;
        serial = identity_detail::serial_of(st.st_rdev);
    }
    uint64_t hash = 14695981039346656037ull;
    constexpr size_t kHashed = 1u << 20;
    static thread_local unsigned char buf[64 * 1024];
    for (size_t done = 0; done < kHashed;) {
        const size_t want = kHashed - done < sizeof buf ? kHashed - done : sizeof buf;
        const ssize_t n = ::pread(fd, buf, want, static_cast<off_t>(done));
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            hash ^= buf[i];
            hash *= 1099511628211ull;
        }
        done += static_cast<size_t>(n);
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return std::to_string(size) + ":" + (serial.empty() ? std::string("-") : serial) + ":" + hex;
}

}  // namespace carver
