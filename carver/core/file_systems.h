#pragma once
// What the scan asks of the file systems on the device (fs/ answers): how a
// candidate reads through them, the deleted entry that names it, and the
// small files kept inside their own records.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/format.h"
#include "core/output.h"
#include "core/reader.h"

namespace carver {

// A candidate read as a whole file, or rejected (cv.length 0).
class Reading {
public:
    virtual ~Reading() = default;
    // The file's bytes; nullptr when they lie contiguous from the candidate's start.
    virtual Source* body() = 0;
    // Physical pieces of the first `length` bytes, in order; none when contiguous.
    virtual void pieces(uint64_t length, const std::function<void(uint64_t, uint64_t)>& fn) = 0;

    Carve cv;
    uint64_t skip = 0;     // the contiguous walk's Carve::skip on a reject
    bool partial = false;  // the proven part of a file, not all of it
};

class FileSystems {
public:
    virtual ~FileSystems() = default;
    // The candidate of format f at device offset pos; `contiguous` reads the
    // device from pos on, `phys` from offset 0.
    virtual std::unique_ptr<Reading> read(const Format& f, uint64_t max_size, uint64_t pos, Source& contiguous,
                                          Source& phys) = 0;
    // The deleted entry that names a file of `length` bytes (0: of any size)
    // at pos, and the file system it comes from ("fat", "exfat", "ntfs").
    virtual bool name_for(uint64_t pos, uint64_t length, const std::string& ext, Naming& out,
                          std::string_view& origin) const = 0;

    // Deleted files kept inside the file system's records, or compressed.
    virtual size_t resident_count() const = 0;
    virtual uint64_t resident_start(size_t i) const = 0;
    // The first bytes of file i (up to n); 0 when none can be read.
    virtual size_t resident_head(size_t i, Source& phys, uint8_t* buf, size_t n) = 0;
    // File i read as format f; nullptr unless the walk ends exactly at its end.
    virtual std::unique_ptr<Reading> read_resident(size_t i, const Format& f, uint64_t max_size, Source& phys) = 0;
    // The entry's own name, when it fits the extension the content has.
    virtual bool resident_name(size_t i, const std::string& ext, Naming& out, std::string_view& origin) const = 0;
};

// The file systems found on the device; nullptr when there are none (or the
// device is a pipe).
std::unique_ptr<FileSystems> probe_file_systems(const Device& dev, const std::atomic<bool>& stop);

}  // namespace carver
