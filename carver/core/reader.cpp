#include "core/reader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
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
    // The retries of a failing range end in single sectors, smaller than a
    // direct read can be: those go through the cache to keep errors to the sector.
    if (r < 0 && n <= kSector) return read_at_retrying(dev, dev.fd, buf, n, off);
    if (r < 0) return r;
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

size_t read_robust(const Device& dev, uint8_t* buf, size_t n, uint64_t off, uint64_t& bad_sectors,
                   const std::atomic<bool>& stop) {
    size_t got = 0;
    if (read_full(dev, buf, n, off, got, stop) >= 0) return got;
    if (!dev.seekable) return got;  // a pipe cannot be re-read; treat the error as its end
    size_t piece = n > kRetryPiece ? kRetryPiece : kSector;
    size_t done = got - got % kSector;
    if (n <= kSector) {  // one unreadable sector
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

struct BlockReader::State {
    Device dev;
    size_t block_size;
    size_t depth;
    const std::atomic<bool>& stop;
    std::mutex mu;
    std::condition_variable cv;
    std::deque<BlockPtr> queue;
    std::vector<BlockPtr> pool;
    bool done = false;  // reader finished: queue holds everything that remains
    bool quit = false;  // consumer gone
    std::atomic<uint64_t> bad{0};
    std::promise<void> exited;

    // The reader reads through its own duplicate of the device's descriptor:
    // a thread left blocked in read() at exit must never see the caller's
    // descriptor closed under it (and its number reused by another file).
    State(Device d, size_t b, size_t q, const std::atomic<bool>& s)
        : dev(std::move(d)), block_size(b), depth(q), stop(s) {
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
    }
    ~State() {
        if (owns_fd) ::close(dev.fd);
        if (owns_direct) ::close(dev.direct_fd);
    }
    bool owns_fd = false;
    bool owns_direct = false;
};

BlockReader::BlockReader(Device dev, size_t block_size, size_t depth, const std::atomic<bool>& stop)
    : s_(std::make_shared<State>(std::move(dev), block_size, depth, stop)) {
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
    uint64_t off = 0;
    uint64_t bad = 0;
    for (;;) {
        BlockPtr b;
        {
            std::unique_lock<std::mutex> lk(s->mu);
            while (s->queue.size() >= s->depth && !s->quit && !s->stop.load())
                s->cv.wait_for(lk, std::chrono::milliseconds(50));
            if (s->quit || s->stop.load()) break;
            if (!s->pool.empty()) {
                b = std::move(s->pool.back());
                s->pool.pop_back();
            }
        }
        if (!b) {
            b = std::make_shared<Block>();
            b->data.resize(s->block_size);
        }
        size_t n = read_robust(s->dev, b->data.data(), s->block_size, off, bad, s->stop);
        s->bad.store(bad);
        b->off = off;
        b->len = n;
        off += n;
        std::lock_guard<std::mutex> lk(s->mu);
        if (n > 0) s->queue.push_back(std::move(b));
        if (n < s->block_size) break;  // read_robust fills whole blocks until the end
        s->cv.notify_all();
    }
    {
        std::lock_guard<std::mutex> lk(s->mu);
        s->done = true;
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

void BlockReader::recycle(BlockPtr b) {
    if (!b || b.use_count() != 1) return;
    std::lock_guard<std::mutex> lk(s_->mu);
    s_->pool.push_back(std::move(b));
}

uint64_t BlockReader::bad_sectors() const { return s_->bad.load(); }

}  // namespace carver
