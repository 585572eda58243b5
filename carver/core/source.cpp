#include "core/source.h"

#include <algorithm>
#include <cstring>

namespace carver {

namespace {
constexpr size_t kCursorBuffer = 64 * 1024;
constexpr size_t kFirstFill = 1024;
}

size_t BufferSource::read(uint64_t off, void* buf, size_t n) {
    if (off >= size_) return 0;
    size_t avail = size_ - static_cast<size_t>(off);
    if (n > avail) n = avail;
    std::memcpy(buf, data_ + off, n);
    return n;
}

Cursor::Cursor(Source& src, uint64_t limit, uint64_t start)
    : src_(src), limit_(limit), pos_(start), nextFill_(kFirstFill) {}

bool Cursor::fill(size_t need) {
    if (pos_ > limit_ || need > limit_ - pos_) return false;
    if (pos_ >= bufStart_ && pos_ + need <= bufStart_ + bufLen_) return true;
    size_t want = std::max(need, nextFill_);
    if (buf_.size() < want) buf_.resize(want);
    nextFill_ = std::min(kCursorBuffer, nextFill_ * 2);
    bufStart_ = pos_;
    bufLen_ = src_.read(pos_, buf_.data(), want);
    return bufLen_ >= need;
}

bool Cursor::seek(uint64_t off) {
    if (off > limit_) return false;
    pos_ = off;
    return true;
}

bool Cursor::peek(uint8_t& v) {
    if (!fill(1)) return false;
    v = buf_[pos_ - bufStart_];
    return true;
}

bool Cursor::u8(uint8_t& v) {
    if (!peek(v)) return false;
    ++pos_;
    return true;
}

bool Cursor::bytes(void* out, size_t n) {
    auto* dst = static_cast<uint8_t*>(out);
    return consume(n, [&](const uint8_t* p, size_t len) {
        std::memcpy(dst, p, len);
        dst += len;
    });
}

bool Cursor::be16(uint16_t& v) {
    uint8_t b[2];
    if (!bytes(b, 2)) return false;
    v = rd_be16(b);
    return true;
}

bool Cursor::be32(uint32_t& v) {
    uint8_t b[4];
    if (!bytes(b, 4)) return false;
    v = rd_be32(b);
    return true;
}

bool Cursor::le16(uint16_t& v) {
    uint8_t b[2];
    if (!bytes(b, 2)) return false;
    v = rd_le16(b);
    return true;
}

bool Cursor::le32(uint32_t& v) {
    uint8_t b[4];
    if (!bytes(b, 4)) return false;
    v = rd_le32(b);
    return true;
}

bool Cursor::find(uint8_t b) {
    for (;;) {
        if (!fill(1)) return false;
        size_t at = static_cast<size_t>(pos_ - bufStart_);
        const void* hit = std::memchr(buf_.data() + at, b, bufLen_ - at);
        if (hit) {
            pos_ = bufStart_ + static_cast<size_t>(static_cast<const uint8_t*>(hit) - buf_.data());
            return pos_ < limit_;
        }
        pos_ = bufStart_ + bufLen_;
    }
}

}  // namespace carver
