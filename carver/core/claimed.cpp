#include "core/claimed.h"

#include <algorithm>

#include "core/reader.h"

namespace carver {

void ClaimedRanges::add(uint64_t from, uint64_t to) {
    if (ranges_.size() < kMaxRanges) ranges_[from] = std::max(ranges_[from], to);
}

uint64_t ClaimedRanges::skip(uint64_t pos) {
    uint64_t to = ranges_.begin()->second;
    ranges_.erase(ranges_.begin());
    if (to <= pos) return pos;  // a piece the scan passed already: listed pieces come in any order
    return (to + kSector - 1) / kSector * kSector;
}

}  // namespace carver
