#pragma once
// Carved files: written unnamed (O_TMPFILE) and linked under their final name
// only when complete. Where the file system lacks O_TMPFILE, the file is
// created under its final name and held under an exclusive flock while written.
#include <atomic>
#include <cstdint>
#include <set>
#include <string>

#include <sys/stat.h>

#include "core/source.h"

namespace carver {

enum class WriteStatus { Ok, Stopped, DiskFull, Failed };

struct WriteResult {
    WriteStatus status = WriteStatus::Failed;
    std::string name;   // final name below the output folder
    std::string error;  // for DiskFull and Failed
    // The folder and name asked for ("folder/name") when the file was written
    // elsewhere to keep its path short enough; else empty.
    std::string requested;
};

// Longest file name made from a name on the disk, extension included.
constexpr size_t kMaxNameBytes = 200;
// Longest path of a carved file below the output folder, folders included:
// far below PATH_MAX wherever the output folder lies.
constexpr size_t kMaxRelativePathBytes = 1024;

// A name from the disk made safe to create and to show: valid UTF-8 (each
// invalid byte becomes U+FFFD), without byte-order marks or bidirectional
// controls (which disguise an extension), control characters, '/' or '\'
// (each becomes '_'); no trailing dots or spaces, no leading dot (a hidden
// file), never empty; at most `max_bytes`, cut at a character boundary with
// the extension kept. Applying it twice changes nothing.
std::string safe_name(const std::string& raw, size_t max_bytes = kMaxNameBytes);

// The folders of `folder` ('/'-separated) that the file `name` may go in
// while "folder/name" stays within `limit` bytes: the deepest folders that
// do not fit are left out.
std::string fit_folder(const std::string& folder, size_t name_bytes, size_t limit = kMaxRelativePathBytes);

// File systems that keep no owners or modes (FAT, exFAT, NTFS, FUSE): a
// stick mounted for the logged-in user shows that user on every file.
bool keeps_no_owners(int fd);
// A folder or file of the engine's: owned by its user, or on such a file system.
bool owned_by_us(int fd, const struct stat& st);

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
    // A resumed scan: `written` are the names the scan reported before its
    // checkpoint. Another name that holds exactly a file's bytes is that
    // file, written after the checkpoint and before the break; one holding
    // other bytes is passed over as a fresh scan passes over a name taken.
    void keep_existing(std::set<std::string> written) {
        keep_existing_ = true;
        written_ = std::move(written);
    }
    bool tmpfile_mode() const { return tmpfile_; }
    int fd() const { return dirfd_; }  // the output folder, for the engine's own files below it

private:
    int open_unnamed(int dir);
    bool link_unnamed(int fd, int dir, const std::string& name, int& err);
    int open_folder(const std::string& folder);  // below the output folder; -1 on failure
    enum class Existing { Free, Same, Other };
    Existing existing(int dir, const std::string& rel, const std::string& name, Source& src, uint64_t length,
                      const std::atomic<bool>& stop);

    std::string path_;
    int dirfd_ = -1;
    bool tmpfile_ = true;
    bool keep_existing_ = false;
    std::set<std::string> written_;  // names below the output folder, resumed scans only
};

}  // namespace carver
