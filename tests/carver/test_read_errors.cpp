// Scans of a device with unreadable ranges: what lies outside them comes out
// whole, files touching them are cut where the unreadable bytes begin, and
// the scan does not spend a failed read on every sector of a bad area.
#include <gtest/gtest.h>

#include <cerrno>
#include <atomic>
#include <map>

#include "core/checkpoint.h"
#include "core/format.h"
#include "core/scan.h"
#include "helpers.h"

using namespace carver;
using namespace carver_test;

namespace {

struct Range {
    uint64_t from, to;
};

bool overlaps(const std::vector<Range>& bad, uint64_t from, uint64_t to) {
    for (const Range& r : bad)
        if (r.from < to && r.to > from) return true;
    return false;
}

uint64_t first_bad(const std::vector<Range>& bad, uint64_t from, uint64_t to) {
    uint64_t first = UINT64_MAX;
    for (const Range& r : bad)
        if (r.from < to && r.to > from) first = std::min(first, std::max(r.from, from));
    return first;
}

class ReadErrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (samples().empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
        std::string text;
        for (const Format* f : all_formats()) text += std::string(f->key) + " " + std::string(f->key) + " 67108864\n";
        std::string err;
        ASSERT_TRUE(table_.parse(text, err)) << err;
        // Three photos, far enough apart for a bad area to touch one alone.
        img_ = random_bytes(8192, 3);
        for (const char* name : {"plain.png", "baseline.jpg", "be.tif"}) {
            photos_.push_back(sample(name));
            offsets_.push_back(append_aligned(img_, photos_.back().data));
            img_.resize(img_.size() + (3u << 20), 0);
        }
        write_file(dir_ / "img", img_);
    }

    ScanOptions options(const std::vector<Range>& bad, std::function<bool(uint64_t)> fails_now) {
        ScanOptions o;
        o.device = dir_ / "img";
        o.out_dir = dir_ / "out";
        for (const Format* f : all_formats()) o.enabled.insert(std::string(f->key));
        o.table = &table_;
        o.block_size = 256 * 1024;
        o.read_at = [this, bad, fails_now](int fd, void* buf, size_t n, uint64_t off) -> ssize_t {
            if (overlaps(bad, off, off + n) && fails_now(off)) {
                ++failed_reads_;
                errno = EIO;
                return -1;
            }
            return default_read_at(fd, buf, n, off);
        };
        return o;
    }

    // Each photo whole when no bad range touches it, else cut right before
    // the first unreadable byte and named partial.
    void expect_photos(const std::string& out, const std::vector<Range>& bad) {
        std::map<std::string, Bytes> files;
        for (const std::string& name : list_dir(out)) files[name] = read_file(out + "/" + name);
        for (size_t i = 0; i < photos_.size(); ++i) {
            SCOPED_TRACE(photos_[i].name);
            const uint64_t at = offsets_[i], end = at + photos_[i].data.size();
            char name[64];
            if (!overlaps(bad, at, end)) {
                std::snprintf(name, sizeof name, "f%010llu.%s", (unsigned long long)(at / 512), photos_[i].ext.c_str());
                EXPECT_EQ(files[name], photos_[i].data);
                continue;
            }
            std::snprintf(name, sizeof name, "f%010llu.partial.%s", (unsigned long long)(at / 512),
                          photos_[i].ext.c_str());
            const Bytes& d = photos_[i].data;
            EXPECT_EQ(files[name], Bytes(d.begin(), d.begin() + static_cast<long>(first_bad(bad, at, end) - at)));
        }
    }

    TempDir dir_;
    TypeTable table_;
    Bytes img_;
    std::vector<Sample> photos_;
    std::vector<uint64_t> offsets_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> failed_reads_{0};
    std::atomic<uint64_t> reached_{0};  // the furthest byte read
};

