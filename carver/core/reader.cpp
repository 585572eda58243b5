#include "core/reader.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>

#include <fcntl.h>
#include <unistd.h>

namespace carver {

ssize_t default_read_at(int fd, void* buf, size_t n, uint64_t off) {
    return ::pread(fd, buf, n, static_cast<off_t>(off));
}

namespace {

constexpr size_t kRetryPiece = 64 * 1024;

ssize_t read_once(const Device& dev, uint8_t* buf, size_t n, uint64_t off) {
    for (;;) {
        ssize_t r = dev.seekable ? dev.read_at(dev.fd, buf, n, off) : ::read(dev.fd, buf, n);
        if (r >= 0 || errno != EINTR) return r;
    }
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

}  // namespace

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
    }
    ~State() {
        if (owns_fd) ::close(dev.fd);
    }
    bool owns_fd = false;
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
    if (s_->pool.size() < s_->depth) s_->pool.push_back(std::move(b));
}

uint64_t BlockReader::bad_sectors() const { return s_->bad.load(); }

}  // namespace carver
