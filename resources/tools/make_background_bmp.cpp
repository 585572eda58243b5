// Writes the window background, bitmap 129: 634 x 464 pixels, 24 bits per
// pixel, uncompressed, every pixel red 123, green 104, blue 238.
// Usage: make_background_bmp OUTPUT.bmp
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWidth = 634;
constexpr int kHeight = 464;
constexpr std::uint8_t kRed = 123, kGreen = 104, kBlue = 238;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_background_bmp OUTPUT.bmp\n");
        return 2;
    }
    const std::uint32_t rowBytes = (kWidth * 3 + 3) / 4 * 4;
    const std::uint32_t pixelBytes = rowBytes * kHeight;
    const std::uint32_t headerBytes = 14 + 40;
    std::vector<std::uint8_t> out;
    out.reserve(headerBytes + pixelBytes);
    // File header.
    out.push_back('B');
    out.push_back('M');
    Put32(out, headerBytes + pixelBytes);
    Put32(out, 0);
    Put32(out, headerBytes);
    // Info header: bottom-up rows, one plane, 24 bits, no compression, 96 dpi.
    Put32(out, 40);
    Put32(out, kWidth);
    Put32(out, kHeight);
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);
    Put32(out, pixelBytes);
    Put32(out, 3780);
    Put32(out, 3780);
    Put32(out, 0);
    Put32(out, 0);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            out.push_back(kBlue);
            out.push_back(kGreen);
            out.push_back(kRed);
        }
        for (std::uint32_t pad = kWidth * 3; pad < rowBytes; ++pad)
            out.push_back(0);
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    if (std::fclose(file) != 0 || !ok) {
        std::fprintf(stderr, "make_background_bmp: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
