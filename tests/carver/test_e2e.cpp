// The `photo` program run as a separate process on real disk images.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "helpers.h"

using namespace carver_test;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

const std::string kAll = "fileopt,everything,enable,search";

bool exists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
}

bool one_line(const std::string& s) {
    return !s.empty() && s.back() == '\n' && s.find('\n') == s.size() - 1;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(exists(photo_path())) << photo_path();
        if (samples().empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    }
    TempDir dir_;
};

TEST_F(EngineTest, RecoversDeletedPhotosFromFat32ByteForByte) {
    if (!have_tool("mkfs.vfat") || !have_tool("mcopy")) GTEST_SKIP() << "dosfstools/mtools missing";
    const auto& photos = samples(true);
    std::string img = dir_ / "fat32.img";
    ASSERT_TRUE(make_fat32_with_deleted(img, dir_.path(), photos, {Sample{"notes.txt", "txt", Bytes(5000, 'x')}}));

    RunResult r = run_photo({"/d", dir_ / "ws/temp", "/cmd", img, kAll});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing_in(dir_ / "ws/temp", photos), "");
    std::vector<Bytes> originals;
    for (const Sample& s : photos) originals.push_back(s.data);
    EXPECT_EQ(junk_in(dir_ / "ws/temp", originals), "");

    r = run_photo({"/d", dir_ / "jpg only", "/cmd", img,
                   "fileopt,everything,disable,jpg,enable,search"});
    ASSERT_EQ(r.status, 0) << r.err;
    size_t jpgs = 0;
    for (const Sample& s : photos) jpgs += s.ext == "jpg";
    EXPECT_EQ(list_dir(dir_ / "jpg only").size(), jpgs);
}

TEST_F(EngineTest, RawImageWithQuotedOutputFolderAndNoJunkFromRandomData) {
    // Photos between random and zero areas, and false signatures on sector starts.
    Bytes img = random_bytes(1 << 20, 21);
    std::vector<Sample> placed;
    for (const Sample& s : samples()) {
        append_aligned(img, s.data);
        placed.push_back(s);
        Bytes noise = random_bytes(70000 + img.size() % 5000, static_cast<uint32_t>(img.size()));
        append_aligned(img, noise);
        img.resize(img.size() + 20000, 0);
    }
    const char* fakes[] = {"\xFF\xD8\xFF\xE0", "\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", "GIF89a", "BM",
                           "II*\0\x08\0\0\0", "MM\0*\0\0\0\x08"};
    for (int round = 0; round < 40; ++round) {
        for (const char* f : fakes) {
            Bytes noise = random_bytes(4096, static_cast<uint32_t>(round * 7 + img.size()));
            size_t at = append_aligned(img, noise);
            std::copy(f, f + std::char_traits<char>::length(f) + (f[0] == 'I' || f[0] == 'M' ? 4 : 0),
                      img.begin() + static_cast<long>(at));
        }
    }
    img.resize(img.size() + (3 << 20), 0);
    write_file(dir_ / "disk.raw", img);

    std::string out = dir_ / "work space/temp";
    RunResult r = run_photo({"/d", "\"" + out + "\"", "/cmd", dir_ / "disk.raw", kAll});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(missing_in(out, placed), "");
    std::vector<Bytes> originals;
    for (const Sample& s : placed) originals.push_back(s.data);
    EXPECT_EQ(junk_in(out, originals), "");
    EXPECT_EQ(list_dir(out).size(), placed.size());

    Bytes junk_only = random_bytes(8 << 20, 99);
    junk_only.resize(junk_only.size() + (2 << 20), 0);
    write_file(dir_ / "junk.raw", junk_only);
    r = run_photo({"/d", dir_ / "junk out", "/cmd", dir_ / "junk.raw", kAll});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(dir_ / "junk out"));
    EXPECT_TRUE(list_dir(dir_ / "junk out").empty());
}

TEST_F(EngineTest, BadCommandLinesAndDevicesExitTwoWritingNothing) {
    write_file(dir_ / "img", Bytes(4096, 0));
    std::string out = dir_ / "out";
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"/d", out, "/cmd", dir_ / "img"},
        {"/d", out, "/cmd", dir_ / "img", "fileopt,everything,disable,heic,enable,search"},
        {"/d", out, "/cmd", dir_ / "img", "fileopt,everything,enable"},
        {"/d", out, "/cmd", dir_ / "missing.img", kAll},
        {"/d", out, "/cmd", dir_.path(), kAll},
    };
    for (const auto& args : cases) {
        RunResult r = run_photo(args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        EXPECT_TRUE(one_line(r.err)) << r.err;
        EXPECT_FALSE(exists(out));
    }
    // Keys that have no parser yet are accepted.
    EXPECT_EQ(run_photo({"/d", out, "/cmd", dir_ / "img",
                         "fileopt,everything,disable,rar,enable,mp3,enable,search"}).status, 0);
}

