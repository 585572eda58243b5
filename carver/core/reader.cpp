#include "core/reader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <future>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace carver {

ssize_t default_read_at(int fd, void* buf, size_t n, uint64_t off) {
    return ::pread(fd, buf, n, static_cast<off_t>(off));
}

namespace {

constexpr size_t kRetryPiece = 64 * 1024;
constexpr size_t kProbe = 64 * 1024;  // piece read after a failure
constexpr size_t kBounce = 1u << 20;

ssize_t read_at_retrying(const Device& dev, int fd, void* buf, size_t n, uint64_t off) {
    for (;;) {
        ssize_t r = dev.read_at(fd, buf, n, off);
        if (r >= 0 || errno != EINTR) return r;
    }
}

// A direct read of any range: aligned ranges straight into buf, others
// through an aligned bounce buffer covering the sectors around them.
ssize_t read_direct(const Device& dev, uint8_t* buf, size_t n, uint64_t off) {
    const size_t a = dev.align;
    if (reinterpret_cast<uintptr_t>(buf) % a == 0 && n % a == 0 && off % a == 0)
        return read_at_retrying(dev, dev.direct_fd, buf, n, off);
    thread_local AlignedBytes bounce;
    if (bounce.size() < kBounce + a) bounce.resize(kBounce + a);
    uint64_t lo = off - off % a;
    size_t lead = static_cast<size_t>(off - lo);
    size_t want = std::min(n, kBounce - lead);
    size_t len = (lead + want + a - 1) / a * a;
    ssize_t r = read_at_retrying(dev, dev.direct_fd, bounce.data(), len, lo);
    // The aligned read reaches past the range on both sides: when it fails,
    // the range itself is read through the cache, so that an error next to
    // it (or a sector smaller than direct reads can be) stays outside.
    if (r < 0) return read_at_retrying(dev, dev.fd, buf, want, off);
    size_t got = static_cast<size_t>(r) > lead ? std::min(want, static_cast<size_t>(r) - lead) : 0;
    std::memcpy(buf, bounce.data() + lead, got);
    return static_cast<ssize_t>(got);
}

ssize_t read_once(const Device& dev, uint8_t* buf, size_t n, uint64_t off) {
    if (!dev.seekable) {
        for (;;) {
            ssize_t r = ::read(dev.fd, buf, n);
            if (r >= 0 || errno != EINTR) return r;
        }
    }
    if (dev.direct_fd >= 0) return read_direct(dev, buf, n, off);
    return read_at_retrying(dev, dev.fd, buf, n, off);
}

// Fills buf until n bytes, the end, or the first error (returns -1 with what was read in got).
ssize_t read_full(const Device& dev, uint8_t* buf, size_t n, uint64_t off, size_t& got,
                  const std::atomic<bool>& stop) {
    got = 0;
    while (got < n && !stop.load(std::memory_order_relaxed)) {
        ssize_t r = read_once(dev, buf + got, n - got, off + got);
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

size_t logical_block_size(int fd, const struct stat& st) {
    int size = 0;
    if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKSSZGET, &size) == 0 && size >= 512 &&
        static_cast<size_t>(size) <= kPageAlign && (size & (size - 1)) == 0)
        return static_cast<size_t>(size);
    return kPageAlign;  // image files: a page suits every file system that allows direct I/O
}

}  // namespace

