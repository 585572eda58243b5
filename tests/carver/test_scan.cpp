// In-process scans: block and window sizes, injected read errors, output visibility.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "core/format.h"
#include "core/output.h"
#include "core/scan.h"
#include "helpers.h"

using namespace carver;
using namespace carver_test;

namespace {

TypeTable full_table() {
    std::string text;
    for (const Format* f : all_formats()) text += std::string(f->key) + " " + std::string(f->key) + " 67108864\n";
    TypeTable t;
    std::string err;
    EXPECT_TRUE(t.parse(text, err)) << err;
    return t;
}

// Random lead-in, then every sample at a sector boundary separated by zeros.
Bytes image_of(const std::vector<Sample>& files, std::vector<size_t>* offsets = nullptr) {
    Bytes img = random_bytes(8192, 11);
    for (const Sample& s : files) {
        size_t at = append_aligned(img, s.data);
        if (offsets) offsets->push_back(at);
        img.resize(img.size() + 3000, 0);
    }
    return img;
}

class ScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (samples().empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
        table_ = full_table();
    }
    ScanOptions options(const std::string& image) {
        ScanOptions o;
        o.device = image;
        o.out_dir = dir_ / "out/sub";
        for (const Format* f : all_formats()) o.enabled.insert(std::string(f->key));
        o.table = &table_;
        return o;
    }
    TempDir dir_;
    TypeTable table_;
    std::atomic<bool> stop_{false};
};

TEST_F(ScanTest, RecoversEverySampleWhateverTheBlockAndWindowSizes) {
    std::vector<size_t> offsets;
    write_file(dir_ / "img", image_of(samples(), &offsets));
    struct Sizes { size_t block; uint64_t cap; } cases[] = {{4u << 20, 64u << 20}, {64u << 10, 64u << 10}, {4096, 8192}};
    for (auto c : cases) {
        SCOPED_TRACE(c.block);
        sh("rm -rf " + dir_ / "out");
        ScanOptions o = options(dir_ / "img");
        o.block_size = c.block;
        o.window_cap = c.cap;
        ScanResult r = run_scan(o, stop_);
        ASSERT_EQ(r.status, ScanStatus::Complete) << r.message;
        EXPECT_EQ(r.files, samples().size());
        EXPECT_EQ(missing_in(o.out_dir, samples()), "");
        std::vector<std::string> names = list_dir(o.out_dir);
        ASSERT_EQ(names.size(), samples().size());
        char expect[32];
        std::snprintf(expect, sizeof expect, "f%010zu.%s", offsets[0] / 512, samples()[0].ext.c_str());
        EXPECT_EQ(names[0], expect);
    }
}

TEST_F(ScanTest, OnlyEnabledKeysAreCarved) {
    write_file(dir_ / "img", image_of(samples()));
    ScanOptions o = options(dir_ / "img");
    o.enabled = {"png", "zip"};
    ASSERT_EQ(run_scan(o, stop_).status, ScanStatus::Complete);
    for (const std::string& n : list_dir(o.out_dir)) EXPECT_EQ(n.substr(n.size() - 4), ".png");
    EXPECT_EQ(list_dir(o.out_dir).size(), 2u);
}

TEST_F(ScanTest, UnreadableSectorsAreSkippedAndTheScanGoesOn) {
    std::vector<Sample> files = {sample("baseline.jpg"), sample("plain.png"), sample("be.tif")};
    Bytes img = random_bytes(4096, 2);
    append_aligned(img, files[0].data);
    img.resize((img.size() + 511) / 512 * 512 + 300 * 1024, 0);
    const uint64_t bad_from = img.size() - 200 * 1024, bad_sectors = 37;
    append_aligned(img, files[1].data);
    append_aligned(img, files[2].data);
    write_file(dir_ / "img", img);

    int failed_calls = 0;
    ScanOptions o = options(dir_ / "img");
    o.block_size = 256 * 1024;
    o.read_at = [&](int fd, void* buf, size_t n, uint64_t off) -> ssize_t {
        if (off < bad_from + bad_sectors * 512 && off + n > bad_from) {
            ++failed_calls;
            errno = EIO;
            return -1;
        }
        return default_read_at(fd, buf, n, off);
    };
    ScanResult r = run_scan(o, stop_);
    ASSERT_EQ(r.status, ScanStatus::Complete);
    EXPECT_EQ(r.bad_sectors, bad_sectors);
    EXPECT_LT(failed_calls, int(bad_sectors));  // not one failed read per sector
    EXPECT_EQ(missing_in(o.out_dir, files), "");
}

