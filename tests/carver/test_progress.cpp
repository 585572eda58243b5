// The engine's progress report: the lines it writes, and the `photo` program
// reporting on a descriptor named in its environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

#include "core/progress.h"
#include "helpers.h"

using namespace carver;
using namespace carver_test;

namespace {

struct Line {
    uint64_t done = 0;
    uint64_t total = 0;
    uint64_t unreadable = 0;
};

std::string read_all(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    return text;
}

// The progress lines up to the totals line.
std::vector<Line> lines_of(const std::string& text) {
    std::vector<Line> lines;
    std::istringstream in(text);
    std::string row;
    while (std::getline(in, row)) {
        std::istringstream words(row);
        Line l;
        if (words >> l.done >> l.total >> l.unreadable) lines.push_back(l);
    }
    return lines;
}

std::vector<Line> drain(int fd) { return lines_of(read_all(fd)); }

struct Pipe {
    int r = -1, w = -1;
    Pipe() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_NONBLOCK), 0);
        r = fds[0];
        w = fds[1];
    }
    ~Pipe() {
        ::close(r);
        if (w >= 0) ::close(w);
    }
};

TEST(ProgressReport, OneLinePerThousandthOrMebibyteEndingAtTheSize) {
    TempDir dir;
    struct Case {
        uint64_t size;
        size_t lines;  // including the first at 0 and the last at the end
    } cases[] = {
        {10ull << 20, 11},        // 1 MiB steps: 0..10 MiB
        {4000ull << 20, 1001},    // thousandths of 4000 MiB
        {(3ull << 20) + 512, 5},  // 0, 1, 2, 3 MiB, then the end
    };
    for (const Case& c : cases) {
        std::string img = dir / "img";
        write_file(img, {});
        ASSERT_EQ(::truncate(img.c_str(), static_cast<off_t>(c.size)), 0);
        int dev = ::open(img.c_str(), O_RDONLY);
        Pipe p;
        {
            ProgressReport report;
            report.open_fd(p.w);
            for (uint64_t pos = 0; pos < c.size + 64 * 1024; pos += 64 * 1024) report.at(dev, pos);
        }
        ::close(dev);
        std::vector<Line> lines = drain(p.r);
        ASSERT_EQ(lines.size(), c.lines) << c.size;
        for (size_t i = 1; i < lines.size(); ++i) EXPECT_LT(lines[i - 1].done, lines[i].done);
        EXPECT_EQ(lines.front().done, 0u);
        EXPECT_EQ(lines.back().done, c.size);
        EXPECT_EQ(lines.back().total, c.size);
    }
}

TEST(ProgressReport, AFullPipeDropsLinesInsteadOfStallingTheScan) {
    TempDir dir;
    std::string img = dir / "img";
    write_file(img, Bytes(1, 0));
    ASSERT_EQ(::truncate(img.c_str(), 100ll << 30), 0);
    int dev = ::open(img.c_str(), O_RDONLY);
    Pipe p;
    ProgressReport report;
    report.open_fd(p.w);
    // 1000 lines of about 26 bytes do not fit a shrunk pipe; nothing reads it.
    ::fcntl(p.w, F_SETPIPE_SZ, 4096);
    for (uint64_t pos = 0; pos <= (100ull << 30); pos += 50ull << 20) report.at(dev, pos);
    ::close(dev);
    EXPECT_FALSE(drain(p.r).empty());
}

TEST(ProgressReport, TheVariableMustNameAWritableDescriptorAboveTheStandardOnes) {
    Pipe p;
    struct Case {
        std::string value;
        bool active;
    } cases[] = {
        {"", false},          {"abc", false}, {"2", false},     {"1", false},
        {std::to_string(p.w) + "x", false},   {"-5", false},    {"99999999999", false},
        {std::to_string(p.r), false},  // the read end
        {"900", false},                // not open
        {std::to_string(::dup(p.w)), true},
    };
    for (const Case& c : cases) {
        ProgressReport report;
        report.open_from_env(c.value.c_str());
        EXPECT_EQ(report.active(), c.active) << "'" << c.value << "'";
    }
}

// The real program on a disk image: the report rises to the image's size,
// and a variable naming a closed descriptor changes nothing about the scan.
TEST(ProgressEngine, ReportsOnTheNamedDescriptorUpToTheImageSize) {
    if (samples().empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    TempDir dir;
    Bytes image = random_bytes(4096, 3);
    append_aligned(image, sample("baseline.jpg").data);
    image.resize(24u << 20, 0);
    write_file(dir / "img", image);

    Pipe p;
    int flags = ::fcntl(p.w, F_GETFD);
    ::fcntl(p.w, F_SETFD, flags & ~FD_CLOEXEC);  // the engine inherits the write end
    ::setenv(kProgressFdVariable, std::to_string(p.w).c_str(), 1);
    RunResult r = run_photo({"/d", dir / "out", "/cmd", dir / "img", "fileopt,everything,enable,search"});
    ::close(p.w);
    p.w = -1;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing_in(dir / "out", {sample("baseline.jpg")}), "");
    const std::string text = read_all(p.r);
    const std::string totals = "totals 1 0 0\n";  // one whole file, none partial, nothing unreadable
    EXPECT_TRUE(text.size() > totals.size() && text.compare(text.size() - totals.size(), totals.size(), totals) == 0)
        << "the report does not end with " << totals << text;
    std::vector<Line> lines = lines_of(text);
    ASSERT_GE(lines.size(), 5u);  // one per 4 MiB block read
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_LT(lines[i - 1].done, lines[i].done);
    EXPECT_EQ(lines.back().done, image.size());
    EXPECT_EQ(lines.back().total, image.size());

    ::setenv(kProgressFdVariable, "77", 1);
    r = run_photo({"/d", dir / "out2", "/cmd", dir / "img", "fileopt,everything,enable,search"});
    ::unsetenv(kProgressFdVariable);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing_in(dir / "out2", {sample("baseline.jpg")}), "");
}

}  // namespace
