// MPEG audio put together across other deleted files' clusters: a unit is
// one frame, and it checks when the next frame's header of the same stream
// starts exactly where its length ends (or a proven end follows). A frame
// whose successor is missing holds a break; a continuation is taken only
// when several frames in a row follow it, with their CRC-16 where they
// carry one and, for Layer III, a bit reservoir that stays consistent; and
// where the other file's clusters are known, leaving them out is all that is
// tried. A recording of the same kind can still show frames where the rest's
// belong: where the first frame carries the encoder's music length and CRC,
// the frames put together must match them.
#include <algorithm>
#include <cstring>

#include "formats/mpeg_audio.h"
#include "fs/stitch.h"

namespace carver::fs {
namespace {

constexpr uint64_t kMp3Work = 64u << 20;
constexpr int kRun = 8;               // frames that must follow a gap
constexpr uint64_t kMaxLeadZeros = 65536;  // padding after an ID3v2 tag, as the carver allows

struct Header : MpegAudioFrame {
    uint32_t side = 0;  // Layer III side information bytes
};

bool decode(const uint8_t* h, Header& f) {
    if (!decode_mpeg_audio(h, f)) return false;
    f.side = f.v1 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17);
    return !f.layer3 || f.length >= 4 + (f.crc ? 2 : 0) + f.side;
}

// CRC-16 (0x8005, from all ones) over the header's last two bytes and the side information.
bool crc_ok(const uint8_t* frame, const Header& f) {
    uint16_t crc = 0xFFFF;
    auto feed = [&](uint8_t b) {
        for (int i = 7; i >= 0; --i) {
            bool top = ((crc >> 15) ^ (b >> i)) & 1;
            crc = static_cast<uint16_t>(crc << 1);
            if (top) crc ^= 0x8005;
        }
    };
    feed(frame[2]);
    feed(frame[3]);
    for (uint32_t i = 0; i < f.side; ++i) feed(frame[6 + i]);
    return crc == rd_be16(frame + 4);
}

// Layer III main data: where it starts (bytes back from the frame's data)
// and how many bits it holds, from the side information.
struct Reservoir {
    uint32_t begin = 0;
    uint64_t bits = 0;
};

Reservoir side_info(const uint8_t* side, const Header& f) {
    uint64_t bitpos = 0;
    auto take = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bitpos) v = v << 1 | ((side[bitpos / 8] >> (7 - bitpos % 8)) & 1);
        return v;
    };
    const int channels = f.mono ? 1 : 2, granules = f.v1 ? 2 : 1;
    Reservoir r;
    r.begin = take(f.v1 ? 9 : 8);
    take(f.v1 ? (f.mono ? 5 : 3) : (f.mono ? 1 : 2));  // private bits
    if (f.v1) take(4 * channels);                      // scale factor selection
    for (int g = 0; g < granules; ++g)
        for (int c = 0; c < channels; ++c) {
            r.bits += take(12);
            // big_values, global_gain, scalefac_compress, the window and table fields, the flags
            take(9 + 8 + (f.v1 ? 4 : 9) + 1 + 22 + (f.v1 ? 3 : 2));
        }
    return r;
}

class Mp3Frames final : public Units {
public:
    Mp3Frames(uint64_t max_size, uint64_t cluster, uint32_t fixed, const std::vector<Skip>& skips)
        : max_(max_size), cs_(cluster), fixed_(fixed), skips_(skips) {}

    Result check(Source& s, uint64_t at, uint64_t& next, uint64_t& work) override {
        work += 16;
        Header f;
        if (!frame_at(s, at, f)) return Result::Bad;
        uint64_t h = at + f.length;
        uint8_t last;
        if (s.read(h - 1, &last, 1) != 1) return Result::Bad;  // the frame is there to its end
        auto* gs = dynamic_cast<GappedStream*>(&s);
        bool after_gap = gs && !gs->gaps().empty() && gs->gaps().back().at > at;
        Header g;
        if (frame_at(s, h, g)) {
            // Past a gap: the frames that follow prove it, as far as a proven end at the most.
            if (after_gap && (!run(s, at, work) || (!blind_gaps(s, at) && !gaps_are_skips(*gs, at, skips_))))
                return Result::Bad;
            take(s, at);
            next = h;
            return Result::Good;
        }
        if (after_gap) return Result::Bad;  // nothing after the gap proves it
        uint64_t end = tags_end(s, h);
        if (end == 0 && !proven_end(s, at, h)) return Result::Bad;
        take(s, at);
        frames_end_ = h;
        next = end ? end : h;
        return Result::End;
    }

    void accept() override { state_ = pending_; }

    uint64_t span(Source& s, uint64_t at) override {
        Header f;
        return frame_at(s, at, f) ? f.length + 4 : 4;
    }

