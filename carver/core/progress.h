#pragma once
// How far the scan has read, reported to whoever started the engine on a
// descriptor named in the environment variable SNAPMEND_PROGRESS_FD. Each
// report is one line "<bytes read> <device bytes> <unreadable bytes>\n"; the
// device size is 0 when it cannot be known (a pipe); the totals line ends the
// report. Without the variable nothing is written.
#include <cstdint>
#include <string>

namespace carver {

constexpr const char* kProgressFdVariable = "SNAPMEND_PROGRESS_FD";

class ProgressReport {
public:
    // Takes the descriptor from the variable's value (a decimal number of an
    // open descriptor above 2); anything else leaves reporting off.
    void open_from_env(const char* value);
    // Reports directly to `fd` (tests); the descriptor stays the caller's.
    void open_fd(int fd, bool owned = false);
    ~ProgressReport();

    bool active() const { return fd_ >= 0; }
    // The scan has read up to byte `pos` of the device open on `device_fd`.
    // Cheap when nothing new is to be said: a line goes out only each time
    // another thousandth of the device is passed, and at its end.
    void at(int device_fd, uint64_t pos, uint64_t unreadable = 0);
    // The retries after the end changed the unreadable count: one last line.
    void finish(uint64_t unreadable);

    // The last line: "totals <whole files> <partial files> <unreadable bytes>".
    void totals(uint64_t whole, uint64_t partial, uint64_t unreadable);

private:
    void emit(uint64_t pos);
    void write_line(const char* line, int n);
    uint64_t unreadable_ = 0;
    uint64_t last_pos_ = 0;
    uint64_t said_unreadable_ = 0;

    int fd_ = -1;
    bool owned_ = false;
    bool sized_ = false;
    uint64_t total_ = 0;
    uint64_t next_ = 0;
    bool ended_ = false;
};

// The engine's one report, opened by main(); scan code calls at().
ProgressReport& progress();

}  // namespace carver
