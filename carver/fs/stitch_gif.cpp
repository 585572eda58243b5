// GIF images put together across other deleted files' clusters: a unit is
// the extensions before an image and the image itself, and it checks when
// the image's LZW code stream decodes validly to exactly width * height
// pixel indices, its end code where the last pixel is, and its sub-block
// chain ending right there. Wrong bytes give codes past the table, indices
// past the colour table or a pixel count that is off.
#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "fs/stitch.h"

namespace carver::fs {
namespace {

constexpr uint64_t kGifWork = 64u << 20;
constexpr int kMaxExtensions = 1024;  // in front of one image

// Bits from a sub-block chain, least significant first.
class SubBlocks {
public:
    SubBlocks(Source& s, uint64_t at, uint64_t max_size) : s_(s), pos_(at), max_(max_size) {}

    // False when the chain ends (`ended`) or cannot be read.
    bool byte(uint8_t& out) {
        if (left_ == 0) {
            uint8_t len;
            if (ended_ || pos_ >= max_ || s_.read(pos_, &len, 1) != 1) return false;
            ++pos_;
            if (len == 0) {
                ended_ = true;
                return false;
            }
            if (pos_ + len > max_ || s_.read(pos_, block_.data(), len) != len) return false;
            pos_ += len;
            left_ = len;
            used_ = 0;
            bytes_ += len;
        }
        out = block_[used_++];
        --left_;
        return true;
    }
    bool code(int width, uint32_t& out) {
        while (nbits_ < width) {
            uint8_t b;
            if (!byte(b)) return false;
            bits_ |= uint32_t(b) << nbits_;
            nbits_ += 8;
        }
        out = bits_ & ((1u << width) - 1);
        bits_ >>= width;
        nbits_ -= width;
        return true;
    }
    // After the end code: nothing but the terminator follows the byte it ends in.
    bool ends_here() {
        uint8_t b;
        return !byte(b) && ended_;
    }
    uint64_t pos() const { return pos_; }
    uint64_t bytes() const { return bytes_; }

private:
    Source& s_;
    uint64_t pos_, max_;
    std::array<uint8_t, 255> block_{};
    size_t left_ = 0, used_ = 0;
    uint32_t bits_ = 0;
    int nbits_ = 0;
    bool ended_ = false;
    uint64_t bytes_ = 0;
};

// Decodes an image's code stream, counting pixels rather than keeping them.
bool lzw_valid(SubBlocks& in, int min_size, uint64_t pixels, uint32_t colours, uint64_t& work) {
    const uint32_t clear = 1u << min_size, end = clear + 1;
    std::vector<uint16_t> len(4096);
    std::vector<uint8_t> first(4096);
    for (uint32_t i = 0; i < clear; ++i) len[i] = 1, first[i] = static_cast<uint8_t>(i);
    uint32_t next = clear + 2, prev = UINT32_MAX;
    int width = min_size + 1;
    uint64_t done = 0;
    for (;;) {
        uint32_t c;
        if (!in.code(width, c)) return false;
        ++work;
        if (c == clear) {
            next = clear + 2;
            width = min_size + 1;
            prev = UINT32_MAX;
            continue;
        }
        if (c == end) break;
        if (done == pixels) return false;  // data past the last pixel
        uint64_t n;
        uint8_t head;
        if (prev == UINT32_MAX) {
            if (c >= clear) return false;
            n = 1;
            head = static_cast<uint8_t>(c);
        } else if (c < clear) {
            n = 1;
            head = static_cast<uint8_t>(c);
        } else if (c < next) {
            n = len[c];
            head = first[c];
        } else if (c == next && next < 4096) {
            n = len[prev] + 1u;
            head = first[prev];
        } else {
            return false;
        }
        if (head >= colours || n > pixels - done) return false;
        done += n;
        if (prev != UINT32_MAX && next < 4096) {
            len[next] = static_cast<uint16_t>(len[prev] + 1);
            first[next] = first[prev];
            ++next;
            if (next == (1u << width) && width < 12) ++width;
        }
        prev = c;
    }
    return done == pixels && in.ends_here();
}

// Skips a sub-block chain from `at`; false when it does not end within max_size.
bool skip_chain(Source& s, uint64_t& at, uint64_t max_size, uint64_t& work) {
    for (;;) {
        uint8_t len;
        if (at >= max_size || s.read(at, &len, 1) != 1) return false;
        ++at;
        work += 4;
        if (len == 0) return true;
        at += len;
    }
}

class GifImages final : public Units {
public:
    GifImages(uint64_t max_size, uint32_t global_colours) : max_size_(max_size), global_(global_colours) {}

    Result check(Source& s, uint64_t at, uint64_t& next, uint64_t& work) override {
        if (at != checked_) {  // the unit's first reading, with no gap of its own
            checked_ = at;
            fail_ = UINT64_MAX;
            first_ = true;
        }
        Result r = blocks(s, at, next, work);
        first_ = false;
        return r;
    }

    void accept() override { images_ = true; }
    std::vector<uint8_t> closing() const override { return {0x3B}; }  // the trailer

