#pragma once
// The parts a JPEG declares after its own end: the images of its MPF index
// (CIPA DC-007) and the items of its XMP container directory (gain maps,
// motion photos' videos). Parsers over one segment's bytes, bounded by them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace carver {

// An image after the primary: offset from the start of the MP header's TIFF
// header, and size in bytes.
struct MpImage {
    uint64_t offset = 0, size = 0;
};

// The payload of an APP2 segment after its "MPF\0" identifier: a TIFF header
// and the MP index IFD. Fills `images` with every image after the primary,
// in index order; false when the index is malformed.
bool parse_mp_index(const uint8_t* p, size_t n, std::vector<MpImage>& images);

struct ContainerItem {
    std::string mime;
    std::string semantic;
    uint64_t length = 0;   // 0: not given (the primary)
    uint64_t padding = 0;  // bytes between this item and the next
};

struct XmpParts {
    std::vector<ContainerItem> items;  // directory order, the primary first
    // Older motion photos: the video's length, counted back from the file's end.
    uint64_t micro_video_offset = 0;
};

// Reads the container directory and MicroVideoOffset out of an XMP packet.
XmpParts parse_xmp_parts(const char* p, size_t n);

}  // namespace carver
