#pragma once
// A copy of a disk image served through FUSE (failing_disk/failing_disk.c)
// whose chosen byte ranges answer with EIO after a delay.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace carver_test {

class FailingDisk {
public:
    FailingDisk() = default;
    FailingDisk(const FailingDisk&) = delete;
    FailingDisk& operator=(const FailingDisk&) = delete;
    ~FailingDisk();

    // Mounts it; returns "" or why it cannot be had here (the test skips).
    std::string start(const std::string& image, const std::vector<std::pair<uint64_t, uint64_t>>& bad,
                      int delay_ms);
    // The failing file.
    std::string path() const { return mount_ + "/disk"; }

private:
    std::string mount_;
    pid_t pid_ = -1;
};

}  // namespace carver_test