CacheBypass bypass_cache(Device& dev, const std::string& path, const struct stat& st) {
    if (!dev.seekable || !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode))) return CacheBypass::None;
    // Pages cached before now go in any case: the walks' reads past the
    // window use the cache (read-ahead, and the copy of a long file reads it
    // again), and must start from the medium too. Only written-back pages
    // are dropped: nothing on the medium changes.
    if (S_ISBLK(st.st_mode)) ::ioctl(dev.fd, BLKFLSBUF, 0);
    ::posix_fadvise(dev.fd, 0, 0, POSIX_FADV_DONTNEED);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECT);
    if (fd >= 0) {
        struct stat same;
        Device probe = dev;
        probe.direct_fd = fd;
        probe.align = logical_block_size(fd, st);
        AlignedBytes buf(probe.align);
        // The path might name another file by now; and some file systems
        // accept O_DIRECT at open but refuse the reads (EINVAL).
        if (::fstat(fd, &same) == 0 && same.st_dev == st.st_dev && same.st_ino == st.st_ino &&
            same.st_rdev == st.st_rdev && read_at_retrying(probe, fd, buf.data(), buf.size(), 0) >= 0) {
            dev = probe;
            return CacheBypass::Direct;
        }
        ::close(fd);
    }
    return CacheBypass::Flushed;
}

bool device_gone(int err) { return err == ENODEV || err == ENOMEDIUM || err == ENXIO; }

namespace {

void mark_lost(const Device& dev, int err, uint64_t off) {
    int none = 0;
    if (dev.health->lost_errno.compare_exchange_strong(none, err)) dev.health->lost_at.store(off);
}

}  // namespace

size_t read_robust(const Device& dev, uint8_t* buf, size_t n, uint64_t off, uint64_t& bad_sectors,
                   const std::atomic<bool>& stop) {
    DeviceHealth& health = *dev.health;
    if (health.lost_errno.load()) return 0;
    size_t got = 0;
    if (read_full(dev, buf, n, off, got, stop) >= 0) {
        if (got > 0) health.failed_run.store(0);
        return got;
    }
    const int err = errno;
    if (!dev.seekable) return got;  // a pipe cannot be re-read; treat the error as its end
    if (device_gone(err)) {
        mark_lost(dev, err, off + got);
        return got;
    }
    size_t piece = n > kRetryPiece ? kRetryPiece : kSector;
    size_t done = got - got % kSector;
    if (n <= kSector) {  // one unreadable sector
        if (health.failed_run.fetch_add(1) + 1 >= kMaxFailedRun) {
            mark_lost(dev, err, off);
            return got;
        }
        std::memset(buf + got, 0, n - got);
        ++bad_sectors;
        return n;
    }
    while (done < n && !stop.load(std::memory_order_relaxed)) {
        size_t len = n - done < piece ? n - done : piece;
        size_t r = read_robust(dev, buf + done, len, off + done, bad_sectors, stop);
        done += r;
        if (r < len) break;
    }
    return done;
}

void Holes::add(uint64_t from, uint64_t to) {
    if (from >= to) return;
    std::lock_guard<std::mutex> lk(mu_);
    auto it = ranges_.upper_bound(from);
    if (it != ranges_.begin() && std::prev(it)->second >= from) --it;
    while (it != ranges_.end() && it->first <= to) {  // join what overlaps or touches
        from = std::min(from, it->first);
        to = std::max(to, it->second);
        bytes_ -= it->second - it->first;
        it = ranges_.erase(it);
    }
    if (ranges_.size() >= kMaxRanges && it != ranges_.begin()) {  // join with the one before
        auto before = std::prev(it);
        from = before->first;
        bytes_ -= before->second - before->first;
        ranges_.erase(before);
    }
    ranges_[from] = to;
    bytes_ += to - from;
}

void Holes::remove(uint64_t from, uint64_t to) {
    if (from >= to) return;
    std::lock_guard<std::mutex> lk(mu_);
    auto it = ranges_.upper_bound(from);
    if (it != ranges_.begin()) --it;
    while (it != ranges_.end() && it->first < to) {
        const uint64_t a = it->first, b = it->second;
        if (b <= from) {
            ++it;
            continue;
        }
        it = ranges_.erase(it);
        bytes_ -= b - a;
        if (a < from) {
            ranges_[a] = from;
            bytes_ += from - a;
        }
        if (b > to) {
            ranges_[to] = b;
            bytes_ += b - to;
            break;
        }
    }
}

uint64_t Holes::first_in(uint64_t from, uint64_t to) const {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = ranges_.upper_bound(from);
    if (it != ranges_.begin() && std::prev(it)->second > from) return from;
    return it != ranges_.end() && it->first < to ? it->first : UINT64_MAX;
}

