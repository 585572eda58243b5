#pragma once
// The NTFS record and run-list decoding, apart for the fuzzer and tests.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/source.h"

namespace carver::fs {

constexpr uint64_t kSparse = UINT64_MAX;  // a run with no clusters on disk
constexpr size_t kMaxRuns = 4096;         // runs kept of one attribute

struct Run {
    uint64_t lcn;     // first cluster, or kSparse
    uint64_t length;  // clusters
};

// Checks a record's signature and update sequence, and puts back the bytes
// the sequence numbers stand in for at the end of each 512-byte stride.
bool apply_fixups(uint8_t* record, size_t size);

// Appends the runs of a mapping-pairs array of n bytes; false when a run is
// malformed or lies outside the volume's `clusters`.
bool decode_runs(const uint8_t* p, size_t n, uint64_t clusters, std::vector<Run>& out);

// Expands one LZNT1 compression unit of n bytes into out[0, cap): each chunk
// fills its 4 KiB of the output, a chunk that stops short is followed by
// zeros. Returns the bytes written (cap, or less when the chunks end sooner),
// or SIZE_MAX when the data is malformed. Never writes past cap.
size_t lznt1_expand(const uint8_t* in, size_t n, uint8_t* out, size_t cap);

// The bytes of a compressed file: `packed` lists its runs in order as
// absolute offset (kSparse for none) and length; each `unit` bytes of the
// file are held whole when the unit's clusters all lie on disk, compressed
// in the clusters that do when the unit ends in a sparse run, zeros when it
// has none.
class PackedSource final : public Source {
public:
    PackedSource(const std::vector<std::pair<uint64_t, uint64_t>>& packed, uint64_t unit, uint64_t size, Source& phys);
    size_t read(uint64_t off, void* buf, size_t n) override;

private:
    bool load(uint64_t u);  // expands unit u into buf_

    const std::vector<std::pair<uint64_t, uint64_t>>& packed_;
    uint64_t unit_, size_;
    Source& phys_;
    std::vector<uint64_t> starts_;  // file offset of each run
    std::vector<uint8_t> buf_, in_;
    uint64_t loaded_ = UINT64_MAX;  // the unit buf_ holds
};

}  // namespace carver::fs
