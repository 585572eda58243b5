#pragma once
// Copy-first: the device copied into an image file with the scan's read
// strategy (skips over bad areas, retries after the first pass), keeping a
// map of what was read in the map file format of GNU ddrescue, so that
// either program can go on with the copy.
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/reader.h"

namespace carver {

struct ImagingOptions {
    std::string device, image, map;
    ReadAtFn read_at = default_read_at;
    size_t block_size = 4u << 20;
    RetryLimits retry;
};

enum class ImagingStatus { Complete, SomeUnreadable, Stopped, BadInput, OutputFailed };

struct ImagingResult {
    ImagingStatus status = ImagingStatus::BadInput;
    std::string message;
    uint64_t unreadable = 0;
};

ImagingResult run_imaging(const ImagingOptions& opt, const std::atomic<bool>& stop);

// One range of a map file and its status: '?' not tried, '*' failed, not
// trimmed, '/' not scraped, '-' bad sector, '+' read.
struct MapRange {
    uint64_t pos = 0, size = 0;
    char status = '?';
};

// Parses a map file's text (untrusted); false with a reason when it is not one.
bool parse_map(const std::string& text, std::vector<MapRange>& ranges, std::string& err);
// The text of a map: `ranges` cover [0, device size) in order; `finished`
// says whether the copy is over.
std::string format_map(const std::vector<MapRange>& ranges, uint64_t current, bool finished);

}  // namespace carver
