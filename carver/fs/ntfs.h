#pragma once
// The NTFS record and run-list decoding, apart for the fuzzer and tests.
#include <cstddef>
#include <cstdint>
#include <vector>

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

}  // namespace carver::fs