TEST_F(EngineTest, RefusesToStartWithoutItsTypesTable) {
    std::string bin = dir_ / "bin";
    std::string stage = photo_path().substr(0, photo_path().rfind('/'));
    ASSERT_EQ(sh("mkdir " + bin + " && cp " + stage + "/photo " + stage + "/libcarver.so " + bin), 0);
    write_file(dir_ / "img", Bytes(4096, 0));
    RunResult r = run_photo({"/d", dir_ / "out", "/cmd", dir_ / "img", kAll}, bin + "/photo");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(one_line(r.err)) << r.err;
    EXPECT_FALSE(exists(dir_ / "out"));
    ASSERT_EQ(sh("cp -r " + stage + "/formats " + bin), 0);  // the same copy, completed, runs
    EXPECT_EQ(run_photo({"/d", dir_ / "out", "/cmd", dir_ / "img", kAll}, bin + "/photo").status, 0);
}

TEST_F(EngineTest, SigtermMidScanStopsQuicklyLeavingOnlyCompleteFiles) {
    // The device is a pipe, so the test decides how far the engine can read.
    std::string fifo = dir_ / "dev.fifo", out = dir_ / "out";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> args = {photo_path(), "/d", out, "/cmd", fifo, kAll};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    int fd = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);

    const Sample& first = sample("baseline.jpg");
    Bytes part = random_bytes(4096, 1);
    append_aligned(part, first.data);
    part.resize(8 << 20, 0);
    const Bytes& second = sample("progressive.jpg").data;
    part.insert(part.end(), second.begin(), second.begin() + static_cast<long>(second.size() / 2));
    ASSERT_EQ(::write(fd, part.data(), part.size()), static_cast<ssize_t>(part.size()));

    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (list_dir(out).empty() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(list_dir(out).size(), 1u);

    auto t0 = Clock::now();
    ::kill(pid, SIGTERM);
    int st = 0;
    while (::waitpid(pid, &st, WNOHANG) == 0 && Clock::now() - t0 < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    ::close(fd);
    // Typically well under 100 ms; the bound leaves room for loaded machines and sanitizer builds.
    EXPECT_LT(ms, 2000);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 128 + SIGTERM);
    EXPECT_EQ(missing_in(out, {first}), "");
    EXPECT_EQ(junk_in(out, {first.data}), "");
}

class RootEngineTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        if (IsSkipped()) return;
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a file system";
    }
    void TearDown() override {
        if (!loop_.empty()) sh("losetup -d " + loop_);
    }

    // The loop device now backing `img`, detached after the test; "" when none could be had.
    std::string attach(const std::string& img) {
        std::string listed = dir_ / "loopdev";
        if (!have_tool("losetup") || sh("(losetup -f --show " + img + " > " + listed + ")") != 0) return "";
        Bytes name = read_file(listed);
        loop_.assign(name.begin(), name.end());
        loop_.erase(loop_.find_last_not_of("\n") + 1);
        return loop_;
    }

private:
    std::string loop_;
};

TEST_F(RootEngineTest, FullOutputDiskStopsWithAMessageAndNoPartialFile) {
    std::string mnt = dir_ / "small";
    ::mkdir(mnt.c_str(), 0755);
    if (sh("mount -t tmpfs -o size=512k tmpfs " + mnt) != 0) GTEST_SKIP() << "cannot mount tmpfs";
    struct Unmount { std::string m; ~Unmount() { sh("umount " + m); } } unmount{mnt};

    std::vector<Sample> fits = {sample("small.jpg"), sample("baseline.jpg")};
    Bytes img = random_bytes(4096, 3);
    for (const Sample& s : fits) append_aligned(img, s.data);
    Bytes big = samples(true).back().data;  // over a megabyte
    ASSERT_GT(big.size(), 1u << 20);
    append_aligned(img, big);
    append_aligned(img, sample("plain.png").data);
    write_file(dir_ / "img", img);

    RunResult r = run_photo({"/d", mnt + "/out", "/cmd", dir_ / "img", kAll});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(one_line(r.err)) << r.err;
    EXPECT_NE(r.err.find("disk full"), std::string::npos) << r.err;
    EXPECT_EQ(missing_in(mnt + "/out", fits), "");
    EXPECT_EQ(list_dir(mnt + "/out").size(), fits.size());
}

