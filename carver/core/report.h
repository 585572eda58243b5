#pragma once
// The report of what a scan carved, in DFXML: one <fileobject> per file
// written, with its name below the output folder, its size, where its bytes
// lay on the device, whether it is whole, and where its name came from.
// Written as it goes into a temporary file in OUT/.snapmend/, which becomes
// report.xml once the scan ends.
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace carver {

// The engine's own folder below the output folder, made 0700 and refused
// when it is a link or not ours. Returns an open descriptor, or -1 with err.
constexpr const char* kBookkeepingFolder = ".snapmend";
int open_bookkeeping_folder(int out_dirfd, std::string& err);

struct ByteRun {
    uint64_t file_offset, img_offset, len;
};

struct ReportEntry {
    std::string filename;       // relative to the output folder
    uint64_t size = 0;
    bool partial = false;
    std::string_view origin;    // "carved", or the file system whose deleted entry named it
    std::string original_name;  // the entry's name when the written one differs; "" otherwise
    std::vector<ByteRun> runs;  // empty when the bytes are not the device's as they lie
};

// Text for XML character data and attribute values: markup escaped, bytes
// that are not valid UTF-8 or not allowed in XML replaced by U+FFFD.
std::string xml_escape(std::string_view bytes);
// The text xml_escape made; false for any other entity.
bool xml_unescape(std::string_view text, std::string& out);

// The files a report lists so far.
struct ReportedFiles {
    std::set<std::string> names;
    uint64_t partial = 0;  // of them, the proven part of a file only
};

class CarveReport {
public:
    ~CarveReport();
    // Starts the report in the bookkeeping folder below `out_dirfd`.
    bool open(int out_dirfd, const std::string& device, std::string& err);
    // Goes on with the report of a scan broken off: its temporary file (a
    // regular file of ours, never a link) cut to `bytes`, the length a
    // checkpoint recorded. `files` gets the files it lists.
    bool reopen(int out_dirfd, uint64_t bytes, ReportedFiles& files, std::string& err);
    bool active() const { return file_ != nullptr; }
    void add(const ReportEntry& e);
    // Flushes what is written to disk; `bytes` gets its length.
    bool sync(uint64_t& bytes);
    // Closes the document, flushes it to disk and puts it in place.
    bool finish(std::string& err);

private:
    std::FILE* file_ = nullptr;
    int folder_ = -1;
};

}  // namespace carver
