#pragma once
// Carved files: written unnamed (O_TMPFILE) and linked under their final name
// only when complete. Where the file system lacks O_TMPFILE, the file is
// created under its final name and held under an exclusive flock while written.
#include <atomic>
#include <cstdint>
#include <string>

#include "core/source.h"

namespace carver {

enum class WriteStatus { Ok, Stopped, DiskFull, Failed };

struct WriteResult {
    WriteStatus status = WriteStatus::Failed;
    std::string name;   // final name below the output folder
    std::string error;  // for DiskFull and Failed
};

class OutputDir {
public:
    ~OutputDir();
    // Creates the folder (and its parents) if missing and opens it.
    bool open(const std::string& path, std::string& err);
    // Copies `length` bytes of src into f<sector, 10 digits>.<ext>.
    WriteResult write(uint64_t sector, const std::string& ext, Source& src, uint64_t length,
                      const std::atomic<bool>& stop);
    void force_flock_mode() { tmpfile_ = false; }  // tests
    bool tmpfile_mode() const { return tmpfile_; }

private:
    int open_unnamed();
    bool link_unnamed(int fd, const std::string& name, int& err);

    std::string path_;
    int dirfd_ = -1;
    bool tmpfile_ = true;
};

}  // namespace carver