// A device that stops answering (unplugged: ENODEV and kin) ends the scan as
// a read failure, keeping what was found before, instead of retrying each
// remaining sector and reporting a clean scan.
TEST_F(ScanTest, DeviceThatStopsAnsweringEndsTheScanAsAReadFailure) {
    const Sample& photo = sample("baseline.jpg");
    Bytes img = random_bytes(4096, 5);
    append_aligned(img, photo.data);
    ASSERT_LT(img.size() + 256 * 1024, 1024u * 1024);
    const uint64_t dead_from = 1024 * 1024;  // past the blocks that hold the photo
    img.resize(dead_from + 24 * 1024 * 1024, 0);  // room for a long run of failing sectors
    write_file(dir_ / "img", img);
    struct Case {
        int err;
        uint64_t max_calls;  // failing reads before the scan gives up
    } cases[] = {
        {ENODEV, 8}, {ENOMEDIUM, 8}, {ENXIO, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::strerror(c.err));
        sh("rm -rf '" + dir_ / "out" + "'");
        uint64_t failed = 0;
        ScanOptions o = options(dir_ / "img");
        o.block_size = 256 * 1024;
        o.read_at = [&](int fd, void* buf, size_t n, uint64_t off) -> ssize_t {
            if (off + n > dead_from) {
                ++failed;
                errno = c.err;
                return -1;
            }
            return default_read_at(fd, buf, n, off);
        };
        ScanResult r = run_scan(o, stop_);
        EXPECT_EQ(r.status, ScanStatus::ReadFailed);
        EXPECT_NE(r.message.find("stopped answering"), std::string::npos) << r.message;
        EXPECT_LE(failed, c.max_calls);
        EXPECT_EQ(missing_in(o.out_dir, {photo}), "");
    }
}

TEST_F(ScanTest, StopBeforeTheEndReportsStoppedAndBadInputWritesNothing) {
    write_file(dir_ / "img", image_of(samples()));
    stop_ = true;
    ScanOptions o = options(dir_ / "img");
    EXPECT_EQ(run_scan(o, stop_).status, ScanStatus::Stopped);
    EXPECT_TRUE(list_dir(o.out_dir).empty());
    stop_ = false;

    ScanOptions bad = options(dir_ / "missing");
    bad.out_dir = dir_ / "never";
    ScanResult r = run_scan(bad, stop_);
    EXPECT_EQ(r.status, ScanStatus::BadInput);
    EXPECT_NE(r.message.find("missing"), std::string::npos);
    bad.device = dir_.path();  // a folder is no device
    EXPECT_EQ(run_scan(bad, stop_).status, ScanStatus::BadInput);
    EXPECT_EQ(list_dir(dir_.path()), (std::vector<std::string>{"img", "out"}));
}

// A source that runs a probe once the copy is half done.
class ProbeSource final : public Source {
public:
    ProbeSource(const Bytes& d, std::function<void()> probe) : data_(d), probe_(std::move(probe)) {}
    size_t read(uint64_t off, void* buf, size_t n) override {
        if (off >= data_.size() / 2 && probe_) {
            auto p = std::move(probe_);
            probe_ = nullptr;
            p();
        }
        BufferSource s(data_.data(), data_.size());
        return s.read(off, buf, n);
    }

private:
    const Bytes& data_;
    std::function<void()> probe_;
};

bool lock_free(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return ok;
}

