#pragma once
// Byte access for parsers: a random-access Source and a buffered forward Cursor.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace carver {

// Bytes of one candidate, offset 0 being its first byte (a sector start).
class Source {
public:
    virtual ~Source() = default;
    // Copies up to n bytes at off into buf; returns how many were available.
    // Fewer than n only at the end of the device or when the scan is stopping.
    virtual size_t read(uint64_t off, void* buf, size_t n) = 0;
};

// A Source over a caller-owned byte buffer (tests, fuzzers).
class BufferSource final : public Source {
public:
    BufferSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t read(uint64_t off, void* buf, size_t n) override;

private:
    const uint8_t* data_;
    size_t size_;
};

// The bytes of another Source from `start` on.
class OffsetSource final : public Source {
public:
    OffsetSource(Source& src, uint64_t start) : src_(src), start_(start) {}
    size_t read(uint64_t off, void* buf, size_t n) override {
        return off > UINT64_MAX - start_ ? 0 : src_.read(start_ + off, buf, n);
    }

private:
    Source& src_;
    uint64_t start_;
};

// Forward reader over a Source with a local buffer. Every getter returns false
// once the data ends or `limit` (the format's maximum size) would be crossed.
class Cursor {
public:
    Cursor(Source& src, uint64_t limit, uint64_t start = 0);

    uint64_t pos() const { return pos_; }
    bool seek(uint64_t off);
    bool skip(uint64_t n) { return pos_ <= limit_ && n <= limit_ - pos_ && seek(pos_ + n); }
    bool u8(uint8_t& v);
    bool peek(uint8_t& v);
    bool be16(uint16_t& v);
    bool be32(uint32_t& v);
    bool le16(uint16_t& v);
    bool le32(uint32_t& v);
    bool bytes(void* out, size_t n);
    // Advances to the next occurrence of b (left unread). False if none before the end.
    bool find(uint8_t b);
    // Calls fn(ptr, len) over the next n bytes without copying them out.
    template <class Fn> bool consume(uint64_t n, Fn&& fn);

private:
    bool fill(size_t need);  // makes at least `need` bytes available at pos_

    Source& src_;
    uint64_t limit_;
    uint64_t pos_;
    uint64_t bufStart_ = 0;
    size_t bufLen_ = 0;
    size_t nextFill_;  // grows while the walk goes on, so a short walk reads little
    std::vector<uint8_t> buf_;
};

template <class Fn> bool Cursor::consume(uint64_t n, Fn&& fn) {
    while (n > 0) {
        if (!fill(1)) return false;
        size_t at = static_cast<size_t>(pos_ - bufStart_);
        size_t take = bufLen_ - at;
        if (take > n) take = static_cast<size_t>(n);
        if (take > limit_ - pos_) take = static_cast<size_t>(limit_ - pos_);
        fn(buf_.data() + at, take);
        pos_ += take;
        n -= take;
    }
    return true;
}

// Endian helpers for header checks on raw bytes.
inline uint16_t rd_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t rd_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t rd_be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t rd_be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

}  // namespace carver
