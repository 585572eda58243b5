#pragma once
// Sequential block reading of the device on a thread of its own, with a bounded
// queue to the scanner, and read errors retried in smaller pieces.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

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

struct Device {
    int fd = -1;
    bool seekable = true;  // false for pipes: read strictly in order, no random access
    // The same device opened with O_DIRECT (-1: none), and the alignment its
    // reads need. When set, every read goes through it, so that a page cache
    // filled before files were written on the medium is never read back.
    int direct_fd = -1;
    size_t align = 0;
    ReadAtFn read_at = default_read_at;
};

// How the scan bypasses cached pages of the device.
enum class CacheBypass { Direct, Flushed, None };

// Drops the device's cached pages (BLKFLSBUF, POSIX_FADV_DONTNEED), then
// opens dev.direct_fd for a seekable block device or image file and proves it
// with one aligned read. Where the kernel refuses direct I/O (tmpfs, some
// file systems) the flushed cache alone keeps the reads that follow fresh.
CacheBypass bypass_cache(Device& dev, const std::string& path, const struct stat& st);

struct Block {
    uint64_t off = 0;
    size_t len = 0;
    AlignedBytes data;
};
using BlockPtr = std::shared_ptr<Block>;

// Reads n bytes at off. A failing range is retried in 64 KiB, then 512-byte
// pieces; sectors that still fail are zero-filled and counted in bad_sectors.
// Returns the bytes filled: fewer than n only at the end of the device.
size_t read_robust(const Device& dev, uint8_t* buf, size_t n, uint64_t off, uint64_t& bad_sectors,
                   const std::atomic<bool>& stop);

class BlockReader {
public:
    BlockReader(Device dev, size_t block_size, size_t depth, const std::atomic<bool>& stop);
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

private:
    struct State;
    static void run(std::shared_ptr<State> s);
    std::shared_ptr<State> s_;
    std::thread thread_;
};

}  // namespace carver
