#pragma once
#include <QImage>
#include <QSize>
#include <QtGlobal>
#include <cstddef>
#include <optional>

namespace snapmend {

// What a JPEG's frame header declares.
struct JpegHeader {
    QSize size;
    int components = 0;
    bool progressive = false;
    // What a decoder holding every DCT coefficient (a progressive file) allocates for them.
    quint64 coefficientBytes = 0;
};

// Reads the headers up to the first scan of the JPEG file open as `fd` (from
// the start of the file, its offset left alone), or of the stream in memory.
// Nothing when it is not a JPEG the decoder accepts.
std::optional<JpegHeader> ReadJpegHeader(int fd);
std::optional<JpegHeader> ReadJpegHeader(const uchar* data, std::size_t size);

// Decodes the JPEG file open as `fd` at 1/`denominator` of its size (1, 2, 4
// or 8) for a thumbnail: the decoder scales in the DCT, with the fast integer
// DCT and plain upsampling, and holds at most `memoryCap` bytes (it gives up
// beyond). A progressive file reduced to 1/8 is decoded from its first scan
// alone when that scan carries every component's DC coefficients, which is
// all a 1/8 picture needs. A null image when the file cannot be decoded this
// way (a CMYK file, damage, the cap).
QImage DecodeJpegScaled(int fd, int denominator, quint64 memoryCap);

}  // namespace snapmend
