#pragma once
// Sequential block reading of the device on a thread of its own, with a bounded
// queue to the scanner, and read errors retried in smaller pieces.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace carver {

constexpr size_t kSector = 512;
constexpr size_t kPageAlign = 4096;  // direct reads need this much alignment at most in practice

// Page-aligned storage, so blocks can be read with direct I/O without a copy.
template <class T> struct PageAllocator {
    using value_type = T;
    PageAllocator() = default;
    template <class U> PageAllocator(const PageAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(kPageAlign))); }
    void deallocate(T* p, size_t) { ::operator delete(p, std::align_val_t(kPageAlign)); }
    // Left uninitialised: every byte is read into before it is used.
    template <class U> void construct(U*) noexcept {}
    template <class U, class A, class... As> void construct(U* p, A&& a, As&&... as) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a), std::forward<As>(as)...);
    }
    template <class U> bool operator==(const PageAllocator<U>&) const { return true; }
    template <class U> bool operator!=(const PageAllocator<U>&) const { return false; }
};
using AlignedBytes = std::vector<uint8_t, PageAllocator<uint8_t>>;

// The read call, replaceable so that tests can inject failing sectors.
using ReadAtFn = std::function<ssize_t(int fd, void* buf, size_t n, uint64_t off)>;
ssize_t default_read_at(int fd, void* buf, size_t n, uint64_t off);

// Whether the device still answers, shared by every copy of a Device (the
// block reader and the walks read on their own threads).
struct DeviceHealth {
    std::atomic<int> lost_errno{0};      // non-zero: stop reading; the scan is incomplete
    std::atomic<uint64_t> lost_at{0};    // offset of the read that showed it
    std::atomic<uint64_t> failed_run{0}; // consecutive sectors that failed
};

// Errors that mean the device is gone (unplugged, card pulled), and how many
// unreadable sectors in a row count as the same: retrying every remaining
// sector of a dead device would take as long as the scan and find nothing.
bool device_gone(int err);
constexpr uint64_t kMaxFailedRun = 16384;  // 8 MiB

struct Device {
    int fd = -1;
    bool seekable = true;  // false for pipes: read strictly in order, no random access
    // The same device opened with O_DIRECT (-1: none), and the alignment its
    // reads need. When set, every read goes through it, so that a page cache
    // filled before files were written on the medium is never read back.
    int direct_fd = -1;
    size_t align = 0;
    ReadAtFn read_at = default_read_at;
    std::shared_ptr<DeviceHealth> health = std::make_shared<DeviceHealth>();
};

// Closes a Device's descriptors (the direct one too, once opened) at scope exit.
struct DeviceCloser {
    const Device& dev;
    ~DeviceCloser() {
        if (dev.fd >= 0) ::close(dev.fd);
        if (dev.direct_fd >= 0) ::close(dev.direct_fd);
    }
};

// How the scan bypasses cached pages of the device.
enum class CacheBypass { Direct, Flushed, None };

// Drops the device's cached pages (BLKFLSBUF, POSIX_FADV_DONTNEED), then
// opens dev.direct_fd for a seekable block device or image file and proves it
// with one aligned read. Where the kernel refuses direct I/O (tmpfs, some
// file systems) the flushed cache alone keeps the reads that follow fresh.
CacheBypass bypass_cache(Device& dev, const std::string& path, const struct stat& st);

// Byte ranges of the device that hold no data read from it: pending while
// the first pass has only skipped or failed them, unreadable once the
// retries are over. Shared by the reader thread and the scan; bounded in
// size (past the bound, neighbouring ranges are joined).
class Holes {
public:
    void add(uint64_t from, uint64_t to);
    void remove(uint64_t from, uint64_t to);  // read after all
    // The first byte of a hole inside [from, to); UINT64_MAX when none.
    uint64_t first_in(uint64_t from, uint64_t to) const;
    // The hole holding `at`, as [from, to); false when `at` was read.
    bool holding(uint64_t at, uint64_t& from, uint64_t& to) const;
    std::vector<std::pair<uint64_t, uint64_t>> list() const;
    uint64_t bytes() const;
    // Retries are over: what is left cannot be read.
    void make_final() { final_.store(true); }
    bool final() const { return final_.load(); }

private:
    static constexpr size_t kMaxRanges = 1u << 20;
    mutable std::mutex mu_;
    std::map<uint64_t, uint64_t> ranges_;  // start -> end, disjoint, not touching
    uint64_t bytes_ = 0;
    std::atomic<bool> final_{false};
};