TEST_F(ReadErrorTest, FilesOutsideBadAreasComeOutWholeAndFilesTouchingThemAreCut) {
    const uint64_t jpg = offsets_[1], tif = offsets_[2], size = img_.size();
    struct Case {
        const char* what;
        std::vector<Range> bad;
        uint64_t max_failed_reads;
    };
    std::vector<Range> intermittent;
    for (uint64_t at = 1 << 20; at < size; at += 1 << 20)
        if (!overlaps({{offsets_[0], offsets_[0] + photos_[0].data.size()}}, at, at + 512)) intermittent.push_back({at, at + 512});
    const Case cases[] = {
        {"single sector", {{jpg + 8192, jpg + 8704}}, 16},
        {"region", {{jpg + 20480, jpg + 20480 + (2u << 20)}}, 80},
        {"failing tail", {{tif + 65536, size}}, 80},
        {"intermittent", intermittent, 16 * intermittent.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sh("rm -rf '" + dir_ / "out" + "'");
        failed_reads_ = 0;
        ScanResult r = run_scan(options(c.bad, [](uint64_t) { return true; }), stop_);
        ASSERT_EQ(r.status, ScanStatus::Complete) << r.message;
        uint64_t bytes = 0;
        for (const Range& b : c.bad) bytes += b.to - b.from;
        EXPECT_EQ(r.unreadable, bytes);
        EXPECT_LE(failed_reads_, c.max_failed_reads);
        expect_photos(dir_ / "out", c.bad);
    }
}

// Ranges that fail until the first pass has reached the device end: the
// retries read them, and the files starting or lying in them are carved
// whole, once.
TEST_F(ReadErrorTest, RangesReadOnRetryAreCarvedAfterAll) {
    const uint64_t jpg = offsets_[1], tif = offsets_[2];
    const std::vector<Range> bad = {{jpg - 4096, jpg + 65536}, {tif + 4096, tif + 300000}};
    ScanOptions o = options(bad, [this](uint64_t) { return reached_ < img_.size(); });
    o.read_at = [this, fails = o.read_at](int fd, void* buf, size_t n, uint64_t off) -> ssize_t {
        const ssize_t r = fails(fd, buf, n, off);
        if (r > 0 && off + static_cast<uint64_t>(r) > reached_) reached_ = off + static_cast<uint64_t>(r);
        return r;
    };
    ScanResult r = run_scan(o, stop_);
    ASSERT_EQ(r.status, ScanStatus::Complete) << r.message;
    EXPECT_EQ(r.unreadable, 0u);
    expect_photos(dir_ / "out", {});
    EXPECT_EQ(list_dir(dir_ / "out").size(), photos_.size());
}

// A failing disk's scan broken off past an unreadable area goes on from a
// checkpoint taken there, retries the areas met before the break, and ends
// with the files, report and unreadable count of a scan run through.
TEST_F(ReadErrorTest, AScanBrokenOffPastAnUnreadableAreaGoesOnFromThere) {
    const uint64_t jpg = offsets_[1], tif = offsets_[2];
    const uint64_t in_tif = (tif / 65536 + 1) * 65536;  // the reader's pieces: the hole starts here, inside the photo
    ASSERT_LT(in_tif + 8192, tif + photos_[2].data.size());
    struct Case {
        const char* what;
        std::vector<Range> bad;
        bool read_on_retry;  // else never read
    };
    const Case cases[] = {
        {"unreadable region", {{jpg + 20480, jpg + 20480 + (1u << 20)}}, false},
        {"read on retry, a photo put off", {{in_tif + 4096, in_tif + 8192}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string base = dir_ / (c.read_on_retry ? "retry" : "unreadable");
        uint64_t stop_at = UINT64_MAX;
        std::atomic<uint64_t> bytes{0};
        auto scan = [&](const std::string& out, bool resume) {
            ScanOptions o = options(c.bad, [&](uint64_t) { return !c.read_on_retry || reached_ < img_.size(); });
            o.out_dir = out;
            o.command = "all";
            o.resume = resume;
            o.checkpoint_every = 256 * 1024;
            o.read_at = [&, fails = o.read_at](int fd, void* buf, size_t n, uint64_t off) -> ssize_t {
                if (off >= stop_at) stop_ = true;  // the card is pulled
                const ssize_t r = fails(fd, buf, n, off);
                if (r > 0) bytes += static_cast<uint64_t>(r);
                if (r > 0 && off + static_cast<uint64_t>(r) > reached_) reached_ = off + static_cast<uint64_t>(r);
                return r;
            };
            return run_scan(o, stop_);
        };
        reached_ = 0;
        const ScanResult whole = scan(base + "/whole", false);
        ASSERT_EQ(whole.status, ScanStatus::Complete) << whole.message;

        reached_ = 0;
        stop_at = tif + (3u << 19);
        EXPECT_EQ(scan(base + "/out", false).status, ScanStatus::Stopped);
        Checkpoint taken;
        CheckpointFile file;
        std::string err;
        ASSERT_TRUE(file.open(base + "/out", err) && file.load(taken, err)) << err;
        EXPECT_GT(taken.position, c.bad[0].to);
        stop_ = false;
        stop_at = UINT64_MAX;
        bytes = 0;
        const ScanResult resumed = scan(base + "/out", true);
        ASSERT_EQ(resumed.status, ScanStatus::Complete) << resumed.message;
        EXPECT_LT(bytes.load(), img_.size() - taken.position / 2);
        EXPECT_EQ(resumed.unreadable, whole.unreadable);
        EXPECT_EQ(std::make_pair(resumed.files, resumed.partial_files), std::make_pair(whole.files, whole.partial_files));
        EXPECT_EQ(files_below(base + "/out"), files_below(base + "/whole"));
        const auto report = [&](const char* out) { return read_file(base + "/" + out + "/.snapmend/report.xml"); };
        EXPECT_EQ(report("out"), report("whole"));
    }
}

}  // namespace
