#pragma once
// One scan: read the device once, try the enabled formats at every sector
// start, write what they carve, continue after each carved file. What was
// written is listed in OUT/.snapmend/report.xml (core/report.h).
#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/claimed.h"
#include "core/reader.h"
#include "core/types_table.h"

namespace carver {

// Where the sector loop stands: the next byte it tries (sector-aligned) and
// the later pieces of files carved already, which it passes over. A scan
// given a position goes on from there; the reader still reads the device
// from its start, and the loop passes over what lies before the offset.
struct ScanPosition {
    uint64_t offset = 0;
    ClaimedRanges claimed;
    // Before the offset: areas not read yet and candidates put off until they are.
    std::vector<std::pair<uint64_t, uint64_t>> unread, deferred;
};

struct ScanOptions {
    std::string device;
    std::string out_dir;
    std::set<std::string> enabled;  // command keys; keys without a parser carve nothing
    const TypeTable* table = nullptr;
    ReadAtFn read_at = default_read_at;
    size_t block_size = 4u << 20;      // multiple of 512
    size_t queue_depth = 4;            // blocks read ahead of the scanner
    uint64_t window_cap = 48ull << 20; // bytes a parser may hold in memory ahead
    bool force_flock = false;          // tests: write named files under flock
    bool file_systems = true;          // read FAT allocation and deleted entries
    ScanPosition start;                // where the sector loop begins
    RetryLimits retry;                 // returning to unreadable areas
    std::string command;               // the command line after /cmd DEVICE, kept in checkpoints
    bool resume = false;               // go on from OUT's checkpoint of this device and command
    uint64_t checkpoint_every = 1ull << 30;  // bytes (or 30 s) between checkpoints
};

// ReadFailed: the device stopped answering (gone, or a long run of
// unreadable sectors); what was found before is kept.
enum class ScanStatus { Complete, Stopped, BadInput, OutputFailed, ReadFailed };

struct ScanResult {
    ScanStatus status = ScanStatus::BadInput;
    std::string message;  // one line, for BadInput, OutputFailed and ReadFailed
    uint64_t files = 0;
    uint64_t partial_files = 0;  // of `files`: the proven part of a file only
    uint64_t bad_sectors = 0;
    uint64_t unreadable = 0;  // bytes of the device never read; the files touching them are partial
};

ScanResult run_scan(const ScanOptions& opt, const std::atomic<bool>& stop);

// True when a folder (or its nearest existing parent) lives on the block
// device `rdev` itself, on one of its partitions, or on a volume built on it.
bool path_on_block_device(const std::string& path, dev_t rdev);

}  // namespace carver