bool Holes::holding(uint64_t at, uint64_t& from, uint64_t& to) const {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = ranges_.upper_bound(at);
    if (it == ranges_.begin() || std::prev(it)->second <= at) return false;
    --it;
    from = it->first;
    to = it->second;
    return true;
}

std::vector<std::pair<uint64_t, uint64_t>> Holes::list() const {
    std::lock_guard<std::mutex> lk(mu_);
    return {ranges_.begin(), ranges_.end()};
}

uint64_t Holes::bytes() const {
    std::lock_guard<std::mutex> lk(mu_);
    return bytes_;
}

size_t read_around_holes(const Device& dev, const Holes& holes, uint8_t* buf, size_t n, uint64_t off,
                         uint64_t* hole, const std::atomic<bool>& stop, Holes* learn) {
    *hole = UINT64_MAX;
    size_t done = 0;
    while (done < n && !stop.load(std::memory_order_relaxed) && !dev.health->lost_errno.load()) {
        const uint64_t at = off + done;
        uint64_t from, to;
        if (holes.holding(at, from, to)) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(n - done, to - at));
            std::memset(buf + done, 0, take);
            *hole = std::min(*hole, at);
            done += take;
            continue;
        }
        const uint64_t next = holes.first_in(at, off + n);
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n, next - off) - done);
        size_t got = 0;
        const ssize_t r = read_full(dev, buf + done, want, at, got, stop);
        done += got;
        if (r >= 0) {
            if (got < want) break;  // the device end
            continue;
        }
        if (!dev.seekable) break;
        if (device_gone(errno)) {
            mark_lost(dev, errno, at + got);
            break;
        }
        const size_t failed = std::min(kProbe, want - got);  // left to the reader's passes
        std::memset(buf + done, 0, failed);
        *hole = std::min(*hole, off + done);
        if (learn) learn->add(off + done, off + done + failed);
        done += failed;
    }
    return done;
}

namespace {

constexpr uint64_t kMaxSkip = 64ull << 20;    // the skip doubles up to this
constexpr size_t kTrimLevels[] = {1u << 20, kProbe, kSector};

using Clock = std::chrono::steady_clock;

uint64_t device_bytes(const Device& dev) {
    struct stat st;
    if (!dev.seekable || ::fstat(dev.fd, &st) != 0) return 0;
    if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
    uint64_t bytes = 0;
    if (S_ISBLK(st.st_mode) && ::ioctl(dev.fd, BLKGETSIZE64, &bytes) == 0) return bytes;
    return 0;
}

std::string mib(uint64_t bytes) {
    char s[32];
    std::snprintf(s, sizeof s, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return s;
}

}  // namespace

struct BlockReader::State {
    Device dev;
    size_t block_size;
    size_t depth;
    const std::atomic<bool>& stop;
    RetryLimits limits;
    uint64_t size = 0;  // 0: not known (a pipe)
    std::mutex mu;
    std::condition_variable cv;
    std::deque<BlockPtr> queue;
    std::vector<BlockPtr> pool;
    bool done = false;  // reader finished a pass or range: queue holds everything that remains
    bool quit = false;  // consumer gone
    std::atomic<uint64_t> bad{0};
    std::promise<void> exited;
    Holes holes;
    double first_pass_seconds = 0;
    uint64_t start = 0;  // where the first pass begins

    // The first pass's skip: where it ends, how long the next one is, and
    // whether the current block is being read in pieces.
    struct Skip {
        uint64_t until = 0;
        uint64_t step = kProbe;
        bool careful = false;
    } skip;