    // A frame's bytes hold no check of their own: with two boundaries in
    // it, the header after it cannot tell at which one the break lies.
    // Where another deleted file starts at the boundary, the break is its
    // start: only leaving out whole deleted files is tried there.
    bool blind_gaps(Source& s, uint64_t at) override {
        Header f;
        if (!frame_at(s, at, f)) return true;
        if (boundaries(at, at + f.length + 4, cs_) > 1) return false;
        auto* gs = dynamic_cast<GappedStream*>(&s);
        const uint64_t b = (at / cs_ + 1) * cs_;
        uint64_t c = b / cs_;  // its stream cluster
        if (gs)
            for (const GappedStream::Gap& g : gs->gaps())
                if (g.at < b) c += g.clusters;  // gaps before it, not one tried at it
        auto it = std::lower_bound(skips_.begin(), skips_.end(), c,
                                   [](const Skip& k, uint64_t x) { return k.cluster < x; });
        return it == skips_.end() || it->cluster != c;
    }

    // Where the frames end, as the last End check found.
    uint64_t frames_end() const { return frames_end_; }

    bool plausible(Source& s, uint64_t at, uint64_t& work) override {
        work += 8;
        Header f, g;
        if (!frame_at(s, at, f)) return false;
        if (frame_at(s, at + f.length, g)) return true;
        uint8_t t[8];
        return s.read(at + f.length, t, 8) == 8 && (std::memcmp(t, "TAG", 3) == 0 || std::memcmp(t, "APETAGEX", 8) == 0);
    }

private:
    struct State {
        bool known = false;
        uint64_t free_bits = 0;  // main data bytes after the last frame's main data, in bits
    };

    bool frame_at(Source& s, uint64_t at, Header& f) const {
        uint8_t h[4];
        return at + 4 <= max_ && s.read(at, h, 4) == 4 && decode(h, f) && f.fixed == fixed_ && at + f.length <= max_;
    }

    // Takes the frame at `at` into `st`; false when its main data cannot
    // follow the frames before it.
    bool step(Source& s, uint64_t at, State& st) const {
        uint8_t b[4 + 2 + 32];
        Header f;
        if (s.read(at, b, 4) != 4 || !decode(b, f) || !f.layer3) return true;
        size_t head = 4 + (f.crc ? 2 : 0);
        if (s.read(at + 4, b + 4, head - 4 + f.side) != head - 4 + f.side) return false;
        Reservoir r = side_info(b + head, f);
        if (st.known && uint64_t(r.begin) * 8 > st.free_bits) return false;
        uint64_t data = f.length - head - f.side;
        uint64_t avail = (uint64_t(r.begin) + data) * 8;
        if (r.bits > avail) return false;  // more main data than lies before the next frame
        st.free_bits = avail - r.bits;
        st.known = true;
        return true;
    }

    // The reservoir with the frame at `at` taken in, for accept(). Frames
    // read without a gap are not judged by it: the carver does not either.
    void take(Source& s, uint64_t at) {
        pending_ = state_;
        if (!step(s, at, pending_)) pending_.known = false;
    }

    // The frame at `at` and the ones after it, up to kRun frames or a proven end.
    bool run(Source& s, uint64_t at, uint64_t& work) const {
        State st = state_;
        for (int i = 0; i <= kRun; ++i) {
            work += 64;
            Header f;
            uint8_t b[4 + 2 + 32];
            if (!frame_at(s, at, f)) {
                if (i < 2) return false;
                return tags_end(s, at) != 0;  // fewer frames, then the stream's tags
            }
            if (i > 0 && f.crc) {
                size_t n = 6 + (f.layer3 ? f.side : 0);
                if (s.read(at, b, n) != n || (f.layer3 && !crc_ok(b, f))) return false;
            }
            if (!step(s, at, st)) return false;
            at += f.length;
        }
        return true;
    }

    // The end of APEv2 and ID3v1 tags at `at`, 0 when none ends there provably.
    uint64_t tags_end(Source& s, uint64_t at) const {
        uint64_t pos = at;
        uint8_t t[32];
        if (s.read(pos, t, 32) == 32 && std::memcmp(t, "APETAGEX", 8) == 0) {
            uint64_t body = rd_le32(t + 12);
            if (!(rd_le32(t + 20) & 0x80000000u)) return 0;  // a footer where a header belongs
            uint8_t foot[32];
            uint64_t total = body + 32;
            // The footer repeats the header's size exactly where the size puts it.
            if (body < 32 || pos + total > max_ || s.read(pos + total - 32, foot, 32) != 32 ||
                std::memcmp(foot, "APETAGEX", 8) != 0 || rd_le32(foot + 12) != body)
                return 0;
            pos += total;
        }
        if (s.read(pos, t, 3) == 3 && std::memcmp(t, "TAG", 3) == 0) {
            // The tag's text holds no proof: its bytes must lie in the piece that holds "TAG".
            if (pos + 128 > max_ || s.read(pos + 127, t, 1) != 1 || crosses(pos + 2, pos + 128)) return 0;
            pos += 128;
        }
        return pos == at ? 0 : pos;
    }

