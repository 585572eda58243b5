#pragma once
// How far a scan has come, kept in OUT/.snapmend/checkpoint so that a scan
// broken off (window closed, crash, power cut) can go on where it was.
// Text lines key=value; written new, flushed and renamed into place, so the
// file on disk is always one whole checkpoint.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace carver {

struct Checkpoint {
    std::string identity;  // the device's (carver/device_identity.h)
    std::string command;   // the command line after /cmd DEVICE
    // Every file starting before this byte is written or was rejected.
    uint64_t position = 0;
    bool done = false;
    // Later pieces of files written, lying past `position`: passed over.
    std::vector<std::pair<uint64_t, uint64_t>> claimed;
    // Bytes of the report's temporary file that list the files before `position`.
    uint64_t report_bytes = 0;
    // Before `position`: areas not read yet, and candidates put off until
    // they are (start, the hole their walk met).
    std::vector<std::pair<uint64_t, uint64_t>> unread;
    std::vector<std::pair<uint64_t, uint64_t>> deferred;
};

std::string format_checkpoint(const Checkpoint& c);
// The text is untrusted: false with a reason for anything but a whole checkpoint.
bool parse_checkpoint(const std::string& text, Checkpoint& c, std::string& err);

// The checkpoint file below an output folder.
class CheckpointFile {
public:
    ~CheckpointFile();
    // Opens (creating) OUT/.snapmend, which must be a folder of ours, 0700.
    bool open(const std::string& out_dir, std::string& err);
    bool save(const Checkpoint& c, std::string& err) const;
    // False when there is none or it is not a whole checkpoint.
    bool load(Checkpoint& c, std::string& err) const;
    void remove() const;

private:
    int dir_ = -1;
};

}  // namespace carver

namespace carver {

// A scan's checkpoints: where a resumed scan starts, and saving as it goes
// (every GiB read or 30 s, and at the end).
class ScanCheckpoints {
public:
    using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;
    // Opens OUT/.snapmend; with `resume`, takes up a checkpoint of the same
    // device and command that is still scanning.
    void begin(const std::string& out_dir, const std::string& identity, const std::string& command, bool resume,
               uint64_t every_bytes);
    bool resumed() const { return resumed_; }
    // The checkpoint taken up (when resumed()).
    const Checkpoint& taken() const { return last_; }
    // Gives the checkpoint up: the scan starts from 0 after all.
    void start_over();
    // What the scan records besides its position (claimed ranges, report,
    // unread areas); false when no checkpoint can be taken now.
    using State = std::function<bool(Checkpoint&)>;
    // The scan is at `position`; `state` is asked only when a checkpoint is due.
    void at(uint64_t position, const State& state);
    void finish(uint64_t position);

private:
    bool save(uint64_t position, Checkpoint c, bool done);

    CheckpointFile file_;
    bool open_ = false, resumed_ = false;
    Checkpoint last_;
    uint64_t saved_at_ = 0;
    uint64_t every_bytes_ = 0;
    std::chrono::steady_clock::time_point saved_time_{};
};

}  // namespace carver
