// MP3 and other MPEG audio: an optional ID3v2 tag, a chain of frames whose
// headers agree on version, layer and sampling rate, optional APE and ID3v1
// tags after the last frame.
#include <cstring>

#include "core/format.h"
#include "fs/stitch.h"
#include "formats/mpeg_audio.h"

namespace carver {
namespace {

constexpr uint64_t kMinFrames = 8;       // after an ID3v2 tag
constexpr uint64_t kMinBareFrames = 32;  // without one

// ID3v2 tag length (header, body, footer), 0 if `h` is not one.
uint64_t id3v2(const uint8_t* h) {
    if (std::memcmp(h, "ID3", 3) != 0 || h[3] < 2 || h[3] > 4 || h[4] == 0xFF) return 0;
    uint32_t size = 0;
    for (int i = 6; i < 10; ++i) {
        if (h[i] & 0x80) return 0;
        size = size << 7 | h[i];
    }
    return 10ull + size + ((h[5] & 0x10) ? 10 : 0);
}

bool check(const uint8_t* h, size_t n) {
    if (n < 10) return false;
    MpegAudioFrame f;
    return id3v2(h) != 0 || decode_mpeg_audio(h, f);
}

Carve walk(Source& src, uint64_t max_size) {
    Cursor c(src, max_size);
    uint8_t h[10];
    if (!c.bytes(h, 10)) return {};
    uint64_t pos = id3v2(h);
    bool tagged = pos != 0;
    // Some writers pad the tag with zeros beyond its declared size.
    if (tagged) {
        if (!c.seek(pos)) return {};
        uint8_t b;
        for (int i = 0; i < 65536 && c.peek(b) && b == 0; ++i) c.skip(1);
        pos = c.pos();
    }
    const uint64_t first = pos;
    uint64_t frames = 0;
    uint32_t fixed = 0;
    uint32_t music = 0;  // the length the encoder's tag declares, 0 without one
    for (;;) {
        uint8_t fh[4];
        MpegAudioFrame f;
        if (!c.seek(pos) || !c.bytes(fh, 4) || !decode_mpeg_audio(fh, f)) break;
        if (frames > 0 && f.fixed != fixed) break;
        if (pos + f.length > max_size) break;
        uint8_t last;
        if (!c.seek(pos + f.length - 1) || !c.u8(last)) break;
        if (frames == 0) {
            uint8_t b[4096];
            if (f.length <= sizeof b && c.seek(pos) && c.bytes(b, f.length)) music = mpeg_audio_music_length(b, f);
        }
        fixed = f.fixed;
        pos += f.length;
        ++frames;
    }
    if (frames < (tagged ? kMinFrames : kMinBareFrames)) return {};
    // Frames that stop short of the music the encoder wrote: a head only.
    const bool short_of_music = music && pos - first < music;
    // Trailing tags: APEv2 (32-byte footer, size excludes the header) then ID3v1.
    uint8_t t[32];
    if (c.seek(pos) && c.bytes(t, 32) && std::memcmp(t, "APETAGEX", 8) == 0) {
        uint64_t body = rd_le32(t + 12);
        bool header = (rd_le32(t + 20) & 0x80000000u) != 0;
        // A tag starting here begins with its header; its footer closes it.
        uint64_t total = body + (header ? 32 : 0);
        uint8_t foot[8], last;
        if (total >= 32 && c.seek(pos + total - 32) && c.bytes(foot, 8) &&
            std::memcmp(foot, "APETAGEX", 8) == 0 && c.seek(pos + total - 1) && c.u8(last))
            pos += total;
    }
    if (c.seek(pos) && c.bytes(t, 3) && std::memcmp(t, "TAG", 3) == 0 && c.seek(pos + 127) &&
        c.u8(t[0]))
        pos += 128;
    Carve cv{pos, nullptr};
    cv.partial = short_of_music;
    return cv;
}

}  // namespace

uint32_t mpeg_audio_music_length(const uint8_t* b, const MpegAudioFrame& f) {
    if (!f.layer3) return 0;
    const size_t x = 4 + (f.crc ? 2 : 0) + (f.v1 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17));
    if (x + 8 > f.length || (std::memcmp(b + x, "Xing", 4) != 0 && std::memcmp(b + x, "Info", 4) != 0)) return 0;
    const uint32_t flags = rd_be32(b + x + 4);
    const size_t e = x + 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) + ((flags & 8) ? 4 : 0);
    if (e + 34 > f.length) return 0;
    for (size_t i = 0; i < 9; ++i)
        if (b[e + i] < 0x20 || b[e + i] > 0x7E) return 0;  // the encoder's name
    const uint32_t length = rd_be32(b + e + 28);
    return length > f.length ? length : 0;
}

bool decode_mpeg_audio(const uint8_t* h, MpegAudioFrame& f) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    int version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    int layer = (h[1] >> 1) & 3;    // 1: III, 2: II, 3: I
    int bitrate = h[2] >> 4;
    int rate = (h[2] >> 2) & 3;
    int pad = (h[2] >> 1) & 1;
    if (version == 1 || layer == 0 || bitrate == 0 || bitrate == 15 || rate == 3) return false;
    if ((h[3] & 3) == 2) return false;  // reserved emphasis
    static const uint16_t kRates[3] = {44100, 48000, 32000};
    static const uint16_t kKbps[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    f.v1 = version == 3;
    uint32_t hz = kRates[rate] >> (f.v1 ? 0 : version == 2 ? 1 : 2);
    uint32_t bps = kKbps[f.v1 ? 0 : 1][3 - layer][bitrate] * 1000u;
    if (layer == 3)  // layer I: 4-byte slots
        f.length = (12 * bps / hz + pad) * 4;
    else if (layer == 1 && !f.v1)  // layer III, MPEG-2/2.5
        f.length = 72 * bps / hz + pad;
    else
        f.length = 144 * bps / hz + pad;
    f.fixed = static_cast<uint32_t>(h[1] & 0xFE) << 8 | (h[2] & 0x0C);
    f.layer3 = layer == 1;
    f.crc = (h[1] & 1) == 0;
    f.mono = (h[3] >> 6) == 3;
    return f.length >= 24;
}


// "ID3", or a frame sync byte; `check` validates the whole frame header, which
// costs less per sector than one signature per valid second byte.
const Format& mp3_format() {
    static const Format f{"mp3", {"ID3", "\xFF"}, check, walk, &fs::kMp3Stitcher};
    return f;
}

}  // namespace carver