    // True when a cluster boundary lies in (from, to): bytes there may be another file's.
    bool crosses(uint64_t from, uint64_t to) const { return boundaries(from, to, cs_) > 0; }

    // The frame at `at` is the stream's last: its bytes and what follows
    // lie in one cluster, so that the file cannot go on elsewhere; or no
    // free cluster follows at all.
    bool proven_end(Source& s, uint64_t at, uint64_t h) const {
        uint8_t b;
        if (s.read(h, &b, 1) != 1) return !crosses(at, h + 1);
        return !crosses(at, h + 4) || (!crosses(at, h + 1) && b != 0xFF);
    }

    uint64_t max_, cs_;
    uint32_t fixed_;
    const std::vector<Skip>& skips_;
    uint64_t frames_end_ = 0;
    State state_, pending_;  // the reservoir after the accepted frames; with the frame just checked
};

// CRC-16 (0x8005 reflected, from zero), as encoders keep of the music.
uint16_t crc16_music(const uint8_t* p, size_t n, uint16_t crc) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// The music's length (from the first frame to the last one's end) and the
// CRC of the frames after the first, from the encoder's tag in the first
// frame ("Xing"/"Info" and its extension); false when it has none.
bool music_tag(Source& s, uint64_t first, const Header& f, uint32_t& length, uint16_t& crc) {
    uint8_t b[4096];  // more than the longest frame
    if (f.length > sizeof b || s.read(first, b, f.length) != f.length) return false;
    const size_t x = 4 + (f.crc ? 2 : 0) + f.side;
    if (x + 8 > f.length || (std::memcmp(b + x, "Xing", 4) != 0 && std::memcmp(b + x, "Info", 4) != 0)) return false;
    const uint32_t flags = rd_be32(b + x + 4);
    const size_t e = x + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
    if (e + 34 > f.length) return false;
    for (size_t i = 0; i < 9; ++i)
        if (b[e + i] < 0x20 || b[e + i] > 0x7E) return false;  // the encoder's name
    length = rd_be32(b + e + 28);
    crc = rd_be16(b + e + 32);
    return length > f.length;
}

// The frames put together are the music the tag describes.
bool music_matches(Source& s, uint64_t first, uint32_t first_length, uint64_t end, uint32_t length, uint16_t crc) {
    if (end < first || end - first != length) return false;
    uint8_t buf[16384];
    uint16_t got = 0;
    for (uint64_t at = first + first_length; at < end;) {
        size_t take = static_cast<size_t>(std::min<uint64_t>(sizeof buf, end - at));
        if (s.read(at, buf, take) != take) return false;
        got = crc16_music(buf, take, got);
        at += take;
    }
    return got == crc;
}

}  // namespace

Stitched stitch_mp3(const Volume& v, uint64_t first_cluster, Source& phys, uint64_t max_size,
                    const std::vector<Skip>& skips) {
    FreeStream head(v, first_cluster, phys);
    uint8_t h[10];
    if (head.read(0, h, 10) != 10) return {};
    uint64_t first = 0;
    if (std::memcmp(h, "ID3", 3) == 0) {
        uint32_t size = 0;
        for (int i = 6; i < 10; ++i) {
            if (h[i] & 0x80) return {};
            size = size << 7 | h[i];
        }
        first = 10ull + size + ((h[5] & 0x10) ? 10 : 0);
        uint8_t b;
        for (uint64_t i = 0; i < kMaxLeadZeros && head.read(first, &b, 1) == 1 && b == 0; ++i) ++first;
    }
    uint8_t fh[4];
    Header f;
    if (first + 4 > max_size || head.read(first, fh, 4) != 4 || !decode(fh, f)) return {};
    // Whatever lies before the first frame (the tag) holds no proof of its
    // own: the frames right after it must follow without a gap.
    Mp3Frames frames(max_size, v.cluster_size, f.fixed, skips);
    uint64_t at = first;
    for (int i = 0; i < kRun; ++i) {
        Header g;
        uint8_t gh[4];
        if (head.read(at, gh, 4) != 4 || !decode(gh, g) || g.fixed != f.fixed) {
            if (i < 2) return {};
            break;
        }
        at += g.length;
    }
    Stitched out = stitch_units(v, first_cluster, phys, max_size, frames, first, kMp3Work, skips);
    uint32_t length;
    uint16_t crc;
    if (out.stream && !out.partial && music_tag(head, first, f, length, crc) &&
        !music_matches(*out.stream, first, f.length, frames.frames_end(), length, crc))
        return {};
    return out;
}

}  // namespace carver::fs
