// `photo` as a separate process on disk images holding media files made with
// ffmpeg and ImageMagick.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "helpers.h"
#include "media.h"

using namespace carver_test;

namespace {

const std::string kAll = "fileopt,everything,enable,search";

class MediaEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        struct stat st;
        ASSERT_EQ(::stat(photo_path().c_str(), &st), 0) << photo_path();
        if (media_samples().empty()) GTEST_SKIP() << "ffmpeg is not installed";
    }
    TempDir dir_;
};

TEST_F(MediaEngineTest, DeletedMediaOnFat32AreCarvedByteForByte) {
    if (!have_tool("mkfs.vfat") || !have_tool("mcopy")) GTEST_SKIP() << "dosfstools/mtools missing";
    const auto& media = media_samples();
    std::string img = dir_ / "fat32.img";
    ASSERT_TRUE(make_fat32_with_deleted(img, dir_.path(), media));

    RunResult r = run_photo({"/d", dir_ / "out", "/cmd", img, kAll});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing_in(dir_ / "out", media), "");
    std::vector<Bytes> originals;
    for (const Sample& s : media) originals.push_back(s.data);
    EXPECT_EQ(junk_in(dir_ / "out", originals), "");
}

TEST_F(MediaEngineTest, MixedImageKeepsPrecisionAndSingleKeysSelectTheirParsers) {
    // Media and photos between random data, zeros and small text files.
    std::vector<Sample> placed = media_samples();
    for (const Sample& s : samples()) placed.push_back(s);
    Bytes img = random_bytes(300000, 41);
    std::vector<Bytes> originals;
    uint32_t seed = 100;
    for (const Sample& s : placed) {
        append_aligned(img, s.data);
        originals.push_back(s.data);
        Bytes noise = random_bytes(20000 + seed * 37 % 9000, seed);
        append_aligned(img, noise);
        std::string text = "Meeting notes " + std::to_string(seed) + "\nnothing to carve here.\n";
        append_aligned(img, Bytes(text.begin(), text.end()));
        img.resize(img.size() + 4096, 0);
        ++seed;
    }
    std::string path = dir_ / "mixed.img";
    write_file(path, img);

    RunResult r = run_photo({"/d", dir_ / "all", "/cmd", path, kAll});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing_in(dir_ / "all", placed), "");
    EXPECT_EQ(junk_in(dir_ / "all", originals), "") << "carved files that match no planted file";
    EXPECT_EQ(list_dir(dir_ / "all").size(), placed.size());

    // One key: exactly that key's files.
    for (const char* key : {"mov", "mp3", "asf", "dat"}) {
        SCOPED_TRACE(key);
        std::string out = dir_ / (std::string("only-") + key);
        r = run_photo({"/d", out, "/cmd", path,
                       std::string("fileopt,everything,disable,") + key + ",enable,search"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<Sample> want;
        for (const Sample& s : media_samples())
            if (s.ext == key) want.push_back(s);
        EXPECT_EQ(missing_in(out, want), "");
        EXPECT_EQ(list_dir(out).size(), want.size());
    }
}

}  // namespace
