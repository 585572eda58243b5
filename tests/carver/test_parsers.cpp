// Parsers on byte buffers: true ends, rejection of damaged and random data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "cards.h"
#include "core/format.h"
#include "fs/stitch.h"
#include "helpers.h"

using namespace carver;
using namespace carver_test;

namespace {

constexpr uint64_t kMax = 64ull << 20;

uint64_t carve(std::string_view key, const Bytes& data, uint64_t max = kMax) {
    const Format* f = find_format(key);
    if (!f) return ~0ull;
    if (f->check && !f->check(data.data(), data.size())) return 0;
    BufferSource src(data.data(), data.size());
    return f->walk(src, max).length;
}

class ParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (samples().empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    }
};

TEST_F(ParserTest, FindsTrueEndFollowedByJunkZerosOrAnotherFile) {
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.name);
        const Format* f = find_format(s.ext);
        ASSERT_NE(f, nullptr);
        bool signed_ok = false;
        for (auto sig : f->signatures)
            signed_ok |= std::memcmp(sig.data(), s.data.data(), sig.size()) == 0;
        EXPECT_TRUE(signed_ok);

        Bytes junk = s.data;
        Bytes tail = random_bytes(70000, 5);
        junk.insert(junk.end(), tail.begin(), tail.end());
        EXPECT_EQ(carve(s.ext, junk), s.data.size());

        Bytes zeros = s.data;
        zeros.resize(zeros.size() + 4096, 0);
        EXPECT_EQ(carve(s.ext, zeros), s.data.size());

        Bytes two = s.data;
        append_aligned(two, sample("baseline.jpg").data);
        EXPECT_EQ(carve(s.ext, two), s.data.size());
    }
}

TEST_F(ParserTest, SamplesCoverEveryVariant) {
    auto starts = [](const std::string& name, const char* magic) {
        return std::memcmp(sample(name).data.data(), magic, std::strlen(magic)) == 0;
    };
    EXPECT_TRUE(starts("old.gif", "GIF87a"));
    EXPECT_TRUE(starts("anim.gif", "GIF89a"));
    EXPECT_TRUE(starts("le.tif", "II*"));
    EXPECT_TRUE(starts("be.tif", "MM"));
    const Bytes& p = sample("progressive.jpg").data;
    const uint8_t sof2[] = {0xFF, 0xC2};
    EXPECT_NE(std::search(p.begin(), p.end(), sof2, sof2 + 2), p.end());
}

TEST_F(ParserTest, RejectsTruncatedFilesAndFilesOverTheMaximum) {
    for (const Sample& s : samples()) {
        SCOPED_TRACE(s.name);
        for (size_t cut : {s.data.size() - 1, s.data.size() / 2, size_t{600}}) {
            if (cut >= s.data.size()) continue;
            Bytes part(s.data.begin(), s.data.begin() + static_cast<long>(cut));
            EXPECT_EQ(carve(s.ext, part), 0u) << "cut at " << cut;
        }
        EXPECT_EQ(carve(s.ext, s.data, s.data.size() - 1), 0u);
        EXPECT_EQ(carve(s.ext, s.data, s.data.size()), s.data.size());
    }
}

TEST_F(ParserTest, ExifThumbnailIsPartOfTheMainJpeg) {
    Bytes jpg = jpeg_with_exif_thumbnail();
    ASSERT_EQ(jpg[1024], 0xFF);
    ASSERT_EQ(jpg[1025], 0xD8);
    Bytes padded = jpg;
    padded.resize(padded.size() + 2048, 0x5A);
    EXPECT_EQ(carve("jpg", padded), jpg.size());
}

TEST_F(ParserTest, JpegRejectsNewFileInsideEntropyData) {
    // A truncated photo overwritten by the start of another one.
    const Bytes& a = sample("progressive.jpg").data;
    Bytes img(a.begin(), a.begin() + 8192);
    img.insert(img.end(), sample("baseline.jpg").data.begin(), sample("baseline.jpg").data.end());
    EXPECT_EQ(carve("jpg", img), 0u);
}

