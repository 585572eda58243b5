#include "core/progress.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace carver {

namespace {

uint64_t device_size(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return 0;
    if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode)) {
        uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) return bytes;
    }
    return 0;  // pipes and the like: no end known in advance
}

}  // namespace

ProgressReport& progress() {
    static ProgressReport report;
    return report;
}

void ProgressReport::open_from_env(const char* value) {
    if (!value || !*value) return;
    char* end = nullptr;
    errno = 0;
    long fd = std::strtol(value, &end, 10);
    if (errno != 0 || *end != '\0' || fd <= STDERR_FILENO || fd > 65535) return;
    int flags = ::fcntl(static_cast<int>(fd), F_GETFL);
    if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return;
    // Never stall the scan on a reader that does not read: a full pipe drops the line.
    ::fcntl(static_cast<int>(fd), F_SETFL, flags | O_NONBLOCK);
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    open_fd(static_cast<int>(fd), true);
}

void ProgressReport::open_fd(int fd, bool owned) {
    fd_ = fd;
    owned_ = owned;
}

ProgressReport::~ProgressReport() {
    if (owned_ && fd_ >= 0) ::close(fd_);
}

void ProgressReport::at(int device_fd, uint64_t pos, uint64_t unreadable) {
    unreadable_ = unreadable;
    if (fd_ < 0 || ended_ || pos < next_) return;
    if (!sized_) {
        sized_ = true;
        total_ = device_size(device_fd);
    }
    if (total_ != 0 && pos >= total_) {
        ended_ = true;
        pos = total_;
    }
    emit(pos);
    uint64_t step = total_ / 1000;
    if (step < (1u << 20)) step = 1u << 20;
    next_ = pos + step;
    if (total_ != 0 && next_ > total_) next_ = total_;
}

void ProgressReport::finish(uint64_t unreadable) {
    unreadable_ = unreadable;
    if (fd_ < 0 || unreadable == said_unreadable_) return;
    emit(last_pos_);
}

void ProgressReport::emit(uint64_t pos) {
    last_pos_ = pos;
    said_unreadable_ = unreadable_;
    char line[72];
    int n = std::snprintf(line, sizeof line, "%llu %llu %llu\n", static_cast<unsigned long long>(pos),
                          static_cast<unsigned long long>(total_), static_cast<unsigned long long>(unreadable_));
    write_line(line, n);
}

void ProgressReport::totals(uint64_t whole, uint64_t partial, uint64_t unreadable) {
    if (fd_ < 0) return;
    char line[80];
    int n = std::snprintf(line, sizeof line, "totals %llu %llu %llu\n", static_cast<unsigned long long>(whole),
                          static_cast<unsigned long long>(partial), static_cast<unsigned long long>(unreadable));
    write_line(line, n);
}

void ProgressReport::write_line(const char* line, int n) {
    ssize_t w;
    do {
        w = ::write(fd_, line, static_cast<size_t>(n));
    } while (w < 0 && errno == EINTR);
    // A reader that has gone away (EPIPE) will not come back.
    if (w < 0 && errno == EPIPE) {
        if (owned_) ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace carver
