// Media parsers on byte buffers: files made with ffmpeg/ImageMagick carved to
// their true end with the right key and extension; damage rejected.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "core/format.h"
#include "helpers.h"
#include "media.h"

using namespace carver;
using namespace carver_test;

namespace {

constexpr uint64_t kMax = 64ull << 20;

struct Hit {
    const Format* format = nullptr;
    Carve carve;
};

// What the scanner would do at offset 0: the first enabled format whose
// signature, check and walk accept the bytes.
Hit carve_any(const Bytes& d, uint64_t max = kMax) {
    for (const Format* f : all_formats()) {
        bool sig = false;
        for (auto s : f->signatures)
            sig |= d.size() >= s.size() && std::memcmp(s.data(), d.data(), s.size()) == 0;
        if (!sig || (f->check && !f->check(d.data(), d.size()))) continue;
        BufferSource src(d.data(), d.size());
        Carve c = f->walk(src, max);
        if (c.length) return {f, c};
    }
    return {};
}

std::string key_of(const Sample& s) {
    static const std::map<std::string, std::string> kStill = {
        {"webp", "raw"}, {"heic", "raw"}, {"avif", "raw"}};
    auto it = kStill.find(s.ext);
    return it == kStill.end() ? s.ext : it->second;
}

std::string ext_of(const Hit& h) { return h.carve.ext ? h.carve.ext : std::string(h.format->key); }

class MediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (media_samples().empty()) GTEST_SKIP() << "ffmpeg is not installed";
    }
};

TEST_F(MediaTest, TrueEndKeyAndExtensionWhateverFollows) {
    for (const Sample& s : media_samples()) {
        SCOPED_TRACE(s.name);
        Hit plain = carve_any(s.data);
        ASSERT_NE(plain.format, nullptr);
        EXPECT_EQ(plain.format->key, key_of(s));
        EXPECT_EQ(plain.carve.length, s.data.size());
        std::string ext = s.ext == "heic" || s.ext == "avif" || s.ext == "webp" ? s.ext
                          : s.ext == "dat" ? "dat"
                                           : std::string(plain.format->key);
        EXPECT_EQ(ext_of(plain), ext);

        Bytes junk = s.data;
        Bytes tail = random_bytes(70000, 9);
        junk.insert(junk.end(), tail.begin(), tail.end());
        EXPECT_EQ(carve_any(junk).carve.length, s.data.size()) << "random data after it";

        Bytes zeros = s.data;
        zeros.resize(zeros.size() + 8192, 0);
        EXPECT_EQ(carve_any(zeros).carve.length, s.data.size()) << "zeros after it";

        Bytes two = s.data;
        append_aligned(two, s.data);  // the same kind of file right after it
        EXPECT_EQ(carve_any(two).carve.length, s.data.size()) << "a second file after it";
    }
}

TEST_F(MediaTest, TruncatedOrOversizedFilesAreRejected) {
    for (const Sample& s : media_samples()) {
        SCOPED_TRACE(s.name);
        // MPEG audio and program streams have no length field: a cut stream ends
        // at its last whole frame or pack; RealMedia at its last whole packet.
        bool framed_only = s.ext == "mp3" || s.ext == "mpg" || s.ext == "rm";
        for (size_t cut : {s.data.size() - 1, s.data.size() * 2 / 3, size_t{700}}) {
            if (cut >= s.data.size()) continue;
            Bytes part(s.data.begin(), s.data.begin() + static_cast<long>(cut));
            uint64_t got = carve_any(part).carve.length;
            if (framed_only) {
                EXPECT_LE(got, cut) << "cut at " << cut;
            } else {
                EXPECT_EQ(got, 0u) << "cut at " << cut;
            }
        }
        if (!framed_only) {
            EXPECT_EQ(carve_any(s.data, s.data.size() - 1).carve.length, 0u);
        }
        EXPECT_EQ(carve_any(s.data, s.data.size()).carve.length, s.data.size());
    }
}

