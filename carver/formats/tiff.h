#pragma once
// The TIFF structure walk shared by TIFF and the TIFF-based camera raw formats.
#include <cstdint>
#include <string>

#include "core/source.h"

namespace carver {

struct TiffInfo {
    uint64_t end = 0;       // furthest byte any IFD, value, strip, tile, preview or maker note uses
    bool image = false;     // an IFD with a size and strips or tiles
    uint16_t magic = 42;    // 42, or a camera's own: 0x4F52 / 0x5352 (ORF), 0x55 (RW2)
    bool dng = false;       // DNGVersion present
    bool cr2 = false;       // "CR" after the header
    std::string make;       // the Make tag's text
};

// Walks the IFD chain from the header; false when the structure is inconsistent.
// `camera_magic`: accept the camera makers' header magics as well as 42.
bool tiff_walk(Source& src, uint64_t max_size, bool camera_magic, TiffInfo& info);

// The camera raw extension for a walked TIFF, or nullptr for a plain TIFF.
const char* camera_raw_ext(const TiffInfo& info);

}  // namespace carver