TEST(Output, FileIsVisibleAndUnlockedOnlyWhenComplete) {
    Bytes data = random_bytes(3u << 20, 9);
    for (bool flock_mode : {false, true}) {
        SCOPED_TRACE(flock_mode ? "flock" : "O_TMPFILE");
        TempDir dir;
        OutputDir out;
        std::string err;
        ASSERT_TRUE(out.open(dir / "a/b", err)) << err;
        if (flock_mode) out.force_flock_mode();
        std::atomic<bool> stop{false};
        bool probed = false;
        ProbeSource src(data, [&] {
            probed = true;
            auto names = list_dir(dir / "a/b");
            if (flock_mode) {
                ASSERT_EQ(names.size(), 1u);
                EXPECT_FALSE(lock_free(dir / "a/b/" + names[0]));
            } else {
                EXPECT_TRUE(names.empty());
            }
        });
        WriteResult r = out.write(42, "jpg", src, data.size(), stop);
        ASSERT_EQ(r.status, WriteStatus::Ok) << r.error;
        EXPECT_TRUE(probed);
        EXPECT_EQ(r.name, "f0000000042.jpg");
        EXPECT_EQ(read_file(dir / "a/b/f0000000042.jpg"), data);
        EXPECT_TRUE(lock_free(dir / "a/b/f0000000042.jpg"));

        BufferSource again(data.data(), 1000);  // same start sector again: a new name
        EXPECT_EQ(out.write(42, "jpg", again, 1000, stop).name, "f0000000042_1.jpg");
    }
}

TEST(Output, StopMidFileLeavesNoFile) {
    Bytes data = random_bytes(5u << 20, 4);
    for (bool flock_mode : {false, true}) {
        TempDir dir;
        OutputDir out;
        std::string err;
        ASSERT_TRUE(out.open(dir.path(), err));
        if (flock_mode) out.force_flock_mode();
        std::atomic<bool> stop{false};
        ProbeSource src(data, [&] { stop = true; });
        EXPECT_EQ(out.write(7, "png", src, data.size(), stop).status, WriteStatus::Stopped);
        EXPECT_TRUE(list_dir(dir.path()).empty());
    }
}

// A resumed scan meets the names the run broken off wrote: a name holding
// exactly the file's bytes is that file; a name reported before the
// checkpoint, or holding other bytes, is another file's and passed over; a
// file the break cut short while written under its name is written again.
TEST(Output, AResumedScanTakesANameForItsFileOnlyWhenItHoldsTheSameBytes) {
    const Bytes a = random_bytes(70000, 1), b = random_bytes(90000, 2), c = random_bytes(50000, 3);
    for (bool flock_mode : {false, true}) {
        SCOPED_TRACE(flock_mode ? "flock" : "O_TMPFILE");
        TempDir dir;
        std::atomic<bool> stop{false};
        Naming naming{"DCIM", "X.jpg", -1};
        {  // the run broken off: a before its checkpoint, b after it, c cut short
            OutputDir out;
            std::string err;
            ASSERT_TRUE(out.open(dir.path(), err)) << err;
            for (const Bytes* d : {&a, &b}) {
                BufferSource src(d->data(), d->size());
                ASSERT_EQ(out.write(1, "jpg", src, d->size(), stop, &naming).status, WriteStatus::Ok);
            }
            write_file(dir / "DCIM/X (3).jpg", Bytes(c.begin(), c.begin() + 20000));
        }
        OutputDir out;
        std::string err;
        ASSERT_TRUE(out.open(dir.path(), err)) << err;
        if (flock_mode) out.force_flock_mode();
        out.keep_existing({"DCIM/X.jpg"});
        struct Step {
            const Bytes* data;
            const char* name;
        };
        const Step steps[] = {
            {&b, "DCIM/X (2).jpg"},                                     // written before the break: kept
            {&c, flock_mode ? "DCIM/X (3).jpg" : "DCIM/X (4).jpg"},     // cut short only where written in place
            {&a, flock_mode ? "DCIM/X (4).jpg" : "DCIM/X (5).jpg"},     // same bytes as a file reported before
        };
        for (const Step& st : steps) {
            BufferSource src(st.data->data(), st.data->size());
            WriteResult r = out.write(1, "jpg", src, st.data->size(), stop, &naming);
            ASSERT_EQ(r.status, WriteStatus::Ok) << r.error;
            EXPECT_EQ(r.name, st.name);
            EXPECT_EQ(read_file(dir / st.name), *st.data);
        }
        EXPECT_EQ(read_file(dir / "DCIM/X.jpg"), a);
        EXPECT_EQ(list_dir(dir / "DCIM").size(), flock_mode ? 4u : 5u);
    }
}

}  // namespace
