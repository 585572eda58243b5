#include "core/imaging.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/progress.h"
#include "core/scan.h"

namespace carver {
namespace {

constexpr size_t kMaxMapLines = 1u << 22;
constexpr size_t kMaxMapBytes = 256u << 20;
constexpr auto kMapEvery = std::chrono::seconds(30);

bool valid_status(char c) { return c == '?' || c == '*' || c == '/' || c == '-' || c == '+'; }

// Reads a whole small file opened without following links; false if not a regular file.
bool read_small_file(int fd, std::string& text) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kMaxMapBytes) return false;
    text.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < text.size()) {
        ssize_t r = ::pread(fd, &text[got], text.size() - got, static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

uint64_t size_of(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return 0;
    if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
    uint64_t bytes = 0;
    if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, &bytes) == 0) return bytes;
    return 0;
}

ImagingResult fail(ImagingStatus st, std::string msg) {
    ImagingResult r;
    r.status = st;
    r.message = std::move(msg);
    return r;
}

// The copy's state: ranges written to the image, and the reader's holes.
class CopyMap {
public:
    CopyMap(std::string path, uint64_t size) : path_(std::move(path)), size_(size) {}
    Holes& done() { return done_; }

    // Writes the map beside its final name, flushes it and puts it in place.
    bool save(const Holes& holes, uint64_t current, bool finished, std::string& err) const {
        std::vector<MapRange> ranges;
        for (const auto& [from, to] : done_.list()) ranges.push_back({from, to - from, '+'});
        const char bad = holes.final() ? '-' : '*';
        for (const auto& [from, to] : holes.list()) ranges.push_back({from, to - from, bad});
        std::sort(ranges.begin(), ranges.end(), [](const MapRange& a, const MapRange& b) { return a.pos < b.pos; });
        std::vector<MapRange> whole;
        uint64_t at = 0;
        for (const MapRange& r : ranges) {
            if (r.pos > at) whole.push_back({at, r.pos - at, '?'});
            whole.push_back(r);
            at = r.pos + r.size;
        }
        if (size_ > at) whole.push_back({at, size_ - at, '?'});
        const std::string text = format_map(whole, current, finished);
        std::string tmp = path_ + ".XXXXXX";
        int fd = ::mkostemp(&tmp[0], O_CLOEXEC);
        if (fd < 0) {
            err = "cannot write the map file " + path_ + ": " + std::strerror(errno);
            return false;
        }
        bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        ok = ok && ::rename(tmp.c_str(), path_.c_str()) == 0;
        if (!ok) {
            err = "cannot write the map file " + path_ + ": " + std::strerror(errno);
            ::unlink(tmp.c_str());
            return false;
        }
        int dir = ::open(folder_of(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return true;
    }

private:
    std::string path_;
    uint64_t size_;
    Holes done_;
};

bool write_all(int fd, const uint8_t* p, size_t n, uint64_t off) {
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, n, static_cast<off_t>(off));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
        off += static_cast<uint64_t>(w);
    }
    return true;
}

// Writes a block's bytes that were read (not its holes) at their place.
bool write_block(int fd, const Block& b, Holes& done) {
    uint64_t at = b.off;
    auto put = [&](uint64_t to) {
        if (to <= at) return true;
        if (!write_all(fd, b.data.data() + (at - b.off), static_cast<size_t>(to - at), at)) return false;
        done.add(at, to);
        return true;
    };
    for (const auto& [from, to] : b.holes) {
        if (!put(std::min(from, b.off + b.len))) return false;
        at = std::max(at, to);
    }
    return put(b.off + b.len);
}

