#include "failing_disk.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "helpers.h"

extern char** environ;

namespace carver_test {

std::string FailingDisk::start(const std::string& image, const std::vector<std::pair<uint64_t, uint64_t>>& bad,
                               int delay_ms) {
#ifndef SNAPMEND_FAILING_DISK
    (void)image, (void)bad, (void)delay_ms;
    return "built without libfuse3";
#else
    if (::access("/dev/fuse", R_OK | W_OK) != 0) return "no /dev/fuse here";
    if (!have_tool("fusermount3")) return "fusermount3 is not installed";
    char dir[] = "/tmp/failing-disk-XXXXXX";
    if (!::mkdtemp(dir)) return "cannot make a mount point";
    mount_ = dir;
    std::string ranges;
    for (const auto& [from, to] : bad) ranges += (ranges.empty() ? "" : ",") + std::to_string(from) + "-" + std::to_string(to);
    if (ranges.empty()) ranges = "-";
    const std::string delay = std::to_string(delay_ms);
    const char* argv[] = {SNAPMEND_FAILING_DISK, image.c_str(), ranges.c_str(), delay.c_str(), mount_.c_str(), "-f", nullptr};
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        pid_ = -1;
        return "cannot start the FUSE file system";
    }
    struct stat want, got;
    if (::stat(image.c_str(), &want) != 0) return "no image " + image;
    for (int i = 0; i < 100; ++i) {
        if (::stat(path().c_str(), &got) == 0 && got.st_size == want.st_size) return "";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "the FUSE file system did not come up (no FUSE mounts allowed here?)";
#endif
}

FailingDisk::~FailingDisk() {
    if (mount_.empty()) return;
    if (pid_ > 0) {
        sh("fusermount3 -u '" + mount_ + "'");
        int st;
        if (::waitpid(pid_, &st, WNOHANG) == 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, &st, 0);
        }
    }
    ::rmdir(mount_.c_str());
}

}  // namespace carver_test