// Overwrites 4 bytes at `at` (little or big endian as given).
Bytes patched(Bytes b, size_t at, uint32_t v, bool big = false) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (big ? 24 - 8 * i : 8 * i));
    return b;
}

TEST_F(MediaTest, InconsistentSizesAndStructuresAreRejected) {
    const Bytes& avi = media_sample("clip.avi").data;
    const Bytes& wav = media_sample("tone.wav").data;
    const Bytes& wmv = media_sample("clip.wmv").data;
    const Bytes& mpg = media_sample("mpeg1.mpg").data;
    const Bytes& mp4 = media_sample("faststart.mp4").data;
    struct Case {
        const char* what;
        Bytes data;
    } cases[] = {
        {"RIFF size 2 bytes short", patched(avi, 4, rd_le32(&avi[4]) - 2)},
        {"RIFF size 512 bytes long", patched(wav, 4, rd_le32(&wav[4]) + 512)},
        {"WAVE chunk size past the RIFF end", patched(wav, 16, 0x7FFFFFFF)},
        {"ASF file size one byte short",
         [&] {
             // File properties: its GUID's offset + 40 holds the file size.
             const uint8_t fp[] = {0xA1, 0xDC, 0xAB, 0x8C};
             size_t at = std::search(wmv.begin(), wmv.end(), fp, fp + 4) - wmv.begin();
             return patched(wmv, at + 40, static_cast<uint32_t>(wmv.size() - 1));
         }()},
        {"ASF file cut and followed by other data",
         [&] {
             Bytes b(wmv.begin(), wmv.begin() + static_cast<long>(wmv.size() / 2));
             Bytes r = random_bytes(wmv.size() - b.size(), 77);
             b.insert(b.end(), r.begin(), r.end());
             return b;
         }()},
        {"MPEG pack with a broken marker bit",
         [&] {
             Bytes b = mpg;
             b[4] &= 0xFE;
             return b;
         }()},
        {"MP4 box size past the data",
         [&] {
             size_t moov = rd_be32(&mp4[0]);  // faststart: moov follows ftyp
             return patched(mp4, moov, rd_be32(&mp4[moov]) + 3, true);
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Hit h = carve_any(c.data);
        EXPECT_EQ(h.carve.length, 0u) << (h.format ? h.format->key : "");
    }
}

TEST_F(MediaTest, Mp3ChainStopsAtForeignFrameAndKeepsTrailingTag) {
    const Bytes& tagged = media_sample("tagged.mp3").data;
    ASSERT_EQ(std::memcmp(&tagged[tagged.size() - 128], "TAG", 3), 0);
    // A frame header with another sampling rate after the first 40 frames of
    // the bare stream ends the chain there.
    const Bytes& bare = media_sample("bare.mp3").data;
    Hit whole = carve_any(bare);
    ASSERT_EQ(whole.carve.length, bare.size());
    size_t pos = 0;
    for (int i = 0; i < 40; ++i) {
        uint32_t bps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
        // MPEG-1 layer III at 22050 Hz is MPEG-2: 72 * bitrate / rate.
        uint32_t rate = 22050, kbps = bps[bare[pos + 2] >> 4];
        bool mpeg1 = (bare[pos + 1] & 0x18) == 0x18;
        if (!mpeg1) {
            static const uint32_t v2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
            kbps = v2[bare[pos + 2] >> 4];
        }
        pos += (mpeg1 ? 144 : 72) * kbps * 1000 / rate + ((bare[pos + 2] >> 1) & 1);
    }
    Bytes cut = bare;
    cut[pos + 2] ^= 0x04;  // sampling rate index
    EXPECT_EQ(carve_any(cut).carve.length, pos);
}

// An APEv2 tag: header and footer of 32 bytes around `items`.
Bytes ape_tag(size_t items, uint32_t declared) {
    auto block = [&](bool header) {
        Bytes b = {'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07, 0, 0};
        for (uint32_t v : {declared, 0u, header ? 0xA0000000u : 0x80000000u})
            for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        b.resize(32, 0);
        return b;
    };
    Bytes t = block(true);
    t.resize(t.size() + items, 'x');
    Bytes f = block(false);
    t.insert(t.end(), f.begin(), f.end());
    return t;
}

TEST_F(MediaTest, Mp3TrailingApeTagOnlyWhenWhole) {
    const Bytes& bare = media_sample("bare.mp3").data;
    Bytes tag = ape_tag(40, 40 + 32);
    Bytes good = bare;
    good.insert(good.end(), tag.begin(), tag.end());
    Bytes padded = good;
    padded.resize(padded.size() + 600, 0x5A);
    EXPECT_EQ(carve_any(padded).carve.length, good.size());
    // A size reaching past the data or the maximum leaves the tag out.
    Bytes lying = bare;
    Bytes big = ape_tag(40, 5000);
    lying.insert(lying.end(), big.begin(), big.end());
    EXPECT_EQ(carve_any(lying).carve.length, bare.size());
    EXPECT_EQ(carve_any(good, good.size() - 1).carve.length, bare.size());
}

TEST_F(MediaTest, QuickTimeBrandsDecideKeyAndExtension) {
    Bytes mov = media_sample("clip.mov").data;
    const Format* mp4 = find_format("mp4");
    ASSERT_NE(mp4, nullptr);
    EXPECT_FALSE(mp4->check(mov.data(), mov.size()));  // a QuickTime file is not an mp4
    struct Case {
        const char* brand;
        const char* key;
        const char* ext;
    } cases[] = {
        {"isom", "mp4", "mp4"}, {"M4A ", "mp4", "m4a"}, {"3gp5", "3gp", "3gp"},
        {"3g2a", "3gp", "3g2"}, {"heic", "raw", "heic"}, {"avif", "raw", "avif"},
        {"qt  ", "mov", "mov"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.brand);
        Bytes b = mov;
        std::memcpy(&b[8], c.brand, 4);
        Hit h = carve_any(b);
        if (std::string(c.key) == "raw") {
            EXPECT_EQ(h.carve.length, 0u) << "a movie without an item meta box is no still image";
            continue;
        }
        ASSERT_NE(h.format, nullptr);
        EXPECT_EQ(h.format->key, c.key);
        EXPECT_EQ(ext_of(h), c.ext);
        EXPECT_EQ(h.carve.length, b.size());
    }
}

TEST_F(MediaTest, QuickTimeWithoutFtypNeedsItsMovieHeader) {
    const Bytes& mov = media_sample("clip.mov").data;
    size_t ftyp = rd_be32(&mov[0]);
    ASSERT_EQ(std::memcmp(&mov[ftyp + 4], "wide", 4), 0);
    Bytes bare(mov.begin() + static_cast<long>(ftyp), mov.end());  // wide, mdat, moov
    bare.resize(bare.size() + 1024, 0);
    Hit h = carve_any(bare);
    ASSERT_NE(h.format, nullptr);
    EXPECT_EQ(h.format->key, "mov");
    EXPECT_EQ(h.carve.length, mov.size() - ftyp);

    // The same boxes with the movie header renamed: nothing vouches for them.
    const uint8_t mvhd[] = {'m', 'v', 'h', 'd'};
    auto at = std::search(bare.begin(), bare.end(), mvhd, mvhd + 4);
    ASSERT_NE(at, bare.end());
    *at = 'x';
    EXPECT_EQ(carve_any(bare).carve.length, 0u);
    // Only the mov key takes them.
    Bytes moov_first(mov.begin() + static_cast<long>(ftyp), mov.end());
    EXPECT_FALSE(find_format("mp4")->check(moov_first.data(), moov_first.size()));
}

}  // namespace
