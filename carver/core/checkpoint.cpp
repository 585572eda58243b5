#include "core/checkpoint.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/output.h"

namespace carver {
namespace {

constexpr const char* kFolder = ".snapmend";
constexpr const char* kName = "checkpoint";
constexpr const char* kTemp = "checkpoint.tmp";
constexpr size_t kMaxBytes = 64u << 20;
constexpr size_t kMaxClaimed = 1u << 20;
// Unread areas and candidates put off: more than this and no checkpoint is
// taken (the front-end reads checkpoints of a few MiB at most).
constexpr size_t kMaxUnread = 16384;
constexpr size_t kMaxValue = 4096;

// Ours and closed to others; a file system without owners has no modes either.
bool private_folder(int fd, const struct stat& st) {
    if (keeps_no_owners(fd)) return true;
    return st.st_uid == ::geteuid() && !(st.st_mode & 077);
}

bool parse_u64(const std::string& s, uint64_t& v) {
    if (s.empty() || s.size() > 20 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    v = std::strtoull(s.c_str(), nullptr, 10);
    return errno == 0;
}

// "FROM-TO" with FROM < TO.
bool parse_range(const std::string& s, std::pair<uint64_t, uint64_t>& r) {
    const size_t dash = s.find('-');
    return dash != std::string::npos && parse_u64(s.substr(0, dash), r.first) &&
           parse_u64(s.substr(dash + 1), r.second) && r.first < r.second;
}

bool add_range(const std::string& value, std::vector<std::pair<uint64_t, uint64_t>>& to, size_t max) {
    std::pair<uint64_t, uint64_t> r;
    if (!parse_range(value, r) || to.size() >= max) return false;
    to.push_back(r);
    return true;
}

void format_ranges(std::string& out, const char* key, const std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
    for (const auto& [from, to] : ranges)
        out += std::string(key) + "=" + std::to_string(from) + "-" + std::to_string(to) + "\n";
}

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

std::string format_checkpoint(const Checkpoint& c) {
    std::string out = "version=1\nidentity=" + c.identity + "\ncommand=" + c.command +
                      "\nposition=" + std::to_string(c.position) + "\nstate=" + (c.done ? "done" : "scanning") +
                      "\nreport=" + std::to_string(c.report_bytes) + "\n";
    format_ranges(out, "claimed", c.claimed);
    format_ranges(out, "unread", c.unread);
    format_ranges(out, "deferred", c.deferred);
    return out + "end=1\n";
}

bool parse_checkpoint(const std::string& text, Checkpoint& c, std::string& err) {
    c = Checkpoint{};
    bool version = false, position = false, state = false, report = false, end = false;
    for (size_t at = 0; at < text.size() && !end;) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) return err = "cut short", false;
        const std::string line = text.substr(at, nl - at);
        at = nl + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || line.size() - eq - 1 > kMaxValue) return err = "bad line", false;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "version") {
            if (value != "1") return err = "unknown version", false;
            version = true;
        } else if (key == "identity") {
            c.identity = value;
        } else if (key == "command") {
            c.command = value;
        } else if (key == "position") {
            if (!parse_u64(value, c.position) || c.position % 512) return err = "bad position", false;
            position = true;
        } else if (key == "state") {
            if (value != "scanning" && value != "done") return err = "bad state", false;
            c.done = value == "done";
            state = true;
        } else if (key == "report") {
            if (!parse_u64(value, c.report_bytes)) return err = "bad report length", false;
            report = true;
        } else if (key == "claimed") {
            if (!add_range(value, c.claimed, kMaxClaimed)) return err = "bad claimed range", false;
        } else if (key == "unread") {
            if (!add_range(value, c.unread, kMaxUnread) || c.unread.back().second > c.position)
                return err = "bad unread range", false;
        } else if (key == "deferred") {
            if (!add_range(value, c.deferred, kMaxUnread) || c.deferred.back().first >= c.position)
                return err = "bad deferred candidate", false;
        } else if (key == "end") {
            end = true;
        }  // other keys: written by a later version, not needed to go on
    }
    if (!version || !position || !state || !report || !end || c.identity.empty()) return err = "incomplete", false;
    return true;
}

CheckpointFile::~CheckpointFile() {
    if (dir_ >= 0) ::close(dir_);
}