// The head of a JPEG the baseline search does not take ends where a scan
// that decodes ends, never after a scan that does not, and shows the picture.
TEST_F(ParserTest, JpegHeadEndsAfterTheLastScanThatDecodes) {
    const Bytes& prog = sample("progressive.jpg").data;
    // Where each scan's data ends (the marker after it).
    std::vector<size_t> ends;
    for (size_t at = 2; at + 4 <= prog.size() && prog[at] == 0xFF && prog[at + 1] != 0xD9;) {
        const uint8_t m = prog[at + 1];
        at += 2 + (size_t(prog[at + 2]) << 8 | prog[at + 3]);
        if (m != 0xDA) continue;
        while (at + 1 < prog.size() && !(prog[at] == 0xFF && prog[at + 1] != 0 && (prog[at + 1] & 0xF8) != 0xD0)) ++at;
        ends.push_back(at);
    }
    ASSERT_GE(ends.size(), 6u) << "the sample has too few scans";
    const size_t third = ends[2], mid = (ends[3] + ends[4]) / 2;
    auto noise = [](size_t at) {
        return [at](Bytes& b) {
            Bytes r = random_bytes(64, 9);
            std::copy(r.begin(), r.end(), b.begin() + static_cast<long>(at));
        };
    };
    auto recode = [](uint8_t sof) {  // the frame said to be coded otherwise: its scans are not decoded
        return [sof](Bytes& b) {
            const uint8_t frame[] = {0xFF, 0xC2};
            b[static_cast<size_t>(std::search(b.begin(), b.end(), std::begin(frame), std::end(frame)) - b.begin()) + 1] = sof;
        };
    };
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        size_t limit, sure;
        size_t cut;  // expected
    } cases[] = {
        {"whole: every scan", nullptr, prog.size(), 512, ends.back()},
        {"read up to the middle of a scan: the scans before it", nullptr, mid, 512, ends[3]},
        {"noise in the fourth scan's data", noise(third + 200), prog.size(), 512, third},
        {"arithmetic coding: the scans inside the sure bytes", recode(0xCA), prog.size(), mid, ends[3]},
        {"arithmetic coding, no scan inside the sure bytes", recode(0xCA), prog.size(), 512, 0},
    };
    for (const Case& c : cases) {
        Bytes b = prog;
        if (c.damage) c.damage(b);
        BufferSource src(b.data(), b.size());
        const uint64_t cut = carver::fs::jpeg_scans_head(src, c.limit, c.sure);
        EXPECT_EQ(cut, c.cut) << c.what;
        if (cut == 0 || c.damage) continue;
        Bytes head(b.begin(), b.begin() + static_cast<long>(cut));
        head.push_back(0xFF), head.push_back(0xD9);
        TempDir tmp;
        write_file(tmp / "head.jpg", head);
        EXPECT_TRUE(plays(tmp / "head.jpg")) << c.what << ": the head does not decode";
    }
}

TEST_F(ParserTest, PngRejectsCorruptedChunk) {
    Bytes png = sample("plain.png").data;
    png[png.size() / 2] ^= 0x40;
    EXPECT_EQ(carve("png", png), 0u);
    Bytes crc = sample("plain.png").data;
    crc[8 + 8 + 13] ^= 1;  // IHDR's CRC
    EXPECT_EQ(carve("png", crc), 0u);
}

TEST_F(ParserTest, BmpAndTiffRejectInconsistentHeaders) {
    Bytes bmp = sample("rgb.bmp").data;
    bmp[2] ^= 0x10;  // file size no longer matches the pixel array
    EXPECT_EQ(carve("bmp", bmp), 0u);
    Bytes bmp2 = sample("rgb.bmp").data;
    bmp2[28] = 7;  // bits per pixel
    EXPECT_EQ(carve("bmp", bmp2), 0u);

    Bytes tif = sample("le.tif").data;
    uint32_t ifd = rd_le32(&tif[4]);
    tif[ifd] = 0;  // no entries
    tif[ifd + 1] = 0;
    EXPECT_EQ(carve("tif", tif), 0u);
    Bytes loop = sample("be.tif").data;
    // The first IFD's next-IFD pointer made to point at itself.
    uint32_t first = rd_be32(&loop[4]);
    uint16_t n = rd_be16(&loop[first]);
    size_t next = first + 2 + n * 12u;
    for (int i = 0; i < 4; ++i) loop[next + i] = loop[4 + i];
    EXPECT_EQ(carve("tif", loop), 0u);
}

TEST(ParserJunk, RandomDataAfterASignatureIsRejected) {
    int carved = 0;
    for (const Format* f : all_formats()) {
        for (uint32_t seed = 1; seed <= 300; ++seed) {
            Bytes b = random_bytes(16384, seed);
            std::string_view sig = f->signatures[seed % f->signatures.size()];
            std::copy(sig.begin(), sig.end(), b.begin());
            BufferSource src(b.data(), b.size());
            if (f->walk(src, kMax).length) ++carved;
        }
    }
    EXPECT_EQ(carved, 0);
}

}  // namespace
