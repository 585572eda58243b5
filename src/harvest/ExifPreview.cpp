#include "ExifPreview.h"

#include <cstring>
#include <utility>

namespace snapmend {
namespace {

constexpr std::uint16_t kTagPreviewOffset = 0x0201;  // JPEGInterchangeFormat
constexpr std::uint16_t kTagPreviewLength = 0x0202;  // JPEGInterchangeFormatLength
constexpr std::size_t kIfdEntrySize = 12;

// Bounds-checked reads within the TIFF block of an EXIF segment.
class TiffView {
public:
    TiffView(const std::uint8_t* data, std::size_t size, bool littleEndian)
        : m_data(data), m_size(size), m_little(littleEndian) {}

    std::optional<std::uint16_t> U16(std::size_t at) const
    {
        if (at > m_size || m_size - at < 2)
            return std::nullopt;
        const std::uint8_t* p = m_data + at;
        return m_little ? static_cast<std::uint16_t>(p[0] | p[1] << 8) : static_cast<std::uint16_t>(p[0] << 8 | p[1]);
    }
    std::optional<std::uint32_t> U32(std::size_t at) const
    {
        if (at > m_size || m_size - at < 4)
            return std::nullopt;
        const std::uint8_t* p = m_data + at;
        return m_little ? static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                              static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24
                        : static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
                              static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    bool m_little;
};

// The TIFF block of the first APP1 "Exif" segment: its offset in the file and size.
std::optional<std::pair<std::size_t, std::size_t>> FindExifTiff(const std::uint8_t* data, std::size_t size)
{
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return std::nullopt;
    std::size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF)
            return std::nullopt;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)  // scan data or end: no EXIF before it
            return std::nullopt;
        const std::size_t length = static_cast<std::size_t>(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > size)
            return std::nullopt;
        if (marker == 0xE1 && length >= 8 && std::memcmp(data + at + 4, "Exif\0\0", 6) == 0)
            return std::make_pair(at + 10, length - 8);
        at += 2 + length;
    }
    return std::nullopt;
}

}  // namespace

std::optional<ExifPreview> FindExifPreview(const std::uint8_t* data, std::size_t size)
{
    const auto exif = FindExifTiff(data, size);
    if (!exif)
        return std::nullopt;
    const auto [tiffStart, tiffSize] = *exif;
    const std::uint8_t* tiff = data + tiffStart;
    if (tiffSize < 8)
        return std::nullopt;
    bool little;
    if (std::memcmp(tiff, "II*\0", 4) == 0)
        little = true;
    else if (std::memcmp(tiff, "MM\0*", 4) == 0)
        little = false;
    else
        return std::nullopt;
    const TiffView view(tiff, tiffSize, little);

    // IFD0, then the offset of IFD1 that follows its entries.
    const std::optional<std::uint32_t> ifd0 = view.U32(4);
    if (!ifd0)
        return std::nullopt;
    const std::optional<std::uint16_t> count0 = view.U16(*ifd0);
    if (!count0)
        return std::nullopt;
    const std::optional<std::uint32_t> ifd1 = view.U32(std::size_t{*ifd0} + 2 + *count0 * kIfdEntrySize);
    if (!ifd1 || *ifd1 == 0 || *ifd1 == *ifd0)
        return std::nullopt;
    const std::optional<std::uint16_t> count1 = view.U16(*ifd1);
    if (!count1)
        return std::nullopt;

    std::optional<std::uint32_t> offset, length;
    for (std::size_t i = 0; i < *count1; ++i) {
        const std::size_t entry = std::size_t{*ifd1} + 2 + i * kIfdEntrySize;
        const std::optional<std::uint16_t> tag = view.U16(entry);
        const std::optional<std::uint32_t> value = view.U32(entry + 8);
        if (!tag || !value)
            return std::nullopt;
        if (*tag == kTagPreviewOffset)
            offset = value;
        else if (*tag == kTagPreviewLength)
            length = value;
    }
    if (!offset || !length || *length < 4 || *offset > tiffSize || tiffSize - *offset < *length)
        return std::nullopt;
    const std::uint8_t* preview = tiff + *offset;
    if (preview[0] != 0xFF || preview[1] != 0xD8)
        return std::nullopt;
    return ExifPreview{tiffStart + *offset, *length};
}

}  // namespace snapmend