bool CheckpointFile::open(const std::string& out_dir, std::string& err) {
    int out = ::open(out_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (out < 0) return err = out_dir + ": " + std::strerror(errno), false;
    if (::mkdirat(out, kFolder, 0700) != 0 && errno != EEXIST) {
        err = std::string(kFolder) + ": " + std::strerror(errno);
        ::close(out);
        return false;
    }
    dir_ = ::openat(out, kFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(out);
    struct stat st;
    if (dir_ < 0 || ::fstat(dir_, &st) != 0 || !private_folder(dir_, st)) {
        err = std::string(kFolder) + " is not a private folder of ours";
        return false;
    }
    return true;
}

bool CheckpointFile::save(const Checkpoint& c, std::string& err) const {
    if (dir_ < 0) return err = "no checkpoint folder", false;
    int fd = ::openat(dir_, kTemp, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return err = std::string(kTemp) + ": " + std::strerror(errno), false;
    bool ok = write_all(fd, format_checkpoint(c)) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::renameat(dir_, kTemp, dir_, kName) == 0 && ::fsync(dir_) == 0;
    if (!ok) err = std::string(kName) + ": " + std::strerror(errno);
    return ok;
}

void CheckpointFile::remove() const {
    if (dir_ >= 0 && ::unlinkat(dir_, kName, 0) == 0) ::fsync(dir_);
}

bool CheckpointFile::load(Checkpoint& c, std::string& err) const {
    if (dir_ < 0) return err = "no checkpoint folder", false;
    int fd = ::openat(dir_, kName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return err = std::string(kName) + ": " + std::strerror(errno), false;
    struct stat st;
    std::string text;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= kMaxBytes;
    if (ok) {
        text.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (ok && got < text.size()) {
            ssize_t r = ::pread(fd, &text[got], text.size() - got, static_cast<off_t>(got));
            if (r < 0 && errno == EINTR) continue;
            ok = r > 0;
            if (ok) got += static_cast<size_t>(r);
        }
    }
    ::close(fd);
    if (!ok) return err = std::string(kName) + ": not a regular file of a checkpoint's size", false;
    return parse_checkpoint(text, c, err);
}

}  // namespace carver

namespace carver {
namespace {
constexpr auto kEveryTime = std::chrono::seconds(30);
}  // namespace

void ScanCheckpoints::begin(const std::string& out_dir, const std::string& identity, const std::string& command,
                            bool resume, uint64_t every_bytes) {
    std::string err;
    every_bytes_ = every_bytes;
    if (identity.empty()) return;
    open_ = file_.open(out_dir, err);
    if (!open_) {
        std::fprintf(stderr, "photo: no checkpoints: %s\n", err.c_str());
        return;
    }
    Checkpoint c;
    if (resume) {
        if (!file_.load(c, err))
            std::fprintf(stderr, "photo: nothing to go on from (%s); scanning from the start\n", err.c_str());
        else if (c.identity != identity || c.command != command || c.done)
            std::fprintf(stderr, "photo: the checkpoint is of another disk, command or a finished scan; scanning from the start\n");
        else
            resumed_ = true;
    }
    if (!resumed_) {  // an older one would name a report this scan replaces
        c = Checkpoint{};
        file_.remove();
    }
    c.identity = identity;
    c.command = command;
    last_ = std::move(c);
    saved_at_ = last_.position;
    saved_time_ = std::chrono::steady_clock::now();
}

void ScanCheckpoints::start_over() {
    resumed_ = false;
    Checkpoint c;
    c.identity = last_.identity;
    c.command = last_.command;
    last_ = std::move(c);
    saved_at_ = 0;
    file_.remove();
}

void ScanCheckpoints::at(uint64_t position, const State& state) {
    if (!open_ || (position < saved_at_ + every_bytes_ && std::chrono::steady_clock::now() - saved_time_ < kEveryTime))
        return;
    saved_at_ = position;
    saved_time_ = std::chrono::steady_clock::now();
    Checkpoint c;
    if (state(c)) save(position, std::move(c), false);
}

void ScanCheckpoints::finish(uint64_t position) {
    if (open_) save(position, Checkpoint{}, true);
}

bool ScanCheckpoints::save(uint64_t position, Checkpoint c, bool done) {
    c.identity = last_.identity;
    c.command = last_.command;
    c.position = position / 512 * 512;
    c.done = done;
    auto past = [&](const std::pair<uint64_t, uint64_t>& r) { return r.second <= c.position; };
    c.claimed.erase(std::remove_if(c.claimed.begin(), c.claimed.end(), past), c.claimed.end());
    if (c.claimed.size() > kMaxClaimed) c.claimed.resize(kMaxClaimed);
    if (c.unread.size() > kMaxUnread || c.deferred.size() > kMaxUnread) return false;
    std::string err;
    if (!file_.save(c, err)) {
        std::fprintf(stderr, "photo: cannot save a checkpoint: %s\n", err.c_str());
        return false;
    }
    last_ = std::move(c);
    return true;
}

}  // namespace carver