    // Carving again, after the retries (guarded by mu).
    bool retried = false;
    bool ranges_made = false;
    std::vector<std::pair<uint64_t, uint64_t>> pending;   // holes as the first pass left them
    std::vector<std::pair<uint64_t, uint64_t>> deferred;  // candidate start, hole it met
    std::deque<std::pair<uint64_t, uint64_t>> ranges;
    bool range_wanted = false;
    std::pair<uint64_t, uint64_t> range{0, 0};
    uint64_t generation = 0;  // of the range wanted: blocks of an older one are dropped
    uint64_t reading_to = 0;  // the end of the range being read (reader thread only)

    // The reader reads through its own duplicate of the device's descriptor:
    // a thread left blocked in read() at exit must never see the caller's
    // descriptor closed under it (and its number reused by another file).
    std::vector<std::pair<uint64_t, uint64_t>> already;

    State(Device d, size_t b, size_t q, const std::atomic<bool>& s, RetryLimits l,
          std::vector<std::pair<uint64_t, uint64_t>> a)
        : dev(std::move(d)), block_size(b), depth(q), stop(s), limits(l), already(std::move(a)) {
        const int own = ::fcntl(dev.fd, F_DUPFD_CLOEXEC, 0);
        if (own >= 0) {
            dev.fd = own;
            owns_fd = true;
        }
        if (dev.direct_fd >= 0) {
            const int direct = ::fcntl(dev.direct_fd, F_DUPFD_CLOEXEC, 0);
            if (direct >= 0) {
                dev.direct_fd = direct;
                owns_direct = true;
            }
        }
        size = device_bytes(dev);
    }
    ~State() {
        if (owns_fd) ::close(dev.fd);
        if (owns_direct) ::close(dev.direct_fd);
    }
    bool owns_fd = false;
    bool owns_direct = false;

    bool stopping() const { return stop.load(std::memory_order_relaxed) || dev.health->lost_errno.load(); }

    // The end of the range read before that holds `at`, or 0.
    uint64_t read_before(uint64_t at) const {
        auto it = std::upper_bound(already.begin(), already.end(), std::make_pair(at, UINT64_MAX));
        return it != already.begin() && std::prev(it)->second > at ? std::prev(it)->second : 0;
    }

    void leave_hole(Block& b, uint64_t from, uint64_t to, bool unread = true) {
        std::memset(b.data.data() + (from - b.off), 0, static_cast<size_t>(to - from));
        if (unread) holes.add(from, to);
        if (!b.holes.empty() && b.holes.back().second == from) b.holes.back().second = to;
        else b.holes.emplace_back(from, to);
    }

    size_t read_first_pass(Block& b);
    size_t read_again(Block& b);
    void retry();
    void retry_area(uint64_t from, uint64_t to, Clock::time_point deadline);
    bool read_range(uint64_t from, uint64_t to);
    uint64_t trim(uint64_t from, uint64_t to, bool backward, unsigned& failures);
    void make_ranges();
    BlockPtr take_block();
    bool hand_over(BlockPtr b, uint64_t gen);
    bool read_blocks(uint64_t from, uint64_t to, size_t (State::*read)(Block&), uint64_t gen);
};

// One block of the first pass. A failed read is done again in pieces; a
// piece that fails starts a skip over the range after it, twice as long as
// the skip before when no read succeeded in between.
size_t BlockReader::State::read_first_pass(Block& b) {
    size_t n = block_size;
    if (size) n = static_cast<size_t>(std::min<uint64_t>(n, size > b.off ? size - b.off : 0));
    size_t pos = 0;
    skip.careful = false;
    while (pos < n && !stopping()) {
        const uint64_t at = b.off + pos;
        if (const uint64_t end = read_before(at)) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(n - pos, end - at));
            leave_hole(b, at, at + take, false);
            pos += take;
            continue;
        }
        if (at < skip.until) {
            const size_t take = static_cast<size_t>(std::min<uint64_t>(n - pos, skip.until - at));
            leave_hole(b, at, at + take);
            pos += take;
            continue;
        }
        size_t piece = skip.careful ? std::min(kProbe, n - pos) : n - pos;
        if (!already.empty()) {  // up to the next range read before
            auto it = std::upper_bound(already.begin(), already.end(), std::make_pair(at, UINT64_MAX));
            if (it != already.end()) piece = static_cast<size_t>(std::min<uint64_t>(piece, it->first - at));
        }
        size_t got = 0;
        if (read_full(dev, b.data.data() + pos, piece, at, got, stop) >= 0) {
            pos += got;
            if (got < piece) break;  // the device end
            skip.step = kProbe;
            continue;
        }
        const int err = errno;
        if (!dev.seekable) return pos + got;  // a pipe cannot be re-read; treat the error as its end
        if (device_gone(err)) {
            mark_lost(dev, err, at + got);
            return pos + got;
        }
        const size_t piece_end = pos + piece;
        pos += got - got % kSector;
        if (!skip.careful) {
            skip.careful = true;
            continue;
        }
        const size_t failed = piece_end - pos;
        leave_hole(b, b.off + pos, b.off + pos + failed);
        pos += failed;
        skip.until = b.off + pos + skip.step;
        if (size) skip.until = std::min(skip.until, size);
        skip.step = std::min(skip.step * 2, kMaxSkip);
    }
    return pos;
}

