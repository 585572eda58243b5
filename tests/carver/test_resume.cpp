// A scan broken off part way goes on from its checkpoint: the same files as
// a scan run through, each once, and little read twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>

#include "core/checkpoint.h"
#include "core/format.h"
#include "core/scan.h"
#include "helpers.h"

using namespace carver;
using namespace carver_test;

namespace {

std::map<std::string, Bytes> files_below(const std::string& dir) {
    std::map<std::string, Bytes> out;
    for (const std::string& name : list_dir(dir)) out[name] = read_file(dir + "/" + name);
    return out;
}

TEST(Resume, ABrokenOffScanGoesOnToTheSameFilesReadingLittleTwice) {
    if (samples().empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    TempDir dir;
    std::vector<Sample> deleted, kept;
    for (size_t i = 0; i < samples().size(); ++i) (i % 3 ? deleted : kept).push_back(samples()[i]);
    sh("mkdir '" + dir / "stage" + "'");
    if (!make_fat32_with_deleted(dir / "card", dir / "stage", deleted, kept)) GTEST_SKIP() << "mkfs.vfat or mtools missing";
    std::string text;
    for (const Format* f : all_formats()) text += std::string(f->key) + " " + std::string(f->key) + " 67108864\n";
    TypeTable table;
    std::string err;
    ASSERT_TRUE(table.parse(text, err)) << err;
    const uint64_t size = read_file(dir / "card").size();

    std::atomic<uint64_t> bytes{0};
    std::atomic<bool> stop{false};
    uint64_t stop_at = UINT64_MAX;
    auto options = [&](const std::string& out) {
        ScanOptions o;
        o.device = dir / "card";
        o.out_dir = out;
        for (const Format* f : all_formats()) o.enabled.insert(std::string(f->key));
        o.table = &table;
        o.block_size = 64 * 1024;
        o.checkpoint_every = 1 << 20;
        o.command = "fileopt,everything,enable,search";
        o.read_at = [&](int fd, void* buf, size_t n, uint64_t off) -> ssize_t {
            if (off >= stop_at) stop = true;  // the power goes
            ssize_t r = default_read_at(fd, buf, n, off);
            if (r > 0) bytes += static_cast<uint64_t>(r);
            return r;
        };
        return o;
    };
    ASSERT_EQ(run_scan(options(dir / "whole"), stop).status, ScanStatus::Complete);
    const uint64_t whole_bytes = bytes.exchange(0);
    const auto whole = files_below(dir / "whole");
    ASSERT_GE(whole.size(), deleted.size());

    // Broken off in the middle of the photos: some written, some not yet.
    const Bytes card = read_file(dir / "card");
    const Bytes& middle = deleted[deleted.size() / 2].data;
    stop_at = static_cast<uint64_t>(std::search(card.begin(), card.end(), middle.begin(), middle.begin() + 512) - card.begin());
    ASSERT_LT(stop_at, size);
    EXPECT_EQ(run_scan(options(dir / "out"), stop).status, ScanStatus::Stopped);
    const uint64_t broken_at = stop_at;
    stop = false;
    stop_at = UINT64_MAX;
    const auto before = files_below(dir / "out");
    EXPECT_LT(before.size(), whole.size());
    ScanOptions again = options(dir / "out");
    again.resume = true;
    ASSERT_EQ(run_scan(again, stop).status, ScanStatus::Complete);
    EXPECT_EQ(files_below(dir / "out"), whole);
    // The report lists every file once, as one run through lists them.
    const auto report = [&](const char* out) { return read_file(dir / (std::string(out) + "/.snapmend/report.xml")); };
    EXPECT_EQ(report("out"), report("whole"));
    std::printf("broken off at byte %llu of %llu; both runs read %.1f %% of one whole scan\n",
                static_cast<unsigned long long>(broken_at), static_cast<unsigned long long>(size),
                100.0 * static_cast<double>(bytes.load()) / static_cast<double>(whole_bytes));
    EXPECT_LE(bytes.load(), whole_bytes * 105 / 100);

    // A checkpoint of a finished scan, or of another command, is not taken up.
    bytes = 0;
    again.command = "fileopt,everything,disable,jpg,enable,search";
    ASSERT_EQ(run_scan(again, stop).status, ScanStatus::Complete);
    EXPECT_GE(bytes.load(), size);
}

TEST(Resume, ACheckpointIsReadAsUntrustedText) {
    Checkpoint c;
    c.identity = "1024:-:0123456789abcdef";
    c.command = "fileopt,everything,enable,search";
    c.position = 4096;
    c.claimed = {{8192, 16384}};
    c.report_bytes = 777;
    c.unread = {{512, 1024}, {2048, 4096}};
    c.deferred = {{0, 1536}};
    Checkpoint back;
    std::string err;
    ASSERT_TRUE(parse_checkpoint(format_checkpoint(c), back, err)) << err;
    EXPECT_EQ(back.identity, c.identity);
    EXPECT_EQ(back.command, c.command);
    EXPECT_EQ(back.position, c.position);
    EXPECT_EQ(back.claimed, c.claimed);
    EXPECT_EQ(back.report_bytes, c.report_bytes);
    EXPECT_EQ(back.unread, c.unread);
    EXPECT_EQ(back.deferred, c.deferred);
    EXPECT_FALSE(back.done);

    const std::string whole = format_checkpoint(c);
    const std::string refused[] = {
        whole.substr(0, whole.size() - 6),                 // cut before its end
        "version=2\n" + whole.substr(whole.find('\n') + 1),
        "version=1\nidentity=x\nposition=100\nstate=scanning\nend=1\n",  // not a sector
        "version=1\nidentity=x\nposition=-1\nstate=scanning\nend=1\n",
        "version=1\nidentity=x\nposition=0\nstate=half\nend=1\n",
        "version=1\nidentity=x\nposition=0\nstate=done\nreport=9\nclaimed=9-3\nend=1\n",
        "version=1\nidentity=x\nposition=0\nstate=scanning\nend=1\n",  // no report length
        "version=1\nidentity=x\nposition=0\nstate=scanning\nreport=1e3\nend=1\n",
        "version=1\nidentity=x\nposition=1024\nstate=scanning\nreport=9\nunread=512-2048\nend=1\n",  // past the position
        "version=1\nidentity=x\nunread=0-512\nposition=1024\nstate=scanning\nreport=9\nend=1\n",
        "version=1\nidentity=x\nposition=1024\nstate=scanning\nreport=9\ndeferred=1024-2048\nend=1\n",
        "version=1\nposition=0\nstate=done\nend=1\n",       // no identity
        "garbage\n",
        "",
    };
    for (const std::string& text : refused) EXPECT_FALSE(parse_checkpoint(text, back, err)) << text;
}

}  // namespace
