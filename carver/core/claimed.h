#pragma once
// Later pieces of files carved already (through the free-cluster stream or a
// deleted entry's piece list): the sector loop passes over them rather than
// carve their insides again.
#include <cstddef>
#include <cstdint>
#include <map>

namespace carver {

class ClaimedRanges {
public:
    uint64_t next() const { return ranges_.empty() ? UINT64_MAX : ranges_.begin()->first; }
    void add(uint64_t from, uint64_t to);
    // Called with pos >= next(): where the scan goes on, sector-aligned (pos
    // itself when the range lay wholly before it).
    uint64_t skip(uint64_t pos);
    // Start -> end of every range not yet passed (what a checkpoint keeps).
    const std::map<uint64_t, uint64_t>& ranges() const { return ranges_; }

private:
    static constexpr size_t kMaxRanges = 1u << 20;
    std::map<uint64_t, uint64_t> ranges_;
};

}  // namespace carver