// One block of a range read again, up to its end: the holes left are final.
size_t BlockReader::State::read_again(Block& b) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(block_size, reading_to > b.off ? reading_to - b.off : 0));
    if (size) n = static_cast<size_t>(std::min<uint64_t>(n, size > b.off ? size - b.off : 0));
    uint64_t hole = UINT64_MAX;
    const size_t got = read_around_holes(dev, holes, b.data.data(), n, b.off, &hole, stop, &holes);
    if (hole != UINT64_MAX) {
        for (const auto& [from, to] : holes.list())
            if (to > b.off && from < b.off + got)
                b.holes.emplace_back(std::max(from, b.off), std::min(to, b.off + got));
    }
    return got;
}

// Reads pieces from one edge of [from, to) inward, in smaller pieces after
// each failure, down to single sectors, until one sector fails. A level is
// passed over when its piece would be the whole range (it failed before).
// Returns the new edge: the range still unread is [from, edge) or [edge, to).
uint64_t BlockReader::State::trim(uint64_t from, uint64_t to, bool backward, unsigned& failures) {
    thread_local AlignedBytes buf;
    for (size_t piece : kTrimLevels) {
        if (buf.size() < piece) buf.resize(piece);
        while (from < to && !stopping()) {
            const size_t len = static_cast<size_t>(std::min<uint64_t>(piece, to - from));
            if (len == to - from && piece != kSector) break;
            const uint64_t at = backward ? to - len : from;
            size_t got = 0;
            if (read_full(dev, buf.data(), len, at, got, stop) < 0 || got < len) {
                ++failures;
                if (piece == kSector) return backward ? to : from;
                break;
            }
            holes.remove(at, at + len);
            (backward ? to : from) = backward ? at : at + len;
        }
    }
    return backward ? to : from;
}

// Trims the area from both ends, then probes what is left in the middle,
// trimming outward from each probe that reads, until the area's failures
// or the time run out.
void BlockReader::State::retry_area(uint64_t from, uint64_t to, Clock::time_point deadline) {
    struct Work {
        uint64_t from, to;
        bool front, back;  // whether the edge lies next to data read
    };
    std::deque<Work> work{{from, to, true, true}};
    unsigned failures = 0;
    thread_local AlignedBytes buf;
    if (buf.size() < kProbe) buf.resize(kProbe);
    while (!work.empty() && failures < limits.tries_per_area && Clock::now() < deadline && !stopping()) {
        Work w = work.front();
        work.pop_front();
        if (w.back) w.to = trim(w.from, w.to, true, failures);
        if (w.front && w.from < w.to) w.from = trim(w.from, w.to, false, failures);
        if (w.to - w.from <= (w.front || w.back ? kSector : 0)) continue;  // that sector failed already
        const uint64_t mid = (w.from + (w.to - w.from) / 2) / kSector * kSector;
        const size_t probe = static_cast<size_t>(std::min<uint64_t>(kProbe, w.to - mid));
        size_t got = 0;
        const bool ok = read_full(dev, buf.data(), probe, mid, got, stop) >= 0 && got == probe;
        if (ok) holes.remove(mid, mid + probe);
        else ++failures;
        if (mid > w.from) work.push_back({w.from, mid, false, ok});
        if (mid + probe < w.to) work.push_back({mid + probe, w.to, ok, false});
    }
}

