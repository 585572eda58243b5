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
#include <thread>
#include <vector>

#include <sys/types.h>

namespace carver {

constexpr size_t kSector = 512;

// The read call, replaceable so that tests can inject failing sectors.
using ReadAtFn = std::function<ssize_t(int fd, void* buf, size_t n, uint64_t off)>;
ssize_t default_read_at(int fd, void* buf, size_t n, uint64_t off);

struct Device {
    int fd = -1;
    bool seekable = true;  // false for pipes: read strictly in order, no random access
    ReadAtFn read_at = default_read_at;
};

struct Block {
    uint64_t off = 0;
    size_t len = 0;
    std::vector<uint8_t> data;
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
    // Hands a block back for reuse once the scanner is done with it.
    void recycle(BlockPtr b);
    uint64_t bad_sectors() const;

private:
    struct State;
    static void run(std::shared_ptr<State> s);
    std::shared_ptr<State> s_;
    std::thread thread_;
};

}  // namespace carver