struct Block {
    uint64_t off = 0;
    size_t len = 0;
    AlignedBytes data;
    // Ranges of this block that were not read (zero-filled), absolute.
    std::vector<std::pair<uint64_t, uint64_t>> holes;
    bool in_hole(uint64_t at) const {
        for (const auto& [from, to] : holes)
            if (at >= from && at < to) return true;
        return false;
    }
};
using BlockPtr = std::shared_ptr<Block>;

// How long the reader returns to unreadable areas after the first pass, and
// how often it may fail in one area.
struct RetryLimits {
    double seconds = -1;      // < 0: 30 s plus a tenth of the first pass
    unsigned tries_per_area = 24;
};

// Reads n bytes at off around the known holes: those and pieces that fail
// now are zero-filled, without retries; *hole gets the first such byte
// (UINT64_MAX: none), and `learn`, when given, the pieces that failed.
// Returns the bytes filled: fewer only at the device end or once it is lost.
size_t read_around_holes(const Device& dev, const Holes& holes, uint8_t* buf, size_t n, uint64_t off,
                         uint64_t* hole, const std::atomic<bool>& stop, Holes* learn = nullptr);

// Reads n bytes at off. A failing range is retried in 64 KiB, then 512-byte
// pieces; sectors that still fail are zero-filled and counted in bad_sectors.
// Returns the bytes filled: fewer than n only at the end of the device, or
// once the device is lost (dev.health says so; nothing more is read then).
size_t read_robust(const Device& dev, uint8_t* buf, size_t n, uint64_t off, uint64_t& bad_sectors,
                   const std::atomic<bool>& stop);

// Where the first pass begins; for a scan going on from a checkpoint, what
// the one broken off left before it: areas not read yet (holes, retried with
// the others) and the candidates put off until they are (see defer()).
struct ReadStart {
    uint64_t at = 0;
    std::vector<std::pair<uint64_t, uint64_t>> unread;
    std::vector<std::pair<uint64_t, uint64_t>> deferred;
};

// Reads the device in blocks, front to back, on a thread of its own. A read
// that fails is retried in small pieces; a piece that fails too starts a
// skip that doubles with each failure in a row, so a bad area costs a few
// failed reads; the skipped and failed ranges are handed on as holes. After
// the first pass the reader returns to them (see RetryLimits) and what is
// left is unreadable. Then, on request, it reads again the ranges the scan
// has to carve once more: each pending area and the candidates that reached
// into one.
class BlockReader {
public:
    // `already` (sorted, disjoint): ranges read before (a copy being
    // continued); the first pass passes over them, leaving them as holes of
    // the blocks but not of holes().
    BlockReader(Device dev, size_t block_size, size_t depth, const std::atomic<bool>& stop,
                RetryLimits limits = {}, std::vector<std::pair<uint64_t, uint64_t>> already = {},
                ReadStart start = {});
    ~BlockReader();
    BlockReader(const BlockReader&) = delete;
    BlockReader& operator=(const BlockReader&) = delete;

    // The next block in device order; nullptr at the end of the device or on stop.
    BlockPtr next();
    // Hands a block back for reuse once the scanner is done with it. Blocks
    // are kept (never more than were in use at once): a window that grew for a
    // long walk grows again without fresh pages.
    void recycle(BlockPtr b);
    uint64_t bad_sectors() const;

    const Holes& holes() const;
    // A candidate at `start` whose walk met the pending hole at `hole`: it
    // is carved again once the holes are final.
    void defer(uint64_t start, uint64_t hole);
    std::vector<std::pair<uint64_t, uint64_t>> deferred() const;
    // Once next() has returned nullptr: waits for the retries, then starts
    // the next range to carve again. Its blocks come from next() as before,
    // up to the range's end, *limit; false when none is left.
    bool next_range(uint64_t& limit);

private:
    struct State;
    static void run(std::shared_ptr<State> s);
    std::shared_ptr<State> s_;
    std::thread thread_;
};

}  // namespace carver
