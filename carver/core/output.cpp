#include "core/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

// The code point of the valid UTF-8 sequence at s[i], its length in `len`;
// -1 (len 1) for an invalid byte. Overlong forms and surrogates are invalid.
long decode_utf8(const std::string& s, size_t i, size_t& len) {
    const auto lead = static_cast<unsigned char>(s[i]);
    len = 1;
    if (lead < 0x80) return lead;
    size_t n;
    long min;
    if (lead >= 0xC2 && lead <= 0xDF) n = 2, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF) n = 3, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4) n = 4, min = 0x10000;
    else return -1;
    if (s.size() - i < n) return -1;
    long cp = lead & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return -1;
        cp = cp << 6 | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    len = n;
    return cp;
}

// Invisible characters that reorder or mark text: dropped from names.
bool is_format_control(long cp) {
    return cp == 0xFEFF || cp == 0x200E || cp == 0x200F || cp == 0x061C || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

bool is_control(long cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

// Valid UTF-8 without format or control characters.
std::string clean_text(const std::string& raw) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0, len = 0; i < raw.size(); i += len) {
        const long cp = decode_utf8(raw, i, len);
        if (cp < 0) out += kReplacement;
        else if (is_format_control(cp)) continue;
        else if (is_control(cp) || cp == '/' || cp == '\\') out += '_';
        else out.append(raw, i, len);
    }
    return out;
}

// The longest prefix of the valid UTF-8 `s` within `max` bytes, whole characters only.
std::string cut_utf8(const std::string& s, size_t max) {
    if (s.size() <= max) return s;
    size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return s.substr(0, cut);
}

}  // namespace

bool keeps_no_owners(int fd) {
    constexpr unsigned long kOwnerless[] = {0x4d44 /* vfat, msdos */, 0x2011BAB0 /* exfat */, 0x7366746e /* ntfs3 */,
                                            0x65735546 /* fuse, fuseblk */};
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) return false;
    for (unsigned long type : kOwnerless)
        if (static_cast<unsigned long>(fs.f_type) == type) return true;
    return false;
}

bool owned_by_us(int fd, const struct stat& st) { return st.st_uid == ::geteuid() || keeps_no_owners(fd); }

std::string safe_name(const std::string& raw, size_t max_bytes) {
    constexpr size_t kMaxExtensionBytes = 16;
    std::string out = clean_text(raw);
    // Trailing dots and spaces are not part of a FAT name; they would hide the extension.
    auto trim_end = [&out] {
        while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    };
    trim_end();
    if (!out.empty() && out[0] == '.') out[0] = '_';
    if (out.size() > max_bytes) {
        const size_t dot = out.rfind('.');
        const bool has_ext = dot != std::string::npos && dot > 0 && out.size() - dot <= kMaxExtensionBytes;
        const std::string ext = has_ext ? out.substr(dot) : "";
        out = cut_utf8(out.substr(0, has_ext ? dot : out.size()), max_bytes - ext.size()) + ext;
        trim_end();
    }
    if (out.empty()) out = "_";
    return out;
}

std::string fit_folder(const std::string& folder, size_t name_bytes, size_t limit) {
    if (folder.size() + 1 + name_bytes <= limit) return folder;
    size_t keep = 0;  // the end of the deepest folder that fits
    for (size_t slash = folder.find('/'); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
        if (slash + 1 + name_bytes > limit) break;
        keep = slash;
    }
    return folder.substr(0, keep);
}

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
    if (::fstat(dirfd_, &info) != 0 || !owned_by_us(dirfd_, info)) {
        err = path + ": the folder belongs to another user";
        return false;
    }
    // One scan writes a folder at a time: a second engine started on a
    // workspace still in use would take its files and report for its own.
    if (::flock(dirfd_, LOCK_EX | LOCK_NB) != 0) {
        err = path + (errno == EWOULDBLOCK ? ": another scan is writing to this folder" : ": " + std::string(std::strerror(errno)));
        return false;
    }
    ::fchmod(dirfd_, 0700);  // best effort: FAT has no modes
    const int probe = open_unnamed(dirfd_);  // whether the file system offers O_TMPFILE
    if (probe >= 0) ::close(probe);
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
    // The names come from the disk: made safe again here whoever built them,
    // leaving room for the ".partial" a partial file's name gains.
    std::string folder;
    if (naming) {
        const std::string name = safe_name(naming->name, kMaxNameBytes + 16);
        for (size_t pos = 0; pos < naming->folder.size();) {
            size_t slash = naming->folder.find('/', pos);
            if (slash == std::string::npos) slash = naming->folder.size();
            if (slash > pos) folder += (folder.empty() ? "" : "/") + safe_name(naming->folder.substr(pos, slash - pos));
            pos = slash + 1;
        }
        // Room for a clash's " (1001)".
        const std::string fitted = fit_folder(folder, name.size() + 8);
        if (fitted != folder) res.requested = folder + "/" + name;
        folder = fitted;
        size_t dot = name.rfind('.');
        stem = name.substr(0, dot);
        suffix = dot == std::string::npos ? "" : name.substr(dot);
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
    if (!folder.empty()) {
        sub.fd = open_folder(folder);
        if (sub.fd < 0 && disk_full(errno)) {
            res.status = WriteStatus::DiskFull;
            res.error = path_ + "/" + folder + ": " + std::strerror(errno);
            return res;
        }
        if (sub.fd < 0) return write(sector, ext, src, length, stop);  // the folder cannot be made: carved name
        dir = sub.fd;
    }

    const std::string prefix = folder.empty() ? "" : folder + "/";
    int attempt = 0;
    for (; keep_existing_ && attempt <= 1000; ++attempt) {
        const Existing e = existing(dir, prefix + name_for(attempt), name_for(attempt), src, length, stop);
        if (e == Existing::Free) break;
        if (e == Existing::Same) {
            res.status = WriteStatus::Ok;
            res.name = prefix + name_for(attempt);
            written_.insert(res.name);
            return res;
        }
    }
    const int first_free = attempt;
    int fd = open_unnamed(dir);
    bool named = fd < 0;
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
        for (attempt = first_free; !link_unnamed(fd, dir, name_for(attempt), err); ++attempt) {
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
    res.name = prefix + name_for(attempt);
    if (keep_existing_) written_.insert(res.name);
    return res;
}

// What a name holds for a resumed scan's file of `length` bytes from src. A
// shorter file holding the first of those bytes is one the break cut short
// while written under its name (no O_TMPFILE): it is removed, the name free.
OutputDir::Existing OutputDir::existing(int dir, const std::string& rel, const std::string& name, Source& src,
                                        uint64_t length, const std::atomic<bool>& stop) {
    if (written_.count(rel)) return Existing::Other;
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? Existing::Free : Existing::Other;
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const uint64_t size = regular ? static_cast<uint64_t>(st.st_size) : 0;
    bool same = regular && size <= length;
    std::vector<uint8_t> mine(kCopyChunk), theirs(kCopyChunk);
    for (uint64_t off = 0; same && off < size && !stop.load(std::memory_order_relaxed);) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, size - off));
        const ssize_t got = ::pread(fd, theirs.data(), want, static_cast<off_t>(off));
        same = got == static_cast<ssize_t>(want) && src.read(off, mine.data(), want) == want &&
               std::memcmp(mine.data(), theirs.data(), want) == 0;
        off += want;
    }
    ::close(fd);
    if (!same || stop.load()) return Existing::Other;
    if (size == length) return Existing::Same;
    if (tmpfile_ || ::unlinkat(dir, name.c_str(), 0) != 0) return Existing::Other;
    return Existing::Free;
}

}  // namespace carver
