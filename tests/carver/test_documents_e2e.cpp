// `photo` on disk images holding deleted documents and archives.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "helpers.h"

using namespace carver_test;

namespace {

const std::string kAll = "fileopt,everything,enable,search";

class DocumentEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        struct stat st;
        ASSERT_EQ(::stat(photo_path().c_str(), &st), 0) << photo_path();
    }
    TempDir dir_;
};

TEST_F(DocumentEngineTest, RecoversDeletedDocumentsFromFat32ByteForByteWithTheirNames) {
    if (!have_tool("mkfs.vfat") || !have_tool("mcopy")) GTEST_SKIP() << "dosfstools/mtools missing";
    const auto& docs = document_samples();
    std::string img = dir_ / "fat32.img";
    ASSERT_TRUE(make_fat32_with_deleted(img, dir_.path(), docs));

    RunResult r = run_photo({"/d", dir_ / "out", "/cmd", img, kAll});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing_in(dir_ / "out", docs), "");
    std::vector<Bytes> originals;
    for (const Sample& s : docs) originals.push_back(s.data);
    EXPECT_EQ(junk_in(dir_ / "out", originals), "");
    EXPECT_EQ(list_dir(dir_ / "out").size(), docs.size());
}

TEST_F(DocumentEngineTest, SingleKeySwitchesEnableExactlyTheirParsers) {
    Bytes img = random_bytes(1 << 16, 8);
    for (const Sample& s : document_samples()) {
        append_aligned(img, s.data);
        img.resize(img.size() + 4096, 0);
    }
    write_file(dir_ / "disk.raw", img);
    struct Case { const char* key; std::vector<std::string> exts; } cases[] = {
        {"pdf", {"pdf"}},
        {"zip", {"zip", "docx", "xlsx", "pptx", "odt", "ods", "jar", "apk"}},
        {"doc", {"doc", "xls", "ppt"}},
        {"txt", {"txt"}},
        {"rar", {"rar"}},
        {"swf", {"swf"}},
        {"pst", {"pst"}},
        {"raw", {"nef", "cr2", "arw", "dng", "orf", "rw2", "pef", "raf", "crw"}},
    };
    for (const Case& c : cases) {
        std::string out = dir_ / (std::string("only-") + c.key);
        RunResult r = run_photo({"/d", out, "/cmd", dir_ / "disk.raw",
                                 std::string("fileopt,everything,disable,") + c.key + ",enable,search"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<Sample> want;
        for (const Sample& s : document_samples())
            for (const auto& e : c.exts)
                if (s.ext == e) want.push_back(s);
        EXPECT_EQ(missing_in(out, want), "") << c.key;
        // Text alone also finds the readable parts of the other files (uncompressed
        // PDF objects, stored archive members), which are text in their own right.
        if (std::string(c.key) != "txt") {
            EXPECT_EQ(list_dir(out).size(), want.size()) << c.key;
        }
        for (const auto& name : list_dir(out)) {
            std::string ext = name.substr(name.rfind('.') + 1);
            EXPECT_NE(std::find(c.exts.begin(), c.exts.end(), ext), c.exts.end()) << c.key << ": " << name;
        }
    }
}

}  // namespace
