// The `photo` program on a disk that fails on purpose (FUSE): exit status,
// the unreadable count on the progress descriptor, and what is carved.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

#include "core/imaging.h"
#include "core/progress.h"
#include "failing_disk.h"
#include "helpers.h"

using namespace carver_test;

namespace {

std::string read_all(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    return text;
}

TEST(FailingDiskEngine, ExitsWithThreeReportsTheUnreadableBytesAndCutsTheFileThatTouchesThem) {
    if (samples().empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    TempDir dir;
    const Sample &before = sample("plain.png"), &cut = sample("baseline.jpg"), &after = sample("be.tif");
    Bytes img = random_bytes(8192, 7);
    append_aligned(img, before.data);
    img.resize(img.size() + (1u << 20), 0);
    const uint64_t at = append_aligned(img, cut.data);
    const uint64_t bad_from = at + 16384, bad_to = bad_from + (3u << 20);
    img.resize(bad_to + (1u << 20), 0);
    append_aligned(img, after.data);
    img.resize(img.size() + (1u << 20), 0);
    write_file(dir / "img", img);

    FailingDisk disk;
    if (std::string why = disk.start(dir / "img", {{bad_from, bad_to}}, 30); !why.empty()) GTEST_SKIP() << why;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::setenv(carver::kProgressFdVariable, std::to_string(fds[1]).c_str(), 1);
    RunResult r = run_photo({"/d", dir / "out", "/cmd", disk.path(), "fileopt,everything,enable,search"});
    ::unsetenv(carver::kProgressFdVariable);
    ::close(fds[1]);
    std::istringstream lines(read_all(fds[0]));
    ::close(fds[0]);

    EXPECT_EQ(r.status, 3) << r.err;
    std::string line, last, totals;
    while (std::getline(lines, line)) (line.rfind("totals ", 0) == 0 ? totals : last) = line;
    EXPECT_EQ(totals.rfind("totals ", 0), 0u) << "the totals line ends the report";
    EXPECT_EQ(last, std::to_string(img.size()) + " " + std::to_string(img.size()) + " " +
                        std::to_string(bad_to - bad_from));
    EXPECT_EQ(missing_in(dir / "out", {before, after}), "");
    char name[64];
    std::snprintf(name, sizeof name, "/f%010llu.partial.jpg", static_cast<unsigned long long>(at / 512));
    EXPECT_EQ(read_file(dir / "out" + name), Bytes(cut.data.begin(), cut.data.begin() + 16384));
    EXPECT_EQ(list_dir(dir / "out").size(), 3u);
}

}  // namespace

namespace {

std::vector<carver::MapRange> map_of(const std::string& path) {
    Bytes b = read_file(path);
    std::vector<carver::MapRange> ranges;
    std::string err;
    EXPECT_TRUE(carver::parse_map(std::string(b.begin(), b.end()), ranges, err)) << err;
    return ranges;
}

// The ranges of a map not read, as [pos, end) pairs.
std::vector<std::pair<uint64_t, uint64_t>> unread_in(const std::vector<carver::MapRange>& map) {
    std::vector<std::pair<uint64_t, uint64_t>> out;
    for (const auto& r : map)
        if (r.status != '+') out.emplace_back(r.pos, r.pos + r.size);
    return out;
}

TEST(FailingDiskEngine, CopyFirstKeepsAMapThatDdrescueAndPhotoGoOnWith) {
    TempDir dir;
    const Bytes img = random_bytes(4u << 20, 9);
    write_file(dir / "img", img);
    const uint64_t bad_from = (1u << 20) + 4096, bad_to = bad_from + 65536;
    const std::string copy = dir / "copy.img", map = dir / "copy.map";
    {
        FailingDisk disk;
        if (std::string why = disk.start(dir / "img", {{bad_from, bad_to}}, 0); !why.empty()) GTEST_SKIP() << why;
        RunResult r = run_photo({"/image", disk.path(), copy, map});
        EXPECT_EQ(r.status, 3) << r.err;
        Bytes want = img;
        std::fill(want.begin() + bad_from, want.begin() + bad_to, 0);
        EXPECT_TRUE(read_file(copy) == want);
        using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;
        EXPECT_EQ(unread_in(map_of(map)), (Ranges{{bad_from, bad_to}}));
        if (have_tool("ddrescue")) {
            EXPECT_EQ(sh("ddrescue -r1 '" + disk.path() + "' '" + copy + "' '" + map + "'"), 0);
            EXPECT_EQ(unread_in(map_of(map)), (Ranges{{bad_from, bad_to}}));
        }
        // Never over an image without its map, nor through a link.
        EXPECT_EQ(run_photo({"/image", disk.path(), copy, dir / "other.map"}).status, 2);
        ASSERT_EQ(::symlink(copy.c_str(), (dir / "link.img").c_str()), 0);
        EXPECT_EQ(run_photo({"/image", disk.path(), dir / "link.img", dir / "link.map"}).status, 2);
    }
    FailingDisk healed;  // the same disk, answering now: the copy goes on from the map
    ASSERT_EQ(healed.start(dir / "img", {}, 0), "");
    RunResult r = run_photo({"/image", healed.path(), copy, map});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(read_file(copy) == img);
    EXPECT_TRUE(unread_in(map_of(map)).empty());
}

}  // namespace