    // As far as the blocks read (a break inside them is met before the walk
    // stops), and at least as far as the image's codes may reach: a walk
    // gone astray at a first break may stop short of a second one.
    uint64_t span(Source& s, uint64_t at) override {
        uint64_t p = at, work = 0, bound = 0;
        walk(s, p, work, &bound);
        return std::max(p, bound) - at + 1;
    }

    // The block layout holds up to the image's end and a block starts after
    // it. A single gap after where the codes first went wrong cannot be it.
    bool plausible(Source& s, uint64_t at, uint64_t& work) override {
        work += 16;
        auto* gs = dynamic_cast<GappedStream*>(&s);
        if (gs && !gs->gaps().empty() && gs->gaps().back().at > fail_) return false;
        uint64_t p = at;
        if (!walk(s, p, work)) return false;
        uint8_t tag;
        return s.read(p, &tag, 1) == 1 && (tag == 0x21 || tag == 0x2C || tag == 0x3B);
    }

private:
    Result blocks(Source& s, uint64_t at, uint64_t& next, uint64_t& work) {
        uint64_t p = at;
        for (int ext = 0;; ++ext) {
            uint8_t tag;
            if (ext > kMaxExtensions || s.read(p, &tag, 1) != 1) return Result::Bad;
            if (tag == 0x3B) {
                if (!images_) return Result::Bad;
                next = p + 1;
                return Result::End;
            }
            if (tag == 0x2C) return image(s, p, next, work) ? Result::Good : Result::Bad;
            if (tag != 0x21 || !extension(s, p, work)) return Result::Bad;
        }
    }

    bool extension(Source& s, uint64_t& p, uint64_t& work) {
        uint8_t h[3];
        if (s.read(p, h, 3) != 3) return false;
        if (h[1] == 0xF9 && h[2] != 4) return false;  // graphic control: a fixed size
        p += 2;
        return skip_chain(s, p, max_size_, work);
    }

    bool image(Source& s, uint64_t p, uint64_t& next, uint64_t& work) {
        uint8_t d[11];
        if (s.read(p, d, 11) != 11) return false;
        uint64_t w = rd_le16(d + 5), h = rd_le16(d + 7);
        uint8_t flags = d[9];
        if (w == 0 || h == 0) return false;
        uint32_t colours = global_;
        p += 10;
        if (flags & 0x80) {
            colours = 2u << (flags & 7);
            p += 3u * colours;
        }
        uint8_t min_size;
        if (s.read(p, &min_size, 1) != 1 || min_size < 2 || min_size > 8) return false;
        if (colours == 0) colours = 256;  // no colour table: any index
        SubBlocks in(s, p + 1, max_size_);
        bool ok = lzw_valid(in, min_size, w * h, colours, work);
        work += in.bytes();
        if (!ok) {
            // Right bytes decode: the first break lies before what the decoder read.
            if (first_) fail_ = in.pos();
            return false;
        }
        next = in.pos();
        return next <= max_size_;
    }

    // Extensions and one image (or the trailer) without decoding; `p` ends
    // after them, or where the layout stopped making sense.
    // `bound`: where the image's data ends at the latest, at most two
    // 12-bit codes a pixel in full sub-blocks.
    bool walk(Source& s, uint64_t& p, uint64_t& work, uint64_t* bound = nullptr) {
        for (int ext = 0; ext <= kMaxExtensions; ++ext) {
            uint8_t tag;
            if (s.read(p, &tag, 1) != 1) return false;
            if (tag == 0x3B) return true;
            if (tag == 0x21) {
                if (!extension(s, p, work)) return false;
                continue;
            }
            if (tag != 0x2C) return false;
            uint8_t d[10];
            if (s.read(p, d, 10) != 10) return false;
            p += 10;
            if (d[9] & 0x80) p += 3u * (2u << (d[9] & 7));
            ++p;  // the code size
            if (bound) {
                uint64_t data = 3 * uint64_t(rd_le16(d + 5)) * rd_le16(d + 7) + 2;
                *bound = std::min(max_size_, p + data + data / 255 + 2);
            }
            return skip_chain(s, p, max_size_, work);
        }
        return false;
    }

    uint64_t max_size_;
    uint32_t global_;
    bool images_ = false;
    uint64_t checked_ = UINT64_MAX, fail_ = UINT64_MAX;  // the unit last checked; where its codes went wrong
    bool first_ = false;
};

}  // namespace

Stitched stitch_gif(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips) {
    FreeStream head(v, first_cluster, phys);
    uint8_t h[13];
    if (head.read(0, h, 13) != 13 || (std::string_view(reinterpret_cast<char*>(h), 6) != "GIF87a" &&
                                      std::string_view(reinterpret_cast<char*>(h), 6) != "GIF89a"))
        return {};
    if (rd_le16(h + 6) == 0 || rd_le16(h + 8) == 0) return {};
    uint32_t global = (h[10] & 0x80) ? 2u << (h[10] & 7) : 0;
    GifImages images(max_size, global);
    return stitch_units(v, first_cluster, phys, max_size, images, 13 + 3 * uint64_t(global), kGifWork, skips);
}

}  // namespace carver::fs