void BlockReader::State::retry() {
    const std::vector<std::pair<uint64_t, uint64_t>> areas = holes.list();
    if (!areas.empty() && !stopping()) {
        const double seconds = limits.seconds >= 0 ? limits.seconds : 30.0 + first_pass_seconds / 10;
        std::fprintf(stderr, "photo: %s in %zu areas could not be read; reading them again for up to %.0f s\n",
                     mib(holes.bytes()).c_str(), areas.size(), seconds);
        const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(seconds));
        for (const auto& [from, to] : areas) retry_area(from, to, deadline);
        std::fprintf(stderr, "photo: %s could not be read\n", mib(holes.bytes()).c_str());
    }
    holes.make_final();
    bad.store(holes.bytes() / kSector);
    std::lock_guard<std::mutex> lk(mu);
    pending = areas;
    retried = true;
    cv.notify_all();
}

// The ranges to carve again: each area the first pass left, and from each
// deferred candidate to the end of the area its walk met; joined.
void BlockReader::State::make_ranges() {
    std::vector<std::pair<uint64_t, uint64_t>> all = pending;
    for (const auto& [start, hole] : deferred) {
        auto it = std::upper_bound(pending.begin(), pending.end(), std::make_pair(hole, UINT64_MAX));
        const bool inside = it != pending.begin() && std::prev(it)->second > hole;
        all.emplace_back(start, inside ? std::prev(it)->second : hole + kSector);
    }
    std::sort(all.begin(), all.end());
    for (const auto& r : all) {
        if (!ranges.empty() && r.first <= ranges.back().second)
            ranges.back().second = std::max(ranges.back().second, r.second);
        else
            ranges.push_back(r);
    }
    ranges_made = true;
}

BlockPtr BlockReader::State::take_block() {
    std::unique_lock<std::mutex> lk(mu);
    while (queue.size() >= depth && !quit && !stop.load()) cv.wait_for(lk, std::chrono::milliseconds(50));
    if (quit || stop.load()) return nullptr;
    BlockPtr b;
    if (!pool.empty()) {
        b = std::move(pool.back());
        pool.pop_back();
    }
    lk.unlock();
    if (!b) {
        b = std::make_shared<Block>();
        b->data.resize(block_size);
    }
    b->holes.clear();
    return b;
}

bool BlockReader::State::hand_over(BlockPtr b, uint64_t gen) {
    std::lock_guard<std::mutex> lk(mu);
    if (gen != generation) {
        pool.push_back(std::move(b));
        return false;
    }
    if (b->len > 0) queue.push_back(std::move(b));
    cv.notify_all();
    return true;
}

// Reads [from, to) (to: UINT64_MAX for the whole device) block by block into
// the queue; false when it ended early (stop, or the consumer gone).
bool BlockReader::State::read_blocks(uint64_t from, uint64_t to, size_t (State::*read)(Block&), uint64_t gen) {
    for (uint64_t off = from; off < to;) {
        BlockPtr b = take_block();
        if (!b) return false;
        b->off = off;
        const size_t n = (this->*read)(*b);
        b->len = n;
        off += n;
        bad.store(holes.bytes() / kSector);
        if (!hand_over(std::move(b), gen)) return false;  // the consumer went on to another range
        if (n < block_size) break;  // whole blocks until the end
    }
    return true;
}

