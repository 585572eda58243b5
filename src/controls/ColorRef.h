#pragma once
#include <cstdint>

namespace snapmend {

// A colour as 0x00BBGGRR: red in the lowest byte, then green, then blue.
using ColorRef = std::uint32_t;

constexpr ColorRef Rgb(int r, int g, int b)
{
    return static_cast<ColorRef>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int RedOf(ColorRef c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(ColorRef c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(ColorRef c) { return static_cast<int>((c >> 16) & 0xFF); }

}  // namespace snapmend
