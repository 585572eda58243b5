#pragma once
// The parser interface: one Format per file type, listed in registry.cpp.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/source.h"

namespace carver {

namespace fs {
struct Stitcher;  // fs/stitch.h
}

struct Carve {
    uint64_t length = 0;         // bytes from the candidate's start; 0 = rejected
    const char* ext = nullptr;   // extension override; nullptr = the table's extension
    // The length comes from a header alone (the content cannot tell a whole
    // file from one cut short or stored in pieces): the scan writes the file
    // and still looks for other files inside its range.
    bool claimed = false;
    // On a reject: no candidate of the same format starting before this
    // offset can succeed either (they lie on the structure already walked),
    // so the scan does not walk it again. 0 = no such knowledge.
    uint64_t skip = 0;
    // Only the part of the file its structure proves (a photo whose declared
    // trailing images or video do not check): written, marked partial.
    bool partial = false;
    // A part of the file also written as a file of its own beside it (a
    // motion photo's video): offset and length inside the file, extension.
    uint64_t part_offset = 0, part_length = 0;
    const char* part_ext = nullptr;
};

struct Format {
    // Command-line key, also the key of the types table (e.g. "jpg").
    std::string_view key;
    // Byte strings one of which must open the candidate at a sector start.
    // Empty: `check` is called at every sector (costly; avoid).
    std::vector<std::string_view> signatures;
    // Optional cheaper-than-walk header test on the first bytes of the candidate
    // (n >= 512 unless the device ends sooner). nullptr: the signature suffices.
    bool (*check)(const uint8_t* head, size_t n) = nullptr;
    // Follows the format's structure from offset 0 to its true end without
    // reading at or past max_size. Returns the length, or length 0 to reject.
    Carve (*walk)(Source& src, uint64_t max_size) = nullptr;
    // How a file of this format is put back together across other deleted
    // files' clusters inside a file system; nullptr: it is not.
    const fs::Stitcher* stitch = nullptr;
};

// Every format the engine knows, in a fixed order.
const std::vector<const Format*>& all_formats();
const Format* find_format(std::string_view key);

// The 24 keys the command line accepts (with or without a parser).
const std::vector<std::string_view>& command_keys();

}  // namespace carver
