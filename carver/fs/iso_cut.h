#pragma once
// Movie boxes for partial ISO media files (MP4, QuickTime, 3GP).
#include <cstdint>
#include <vector>

namespace carver::fs {

// `moov` (a whole movie box) with each track cut to its samples, in decoding
// order, up to the first one not wholly inside the file offsets [from, to);
// a track left without samples is dropped. Sample tables are written again
// with one sample per chunk. Empty when no track keeps a sample or the box's
// tables do not agree.
std::vector<uint8_t> cut_moov(const std::vector<uint8_t>& moov, uint64_t from, uint64_t to);

struct FoundSample {
    uint64_t at, size;  // file offset and bytes
    bool key;           // a random access point
};

// A movie box for video samples found without their own: `model`'s movie
// header and its first video track (sample description, time scales), the
// track's tables written for `samples`, each lasting the model's first
// sample duration, one sample per chunk. Empty when the model has no video
// track or `samples` is empty.
std::vector<uint8_t> model_moov(const std::vector<uint8_t>& model, const std::vector<FoundSample>& samples);

}  // namespace carver::fs
