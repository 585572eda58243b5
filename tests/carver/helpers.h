#pragma once
// Shared test helpers: temporary folders, files, sample photos made with
// ImageMagick, disk images, and running `photo` as a separate process.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace carver_test {

using Bytes = std::vector<uint8_t>;

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& data);
Bytes random_bytes(size_t n, uint32_t seed);
int sh(const std::string& cmd);  // runs through /bin/sh, output discarded; returns exit status
bool have_tool(const std::string& name);
// Every file below `dir` by its path relative to it, the engine's own folder left out.
std::map<std::string, Bytes> files_below(const std::string& dir);
// Sorted names, none beginning with '.' (carved names never do; the engine's
// own folder .snapmend does).
std::vector<std::string> list_dir(const std::string& path);

struct Sample {
    std::string name;  // e.g. "baseline.jpg"
    std::string ext;   // extension the engine gives it
    Bytes data;
};

// A 32 MiB FAT32 image at `img` (mkfs.vfat + mtools, no mount) that held
// `deleted` and `kept`, staged through `dir`, with `deleted` then removed.
// False when any tool fails.
bool make_fat32_with_deleted(const std::string& img, const std::string& dir, const std::vector<Sample>& deleted,
                             const std::vector<Sample>& kept = {});

// Photos made once per process with ImageMagick (empty when it is missing).
// `large` adds a 24-megapixel JPEG.
const std::vector<Sample>& samples(bool large = false);
const Sample& sample(const std::string& name);

// A JPEG with an EXIF APP1 segment holding a JPEG thumbnail that starts at a
// 512-byte boundary of the file.
Bytes jpeg_with_exif_thumbnail();

// Appends data at the next 512-byte boundary (padding with `fill`) and returns its offset.
size_t append_aligned(Bytes& image, const Bytes& data, uint8_t fill = 0);

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string err;  // standard error
};
std::string photo_path();
RunResult run_photo(const std::vector<std::string>& args, const std::string& exe = photo_path());

// Every file of `dir` must equal one of `originals`; returns the problems found.
std::string junk_in(const std::string& dir, const std::vector<Bytes>& originals);
// Each original must be present, byte for byte, in `dir`; returns the missing ones.
std::string missing_in(const std::string& dir, const std::vector<Sample>& originals);

}  // namespace carver_test

namespace carver_test {

// Documents and archives: PDFs from Ghostscript, archives from zip (skipped
// when a tool is missing), OLE2 compound files and text built byte by byte.
const std::vector<Sample>& document_samples();
const Sample& document_sample(const std::string& name);

// An OLE2 compound file (version 3, 512-byte sectors) holding the named
// streams, each `stream_size` bytes (at least 4096, so outside the mini stream).
Bytes ole2_file(const std::vector<std::u16string>& streams, size_t stream_size, uint32_t seed);

// Archives and containers built from their published layouts.
Bytes rar4_file(const std::vector<std::pair<std::string, Bytes>>& files);
Bytes rar5_file(const std::vector<std::pair<std::string, Bytes>>& files);
Bytes swf_file(char kind, uint32_t seed);  // kind: 'F' plain, 'C' zlib, 'Z' LZMA
Bytes pst_file(bool unicode, uint32_t seed);

// A camera raw file built from its published layout: "nef", "cr2", "arw",
// "dng", "orf", "rw2", "pef" (TIFF-based, each with a preview that only the
// maker note or preview tags reach, placed last) or "raf".
Bytes camera_raw_file(const std::string& kind, uint32_t seed);

// Readable text of about `size` bytes (lines of words, some UTF-8), ending with a line break.
Bytes text_file(size_t size, uint32_t seed);

}  // namespace carver_test
