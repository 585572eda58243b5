// Disks built to stall or blind the engine: every scan ends having read the
// disk a bounded number of times, carves none of the traps as files, and
// still finds the photos that lie inside ranges a header merely claims.
#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "core/format.h"
#include "core/scan.h"
#include "core/source.h"
#include "hostile.h"
#include "media.h"

using namespace carver;
using namespace carver_test;

namespace {

struct Case {
    const char* name;
    size_t size;
    const char* trap_ext;  // extension the trap itself is carved with, or nullptr
};

const Case kCases[] = {
    {"tiff-subifds", 5u << 20, nullptr},  // 4 GiB of queued offsets before
    {"zip64-wrap", 1u << 20, nullptr},    // a million loops per sector before
    {"pdf-no-eof", 2u << 20, nullptr},    // each header read to the disk's end before
    {"swf-cws-bomb", 2u << 20, nullptr},  // 64 MiB inflated per 64 KiB before
    {"swf-zws-claim", 2u << 20, "swf"},   // the photos inside were skipped before
    {"zip-many-locals", 2u << 20, nullptr},
    {"zip-descriptors", 2u << 20, nullptr},
    {"wav-claim", 2u << 20, "wav"},
    {"every-signature", 2u << 20, nullptr},
};

class HostileTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (samples().empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
        std::string err;
        ASSERT_TRUE(table_.load(SNAPMEND_TYPES_TSV, err)) << err;
    }
    TempDir dir_;
    TypeTable table_;
    std::atomic<bool> stop_{false};
};

TEST_F(HostileTest, ScansEndInProportionToTheDiskAndFindWhatLiesInClaimedRanges) {
    const std::vector<Sample> photos = {sample("baseline.jpg"), sample("plain.png")};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        HostileImage h = hostile_image(c.name, c.size);
        std::vector<Sample> planted;
        for (size_t i = 0; i < h.holes.size(); ++i) {
            std::copy(photos[i % 2].data.begin(), photos[i % 2].data.end(), h.data.begin() + long(h.holes[i]));
            planted.push_back(photos[i % 2]);
        }
        std::string img = dir_ / c.name, out = dir_ / (std::string(c.name) + ".out");
        write_file(img, h.data);

        ScanOptions o;
        o.device = img;
        o.out_dir = out;
        o.table = &table_;
        for (const Format* f : all_formats()) o.enabled.insert(std::string(f->key));
        // A window of one block: what walks read past it is read from the
        // device again and counted, a measure of their work.
        o.block_size = 64 * 1024;
        o.window_cap = 64 * 1024;
        std::atomic<uint64_t> read{0};  // the block reader's thread and the walks both read
        o.read_at = [&](int fd, void* buf, size_t n, uint64_t off) {
            ssize_t r = default_read_at(fd, buf, n, off);
            if (r > 0) read += uint64_t(r);
            return r;
        };
        ScanResult r = run_scan(o, stop_);
        ASSERT_EQ(r.status, ScanStatus::Complete) << r.message;
        EXPECT_LE(read.load(), 4 * h.data.size());
        EXPECT_EQ(missing_in(out, planted), "");
        std::map<std::string, int> by_ext;
        for (const std::string& n : list_dir(out)) ++by_ext[n.substr(n.rfind('.') + 1)];
        for (const Sample& s : planted) --by_ext[s.ext];
        std::map<std::string, int> expect;
        if (c.trap_ext) expect[c.trap_ext] = 1;
        for (auto it = by_ext.begin(); it != by_ext.end();) it = it->second ? std::next(it) : by_ext.erase(it);
        EXPECT_EQ(by_ext, expect);
    }
}

// Containers whose end only a header's size gives: a photo lying inside
// that range (the container stored in pieces, or cut) is found as well.
TEST_F(HostileTest, PhotosInsideRangesOnlyAHeaderClaimsAreFound) {
    if (media_samples().empty()) GTEST_SKIP() << "ffmpeg is not installed";
    const Sample& photo = sample("baseline.jpg");
    struct Case {
        const char* what;
        const char* ext;
        Bytes data;
        double at;  // share of the container where the photo lies
    } cases[] = {
        {"AVI frames", "avi", media_sample("clip.avi").data, 0.5},
        {"MP4 media data after the movie header", "mp4", media_sample("faststart.mp4").data, 0.3},
        {"PST pages between the allocation maps", "pst", pst_file(true, 7), 0.4},
        {"Video CD sectors", "dat", media_sample("avseq01.dat").data, 0.2},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        size_t at = static_cast<size_t>(static_cast<double>(c.data.size()) * c.at) / 512 * 512;
        ASSERT_LE(at + photo.data.size(), c.data.size());
        std::copy(photo.data.begin(), photo.data.end(), c.data.begin() + long(at));
        Bytes img = random_bytes(8192, 11);
        append_aligned(img, c.data);
        Bytes tail = random_bytes(8192, 12);
        img.insert(img.end(), tail.begin(), tail.end());
        std::string out = dir_ / (std::string(c.ext) + ".out");
        write_file(dir_ / c.ext, img);

        ScanOptions o;
        o.device = dir_ / c.ext;
        o.out_dir = out;
        o.table = &table_;
        for (const Format* f : all_formats()) o.enabled.insert(std::string(f->key));
        ASSERT_EQ(run_scan(o, stop_).status, ScanStatus::Complete);
        EXPECT_EQ(missing_in(out, {Sample{"container", c.ext, c.data}, photo}), "");
        EXPECT_EQ(junk_in(out, {c.data, photo.data}), "");
    }
}

// A Video CD MPEG-1 stream pads some packs' 2324-byte sectors with zeros:
// the file goes on after them.
TEST_F(HostileTest, VideoCdProgramStreamIsOneFile) {
    if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_EQ(sh("ffmpeg -v error -y -f lavfi -i testsrc=size=352x240:rate=29.97 -f lavfi "
                 "-i sine=f=440:sample_rate=44100 -t 3 -target ntsc-vcd " + dir_ / "vcd.mpg"), 0);
    Sample vcd{"vcd.mpg", "mpg", read_file(dir_ / "vcd.mpg")};
    Bytes img = random_bytes(8192, 3);
    append_aligned(img, vcd.data);
    img.resize(img.size() + 65536, 0);
    Bytes tail = random_bytes(65536, 4);
    img.insert(img.end(), tail.begin(), tail.end());
    write_file(dir_ / "img", img);

    ScanOptions o;
    o.device = dir_ / "img";
    o.out_dir = dir_ / "out";
    o.table = &table_;
    for (const Format* f : all_formats()) o.enabled.insert(std::string(f->key));
    ASSERT_EQ(run_scan(o, stop_).status, ScanStatus::Complete);
    EXPECT_EQ(list_dir(o.out_dir).size(), 1u);
    EXPECT_EQ(missing_in(o.out_dir, {vcd}), "");
}

// A size read from a header must not carry a forward walk back round to
// where it started.
TEST(CursorTest, SkippingPastTheLimitFailsInsteadOfWrapping) {
    Bytes data(4096, 0);
    BufferSource src(data.data(), data.size());
    Cursor c(src, 4096, 100);
    EXPECT_FALSE(c.skip(~uint64_t{0} - 99));
    EXPECT_FALSE(c.skip(3997));
    EXPECT_TRUE(c.skip(3996));
    EXPECT_EQ(c.pos(), 4096u);
}

}  // namespace
