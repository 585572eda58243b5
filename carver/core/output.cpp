#include "core/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace carver {
namespace {

constexpr size_t kCopyChunk = 1 << 20;

bool make_dirs(const std::string& path, std::string& err) {
    std::string cur;
    size_t pos = 0;
    while (pos != std::string::npos) {
        size_t slash = path.find('/', pos + 1);
        cur = path.substr(0, slash);
        pos = slash;
        if (cur.empty() || cur == "/") continue;
        if (::mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) {
            err = cur + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool disk_full(int e) { return e == ENOSPC || e == EDQUOT || e == EFBIG; }

}  // namespace

OutputDir::~OutputDir() {
    if (dirfd_ >= 0) ::close(dirfd_);
}

bool OutputDir::open(const std::string& path, std::string& err) {
    if (!make_dirs(path, err)) return false;
    // The folder itself is never a link, and it is ours alone.
    dirfd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirfd_ < 0) {
        err = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(dirfd_, &info) != 0 || info.st_uid != ::geteuid()) {
        err = path + ": the folder belongs to another user";
        return false;
    }
    ::fchmod(dirfd_, 0700);  // best effort: FAT has no modes
    path_ = path;
    return true;
}

int OutputDir::open_unnamed(int dir) {
    if (!tmpfile_) return -1;
    int fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) tmpfile_ = false;
    return fd;
}

bool OutputDir::link_unnamed(int fd, int dir, const std::string& name, int& err) {
    // /proc/self/fd works without CAP_DAC_READ_SEARCH, which AT_EMPTY_PATH needs.
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, proc.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    err = errno;
    if (err == EEXIST) return false;
    if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    err = errno;
    return false;
}

// Opens (creating as needed) a folder below the output folder, never
// following a link on the way.
int OutputDir::open_folder(const std::string& folder) {
    int dir = ::dup(dirfd_);
    size_t pos = 0;
    while (dir >= 0 && pos < folder.size()) {
        size_t slash = folder.find('/', pos);
        if (slash == std::string::npos) slash = folder.size();
        std::string part = folder.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == "." || part == "..") continue;
        if (::mkdirat(dir, part.c_str(), 0700) != 0 && errno != EEXIST) {
            ::close(dir);
            return -1;
        }
        int next = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(dir);
        dir = next;
    }
    return dir;
}

WriteResult OutputDir::write(uint64_t sector, const std::string& ext, Source& src, uint64_t length,
                             const std::atomic<bool>& stop, const Naming* naming) {
    WriteResult res;
    char base[32];
    std::snprintf(base, sizeof base, "f%010llu", static_cast<unsigned long long>(sector));
    std::string stem = base, suffix = "." + ext;
    if (naming) {
        size_t dot = naming->name.rfind('.');
        stem = naming->name.substr(0, dot);
        suffix = dot == std::string::npos ? "" : naming->name.substr(dot);
    }
    auto name_for = [&](int attempt) {
        if (naming)
            return stem + (attempt ? " (" + std::to_string(attempt + 1) + ")" : "") + suffix;
        return stem + (attempt ? "_" + std::to_string(attempt) : "") + suffix;
    };
    struct DirCloser {
        int fd = -1;
        ~DirCloser() {
            if (fd >= 0) ::close(fd);
        }
    } sub;
    int dir = dirfd_;
    if (naming && !naming->folder.empty()) {
        sub.fd = open_folder(naming->folder);
        if (sub.fd < 0 && disk_full(errno)) {
            res.status = WriteStatus::DiskFull;
            res.error = path_ + "/" + naming->folder + ": " + std::strerror(errno);
            return res;
        }
        if (sub.fd < 0) return write(sector, ext, src, length, stop);  // the folder cannot be made: carved name
        dir = sub.fd;
    }

    struct stat taken;
    if (keep_existing_ && ::fstatat(dir, name_for(0).c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) {
        res.status = WriteStatus::Ok;
        res.name = (naming && !naming->folder.empty() ? naming->folder + "/" : "") + name_for(0);
        return res;
    }
    int fd = open_unnamed(dir);
    bool named = fd < 0;
    int attempt = 0;
    if (named) {
        if (tmpfile_) {  // O_TMPFILE is supported but failed for another reason
            res.status = disk_full(errno) ? WriteStatus::DiskFull : WriteStatus::Failed;
            res.error = path_ + ": " + std::strerror(errno);
            return res;
        }
        for (;; ++attempt) {
            fd = ::openat(dir, name_for(attempt).c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0 || errno != EEXIST || attempt > 1000) break;
        }
        if (fd >= 0) ::flock(fd, LOCK_EX);
    }
    if (fd < 0) {
        res.status = disk_full(errno) ? WriteStatus::DiskFull : WriteStatus::Failed;
        res.error = path_ + ": " + std::strerror(errno);
        return res;
    }
    auto fail = [&](WriteStatus st, const std::string& msg) {
        if (named) ::unlinkat(dir, name_for(attempt).c_str(), 0);
        ::close(fd);
        res.status = st;
        res.error = msg;
        return res;
    };

    std::vector<uint8_t> buf(length < kCopyChunk ? static_cast<size_t>(length) : kCopyChunk);
    for (uint64_t off = 0; off < length;) {
        if (stop.load(std::memory_order_relaxed)) return fail(WriteStatus::Stopped, "");
        size_t want = length - off < buf.size() ? static_cast<size_t>(length - off) : buf.size();
        size_t got = src.read(off, buf.data(), want);
        if (got < want) {
            if (stop.load()) return fail(WriteStatus::Stopped, "");
            return fail(WriteStatus::Failed, "device ended while copying " + name_for(attempt));
        }
        for (size_t done = 0; done < got;) {
            ssize_t w = ::write(fd, buf.data() + done, got - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                int e = w < 0 ? errno : ENOSPC;
                return fail(disk_full(e) ? WriteStatus::DiskFull : WriteStatus::Failed,
                            path_ + "/" + name_for(attempt) + ": " + std::strerror(e));
            }
            done += static_cast<size_t>(w);
        }
        off += got;
    }

    if (naming && naming->mtime >= 0) {
        struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(naming->mtime), 0}};
        ::futimens(fd, times);
    }
    if (!named) {
        int err = 0;
        for (attempt = 0; !link_unnamed(fd, dir, name_for(attempt), err); ++attempt) {
            if (err != EEXIST || attempt > 1000)
                return fail(disk_full(err) ? WriteStatus::DiskFull : WriteStatus::Failed,
                            path_ + "/" + name_for(attempt) + ": " + std::strerror(err));
        }
    }
    if (::close(fd) != 0 && errno != EINTR) {  // delayed write errors (NFS and the like)
        int e = errno;
        ::unlinkat(dir, name_for(attempt).c_str(), 0);
        res.status = disk_full(e) ? WriteStatus::DiskFull : WriteStatus::Failed;
        res.error = path_ + "/" + name_for(attempt) + ": " + std::strerror(e);
        return res;
    }
    res.status = WriteStatus::Ok;
    res.name = (naming && !naming->folder.empty() ? naming->folder + "/" : "") + name_for(attempt);
    return res;
}

}  // namespace carver
