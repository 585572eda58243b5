#pragma once
// Putting a deleted file back together when its pieces are separated by
// other deleted files' clusters: the free-cluster stream with runs of
// clusters left out, each gap chosen where the format's own structure proves
// the continuation.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "fs/map.h"

namespace carver::fs {

// The free-cluster stream from one cluster on, with gaps: stream clusters
// left out after given points. Offsets are those of the file put together.
class GappedStream final : public Source {
public:
    GappedStream(const Volume& v, uint64_t first_cluster, Source& phys);
    size_t read(uint64_t off, void* buf, size_t n) override;
    // Leaves out `clusters` stream clusters from file offset `at` (a cluster multiple) on,
    // dropping gaps already set at or after `at`.
    void set_gap(uint64_t at, uint64_t clusters);
    uint64_t cluster_size() const { return v_.cluster_size; }
    // Physical pieces of the first `length` bytes, in order.
    void for_each_piece(uint64_t length, const std::function<void(uint64_t, uint64_t)>& fn);
    // From `at` on, the file reads as `tail` and then ends (a partial file's closing).
    void set_end(uint64_t at, std::vector<uint8_t> tail);
    struct Gap {
        uint64_t at, clusters;
    };
    const std::vector<Gap>& gaps() const { return gaps_; }

private:
    uint64_t to_stream(uint64_t off, uint64_t& room) const;  // room: bytes before the next gap

    const Volume& v_;
    FreeStream free_;
    std::vector<Gap> gaps_;  // ascending `at`
    uint64_t end_ = UINT64_MAX;
    std::vector<uint8_t> tail_;
};

struct Stitched {
    std::unique_ptr<GappedStream> stream;
    uint64_t length = 0;   // bytes to write
    bool partial = false;  // the proven part only, closed so that decoders show it
};

// A baseline JPEG put together by decoding its entropy-coded data; nullptr
// stream when the data does not decode that far or the work bound is hit.
// A partial result is returned when the first piece decodes but no
// continuation proves right.
Stitched stitch_jpeg(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size);

// A PNG put together by its chunk CRCs; never partial.
Stitched stitch_png(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size);

}  // namespace carver::fs