TEST_F(RootEngineTest, RefusesAnOutputFolderOnTheScannedDevice) {
    if (!have_tool("mkfs.ext4")) GTEST_SKIP() << "e2fsprogs missing";
    std::string img = dir_ / "ext4.img", mnt = dir_ / "mnt";
    ::mkdir(mnt.c_str(), 0755);
    ASSERT_EQ(sh("truncate -s 16M " + img + " && mkfs.ext4 -q -F " + img), 0);
    std::string dev = attach(img);
    if (dev.empty()) GTEST_SKIP() << "no loop device";
    if (sh("mount " + dev + " " + mnt) != 0) GTEST_SKIP() << "cannot mount ext4";
    struct Unmount { std::string m; ~Unmount() { sh("umount " + m); } } unmount{mnt};

    RunResult r = run_photo({"/d", mnt + "/ws/temp", "/cmd", dev, kAll});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("device being scanned"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(mnt + "/ws"));
    // The same device with the output elsewhere is scanned.
    EXPECT_EQ(run_photo({"/d", dir_ / "out", "/cmd", dev, kAll}).status, 0);
}

// A FAT stick mounted for the logged-in user shows that user as the owner
// of every file: a folder there is taken; a folder of that user on a file
// system that keeps owners is not. One scan writes a folder at a time.
TEST_F(RootEngineTest, AFolderOnAStickMountedForTheUserIsTakenAndOneScanWritesIt) {
    if (!have_tool("mkfs.vfat")) GTEST_SKIP() << "dosfstools missing";
    std::string stick = dir_ / "stick.img", mnt = dir_ / "stick";
    ::mkdir(mnt.c_str(), 0755);
    ASSERT_EQ(sh("truncate -s 32M " + stick + " && mkfs.vfat -F 32 " + stick + " >/dev/null 2>&1"), 0);
    std::string dev = attach(stick);
    if (dev.empty()) GTEST_SKIP() << "no loop device";
    const std::string as_user = " -o uid=1000,gid=1000 " + dev + " " + mnt;
    if (sh("mount -t vfat" + as_user + " 2>/dev/null") != 0) {  // a kernel without vfat: exFAT through FUSE
        if (!have_tool("mkfs.exfat") || !have_tool("mount.exfat-fuse")) GTEST_SKIP() << "cannot mount vfat, no exfat-fuse";
        if (sh("mkfs.exfat " + dev + " >/dev/null && mount.exfat-fuse" + as_user) != 0) GTEST_SKIP() << "cannot mount exFAT";
    }
    struct Unmount { std::string m; ~Unmount() { sh("umount " + m); } } unmount{mnt};
    Bytes img = random_bytes(4096, 5);
    append_aligned(img, sample("baseline.jpg").data);
    write_file(dir_ / "img", img);
    ASSERT_EQ(sh("mkdir " + mnt + "/ws " + dir_ / "theirs" + " && chown 1000:1000 " + dir_ / "theirs"), 0);

    struct Case {
        std::string out;
        int status;
    };
    for (const Case& c : {Case{mnt + "/ws/out", 0}, Case{dir_ / "theirs", 2}}) {
        SCOPED_TRACE(c.out);
        RunResult r = run_photo({"/d", c.out, "/cmd", dir_ / "img", kAll});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(list_dir(c.out).size(), c.status == 0 ? 1u : 0u);
    }
    EXPECT_TRUE(exists(mnt + "/ws/out/.snapmend/report.xml"));

    const int held = ::open((mnt + "/ws/out").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    RunResult r = run_photo({"/d", mnt + "/ws/out", "/cmd", dir_ / "img", kAll});
    ::close(held);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("another scan"), std::string::npos) << r.err;
}

// Pages of the device cached before the medium changed underneath (a mounted
// file system writing through its own cache; here the backing file written
// through its path) must not be what the scan reads.
TEST_F(RootEngineTest, ReadsTheMediumNotPagesCachedBeforeItChanged) {
    const Sample& before = sample("plain.png");
    const Sample& after = sample("baseline.jpg");
    std::string img = dir_ / "card.img";
    Bytes data(4u << 20, 0);
    std::copy(before.data.begin(), before.data.end(), data.begin() + (1u << 20));
    write_file(img, data);
    std::string dev = attach(img);
    if (dev.empty()) GTEST_SKIP() << "no loop device";
    // Held open, as a mounted file system holds its device: the last close
    // would drop the device's pages.
    int held = ::open(dev.c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    struct Close { int fd; ~Close() { ::close(fd); } } close_held{held};
    ASSERT_EQ(sh("cat " + dev + " > /dev/null"), 0);  // the device's pages now hold the PNG

    std::fill(data.begin() + (1u << 20), data.begin() + (2u << 20), 0);
    std::copy(after.data.begin(), after.data.end(), data.begin() + (1u << 20));
    int fd = ::open(img.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, data.data() + (1u << 20), 1u << 20, 1u << 20), 1 << 20);
    ::fsync(fd);
    ::close(fd);

    RunResult r = run_photo({"/d", dir_ / "out", "/cmd", dev, kAll});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(list_dir(dir_ / "out"), std::vector<std::string>{"f0000002048.jpg"});
    EXPECT_EQ(missing_in(dir_ / "out", {after}), "");
}

}  // namespace
