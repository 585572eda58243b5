#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

namespace snapmend {

// Where a JPEG's embedded preview picture lies: the JPEG stream that cameras
// store in the EXIF block (IFD1's JPEGInterchangeFormat), as an offset and a
// length within the file.
struct ExifPreview {
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Finds the preview in the first bytes of a JPEG file (the EXIF block lies in
// its first 64 KiB). Nothing when there is none or the structure is
// inconsistent; never reads outside `data[0, size)`.
std::optional<ExifPreview> FindExifPreview(const std::uint8_t* data, std::size_t size);

}  // namespace snapmend