// Opens the image (fresh, or the one being continued) and the map's earlier state.
bool open_outputs(const ImagingOptions& opt, int& image, std::vector<MapRange>& earlier, bool& resumed,
                  std::string& err) {
    int map = ::open(opt.map.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    resumed = map >= 0;
    if (resumed) {
        std::string text;
        bool ok = read_small_file(map, text);
        ::close(map);
        if (!ok) return err = opt.map + ": not a regular map file", false;
        if (!parse_map(text, earlier, err)) return err = opt.map + ": " + err, false;
        image = ::open(opt.image.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        struct stat st;
        if (image < 0 || ::fstat(image, &st) != 0 || !S_ISREG(st.st_mode))
            return err = opt.image + ": not a regular image file to continue", false;
        ::fcntl(image, F_SETFL, 0);
        return true;
    }
    if (errno != ENOENT) return err = opt.map + ": " + std::strerror(errno), false;
    image = ::open(opt.image.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (image < 0) return err = opt.image + ": " + std::strerror(errno), false;
    map = ::open(opt.map.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (map < 0) {
        err = opt.map + ": " + std::strerror(errno);
        ::close(image);
        ::unlink(opt.image.c_str());
        return false;
    }
    ::close(map);
    return true;
}

}  // namespace

bool parse_map(const std::string& text, std::vector<MapRange>& ranges, std::string& err) {
    ranges.clear();
    bool status_line = false;
    size_t lines = 0;
    uint64_t end = 0;
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        const std::string line = text.substr(at, nl - at);
        at = nl + 1;
        if (line.empty() || line[0] == '#') continue;
        if (++lines > kMaxMapLines) return err = "too many lines", false;
        char* p = const_cast<char*>(line.c_str());
        errno = 0;
        const uint64_t pos = std::strtoull(p, &p, 0);
        if (errno || p == line.c_str()) return err = "bad line: " + line.substr(0, 80), false;
        if (!status_line) {  // current position and status (and pass): not needed to go on
            status_line = true;
            continue;
        }
        const char* before = p;
        const uint64_t size = std::strtoull(p, &p, 0);
        while (*p == ' ' || *p == '\t') ++p;
        if (errno || p == before || size == 0 || !valid_status(*p) || pos < end || pos + size < pos)
            return err = "bad line: " + line.substr(0, 80), false;
        end = pos + size;
        ranges.push_back({pos, size, *p});
    }
    if (!status_line) return err = "no status line", false;
    return true;
}

std::string format_map(const std::vector<MapRange>& ranges, uint64_t current, bool finished) {
    std::string out = "# Mapfile. Created by photo\n";
    out += finished ? "# Finished\n" : "# Copying\n";
    out += "# current_pos  current_status  current_pass\n";
    char line[96];
    std::snprintf(line, sizeof line, "0x%08" PRIX64 "     %c               1\n", current, finished ? '+' : '?');
    out += line;
    out += "#      pos        size  status\n";
    for (const MapRange& r : ranges) {
        std::snprintf(line, sizeof line, "0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", r.pos, r.size, r.status);
        out += line;
    }
    return out;
}

ImagingResult run_imaging(const ImagingOptions& opt, const std::atomic<bool>& stop) {
    Device dev;
    dev.read_at = opt.read_at;
    dev.fd = ::open(opt.device.c_str(), O_RDONLY | O_CLOEXEC);
    if (dev.fd < 0) return fail(ImagingStatus::BadInput, opt.device + ": " + std::strerror(errno));
    DeviceCloser closer{dev};
    struct stat st;
    if (::fstat(dev.fd, &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode)))
        return fail(ImagingStatus::BadInput, opt.device + ": not a device or disk image");
    for (const std::string* out : {&opt.image, &opt.map})
        if (S_ISBLK(st.st_mode) && path_on_block_device(folder_of(*out), st.st_rdev))
            return fail(ImagingStatus::BadInput, *out + " is on the device being copied");
    const uint64_t size = size_of(dev.fd);

    int image = -1;
    std::vector<MapRange> earlier;
    bool resumed = false;
    std::string err;
    if (!open_outputs(opt, image, earlier, resumed, err)) return fail(ImagingStatus::BadInput, err);
    struct ImageCloser {
        int fd;
        ~ImageCloser() { ::close(fd); }
    } image_closer{image};
    struct stat ist;
    if (::fstat(image, &ist) == 0 && ist.st_dev == st.st_dev && ist.st_ino == st.st_ino)
        return fail(ImagingStatus::BadInput, opt.image + " is the device being copied");
    if (!resumed && size && ::ftruncate(image, static_cast<off_t>(size)) != 0)
        return fail(ImagingStatus::OutputFailed, opt.image + ": " + std::strerror(errno));

    bypass_cache(dev, opt.device, st);

    CopyMap map(opt.map, size);
    std::vector<std::pair<uint64_t, uint64_t>> already;
    for (const MapRange& r : earlier)
        if (r.status == '+') {
            already.emplace_back(r.pos, r.pos + r.size);
            map.done().add(r.pos, r.pos + r.size);
        }

    ImagingResult res;
    res.status = ImagingStatus::Complete;
    BlockReader reader(dev, opt.block_size, 4, stop, opt.retry, already);
    auto saved = std::chrono::steady_clock::now();
    uint64_t pos = 0, limit = 0;
    bool again = false;
    for (;;) {
        BlockPtr b = reader.next();
        if (!b) {
            if (stop.load() || !reader.next_range(limit)) break;
            again = true;
            continue;
        }
        if (!write_block(image, *b, map.done()))
            return fail(ImagingStatus::OutputFailed, opt.image + ": " + std::strerror(errno));
        if (!again) pos = b->off + b->len;
        progress().at(dev.fd, pos, reader.holes().bytes());
        reader.recycle(std::move(b));
        if (std::chrono::steady_clock::now() - saved >= kMapEvery) {
            if (!map.save(reader.holes(), pos, false, err)) return fail(ImagingStatus::OutputFailed, err);
            saved = std::chrono::steady_clock::now();
        }
    }
    res.unreadable = reader.holes().bytes();
    progress().finish(res.unreadable);
    const bool finished = !stop.load() && !dev.health->lost_errno.load();
    if (::fsync(image) != 0) return fail(ImagingStatus::OutputFailed, opt.image + ": " + std::strerror(errno));
    if (!map.save(reader.holes(), pos, finished, err)) return fail(ImagingStatus::OutputFailed, err);
    if (stop.load()) res.status = ImagingStatus::Stopped;
    else if (int lost = dev.health->lost_errno.load())
        return fail(ImagingStatus::BadInput, opt.device + ": the device stopped answering (" +
                                                 std::string(std::strerror(lost)) + "); the copy is incomplete");
    else if (res.unreadable) res.status = ImagingStatus::SomeUnreadable;
    return res;
}

}  // namespace carver