BlockReader::BlockReader(Device dev, size_t block_size, size_t depth, const std::atomic<bool>& stop,
                         RetryLimits limits, std::vector<std::pair<uint64_t, uint64_t>> already, ReadStart start)
    : s_(std::make_shared<State>(std::move(dev), block_size, depth, stop, limits, std::move(already))) {
    s_->start = start.at;
    for (const auto& [from, to] : start.unread) s_->holes.add(from, to);
    s_->deferred = std::move(start.deferred);
    thread_ = std::thread(run, s_);
}

BlockReader::~BlockReader() {
    {
        std::lock_guard<std::mutex> lk(s_->mu);
        s_->quit = true;
    }
    s_->cv.notify_all();
    // A read blocked on a slow device or an idle pipe must not hold up the exit:
    // after a short grace the thread is left to end with the process.
    auto exited = s_->exited.get_future();
    if (exited.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready)
        thread_.join();
    else
        thread_.detach();
}

void BlockReader::run(std::shared_ptr<State> s) {
    const auto began = Clock::now();
    const bool whole = s->read_blocks(s->start, UINT64_MAX, &State::read_first_pass, 0);
    {
        std::lock_guard<std::mutex> lk(s->mu);
        s->done = true;
    }
    s->cv.notify_all();
    s->first_pass_seconds = std::chrono::duration<double>(Clock::now() - began).count();
    if (whole) s->retry();
    for (;;) {
        std::unique_lock<std::mutex> lk(s->mu);
        while (!s->range_wanted && !s->quit && !s->stop.load()) s->cv.wait_for(lk, std::chrono::milliseconds(50));
        if (s->quit || s->stop.load()) break;
        s->range_wanted = false;
        const auto range = s->range;
        const uint64_t gen = s->generation;
        lk.unlock();
        s->reading_to = range.second;
        s->read_blocks(range.first / kSector * kSector, range.second, &State::read_again, gen);
        lk.lock();
        if (gen == s->generation) s->done = true;
        s->cv.notify_all();
    }
    {
        std::lock_guard<std::mutex> lk(s->mu);
        s->done = true;
        s->retried = true;
    }
    s->cv.notify_all();
    s->exited.set_value();
}

BlockPtr BlockReader::next() {
    std::unique_lock<std::mutex> lk(s_->mu);
    while (s_->queue.empty() && !s_->done && !s_->stop.load())
        s_->cv.wait_for(lk, std::chrono::milliseconds(50));
    if (s_->queue.empty() || s_->stop.load()) return nullptr;
    BlockPtr b = std::move(s_->queue.front());
    s_->queue.pop_front();
    lk.unlock();
    s_->cv.notify_all();
    return b;
}

bool BlockReader::next_range(uint64_t& limit) {
    std::unique_lock<std::mutex> lk(s_->mu);
    while (!s_->retried && !s_->stop.load()) s_->cv.wait_for(lk, std::chrono::milliseconds(50));
    if (s_->stop.load() || s_->dev.health->lost_errno.load()) return false;
    if (!s_->ranges_made) s_->make_ranges();
    if (s_->ranges.empty()) return false;
    s_->queue.clear();
    s_->range = s_->ranges.front();
    s_->ranges.pop_front();
    s_->range_wanted = true;
    ++s_->generation;
    s_->done = false;
    limit = s_->range.second;
    lk.unlock();
    s_->cv.notify_all();
    return true;
}

void BlockReader::defer(uint64_t start, uint64_t hole) {
    std::lock_guard<std::mutex> lk(s_->mu);
    if (s_->deferred.size() < (1u << 16)) s_->deferred.emplace_back(start, hole);
}

std::vector<std::pair<uint64_t, uint64_t>> BlockReader::deferred() const {
    std::lock_guard<std::mutex> lk(s_->mu);
    return s_->deferred;
}

const Holes& BlockReader::holes() const { return s_->holes; }

void BlockReader::recycle(BlockPtr b) {
    if (!b || b.use_count() != 1) return;
    std::lock_guard<std::mutex> lk(s_->mu);
    s_->pool.push_back(std::move(b));
}

uint64_t BlockReader::bad_sectors() const { return s_->bad.load(); }

}  // namespace carver
