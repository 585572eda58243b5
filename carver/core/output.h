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

// An original name for a carved file: a folder below the output folder
// ("" for the top, components already safe), a file name, its mtime (-1: none).
struct Naming {
    std::string folder;
    std::string name;
    int64_t mtime = -1;
};

class OutputDir {
public:
    ~OutputDir();
    // Creates the folder (and its parents) if missing and opens it.
    bool open(const std::string& path, std::string& err);
    // Copies `length` bytes of src into f<sector, 10 digits>.<ext>, or under
    // `naming` when given (with " (2)" and so on before the extension on a clash).
    WriteResult write(uint64_t sector, const std::string& ext, Source& src, uint64_t length,
                      const std::atomic<bool>& stop, const Naming* naming = nullptr);
    void force_flock_mode() { tmpfile_ = false; }  // tests
    // A resumed scan: a file whose name is taken already was written before.
    void keep_existing() { keep_existing_ = true; }
    bool tmpfile_mode() const { return tmpfile_; }
    int fd() const { return dirfd_; }  // the output folder, for the engine's own files below it

private:
    int open_unnamed(int dir);
    bool link_unnamed(int fd, int dir, const std::string& name, int& err);
    int open_folder(const std::string& folder);  // below the output folder; -1 on failure

    std::string path_;
    int dirfd_ = -1;
    bool tmpfile_ = true;
    bool keep_existing_ = false;
};

}  // namespace carver
