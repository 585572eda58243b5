// The engine over FAT, exFAT and NTFS volumes built by their own tools (mtools
// without mounting; exFAT and NTFS through their FUSE drivers on a loop device): deleted
// files written into the gaps of earlier deletions (2 to 4 pieces each,
// separated by live files or by files deleted later) must come back whole
// under their original names and folders, and nothing else may be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <set>
#include <memory>
#include <sstream>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "core/output.h"
#include "fs/map.h"
#include "fs/ntfs.h"
#include "fs/stitch.h"
#include "cards.h"
#include "helpers.h"
#include "media.h"

using namespace carver_test;
namespace stdfs = std::filesystem;

namespace {

struct Range {  // sectors of the image, inclusive
    uint64_t first, last;
};

// Where a file's clusters lie, found by content: every cluster of a planted
// file is unique random or compressed data, so its bytes name its sector.
class SectorIndex {
public:
    explicit SectorIndex(const Bytes& img) : img_(img) {
        for (size_t at = 0; at + 32 <= img.size(); at += 512) index_.emplace(key(&img[at]), at / 512);
    }
    std::vector<Range> runs(const Bytes& file, size_t cluster) const {
        std::vector<Range> out;
        for (size_t off = 0; off < file.size(); off += cluster) {
            if (file.size() - off < 32) break;
            size_t len = std::min(cluster, file.size() - off);
            auto [from, to] = index_.equal_range(key(&file[off]));
            auto it = std::find_if(from, to, [&](const auto& e) {
                return e.second * 512 + len <= img_.size() && std::memcmp(&img_[e.second * 512], &file[off], len) == 0;
            });
            if (it == to) return {};
            uint64_t s = it->second, n = (len + 511) / 512;
            if (!out.empty() && out.back().last + 1 == s) out.back().last = s + n - 1;
            else out.push_back({s, s + n - 1});
        }
        return out;
    }

private:
    static std::string key(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 32); }
    const Bytes& img_;
    std::unordered_multimap<std::string, uint64_t> index_;
};

// Writes and deletes files on a volume image, by the file system's own tools.
class Writer {
public:
    virtual ~Writer() = default;
    virtual bool mkdir(const std::string& path) = 0;
    virtual bool copy(const std::vector<std::string>& local, const std::string& folder) = 0;  // in order
    virtual bool remove(const std::vector<std::string>& paths) = 0;
    // Called between writing the gaps and the planted files.
    virtual bool rewind_allocation() { return true; }
    // Called before and after writing the gaps (`bytes` in all).
    virtual bool make_room(size_t /*bytes*/) { return true; }
    virtual bool fill_rest() { return true; }
    virtual bool finish() { return true; }
};

std::string quoted(const std::vector<std::string>& v, const std::string& prefix = "") {
    std::string s;
    for (const auto& x : v) s += " '" + prefix + x + "'";
    return s;
}

class MtoolsWriter final : public Writer {
public:
    explicit MtoolsWriter(std::string img) : img_(std::move(img)) {}
    bool mkdir(const std::string& p) override { return sh("mmd -i " + img_ + " '::/" + p + "'") == 0; }
    bool copy(const std::vector<std::string>& local, const std::string& folder) override {
        return sh("mcopy -i " + img_ + quoted(local) + " '::/" + (folder.empty() ? "" : folder + "/") + "'") == 0;
    }
    bool remove(const std::vector<std::string>& paths) override {
        return paths.empty() || sh("mdel -i " + img_ + quoted(paths, "::/")) == 0;
    }
    // FAT32 keeps a next-free hint; pointing it back at the start makes the
    // next files fill the gaps, as a camera's first-fit allocation would.
    bool rewind_allocation() override {
        Bytes v(512);
        std::fstream f(img_, std::ios::in | std::ios::out | std::ios::binary);
        f.read(reinterpret_cast<char*>(v.data()), 512);
        if (v[82] == 'F' && v[85] == '3') {
            f.seekp(static_cast<long>(size_t(v[48] | v[49] << 8) * 512 + 0x1EC));
            const char hint[4] = {2, 0, 0, 0};
            f.write(hint, 4);
        }
        return static_cast<bool>(f);
    }

private:
    std::string img_;
};

class FuseWriter final : public Writer {
public:
    // `fill`: an allocator that spreads files over the volume fills the gaps
    // only once nothing else is free.
    FuseWriter(const std::string& img, const TempDir& tmp, const std::string& mount, bool fill)
        : mnt_(tmp / "mnt"), fill_(fill) {
        sh("mkdir -p " + mnt_);
        std::string dev = tmp / "loop";
        if (sh("(losetup -f --show " + img + " > " + dev + ")") != 0) return;
        Bytes d = read_file(dev);
        loop_.assign(d.begin(), d.end());
        while (!loop_.empty() && loop_.back() == '\n') loop_.pop_back();
        mounted_ = !loop_.empty() && sh(mount + " " + loop_ + " " + mnt_) == 0;
    }
    ~FuseWriter() override { finish(); }
    bool ok() const { return mounted_; }
    bool mkdir(const std::string& p) override { return sh("mkdir -p '" + mnt_ + "/" + p + "'") == 0; }
    bool copy(const std::vector<std::string>& local, const std::string& folder) override {
        for (const auto& f : local)
            if (sh("cp '" + f + "' '" + mnt_ + "/" + folder + "/' && sync") != 0) return false;
        return true;
    }
    bool remove(const std::vector<std::string>& paths) override {
        return paths.empty() || sh("rm" + quoted(paths, mnt_ + "/") + " && sync") == 0;
    }
    // The volume full of ballast but for one region with room for the gaps: written there
    // in order, each gap lies between its neighbours. What they leave is filled again.
    bool make_room(size_t bytes) override {
        return !fill_ || (fill_up("ballast", bytes + bytes / 4 + 65536) && sh("rm '" + mnt_ + "/ballast0' && sync") == 0);
    }
    bool fill_rest() override {  // one file, cut short where the volume is full
        return !fill_ || sh("head -c 1G /dev/urandom > '" + mnt_ + "/rest' 2>/dev/null; sync") == 0;
    }
    bool finish() override {
        if (mounted_) mounted_ = sh("umount " + mnt_) != 0;
        // The driver lets go of the device a moment after the unmount returns.
        for (int i = 0; i < 50 && !loop_.empty() && !mounted_; ++i) {
            if (sh("losetup -d " + loop_) == 0) loop_.clear();
            else ::usleep(100000);
        }
        return !mounted_ && loop_.empty();
    }

private:
    bool fill_up(const std::string& kind, size_t bytes) {  // the last file, cut short, stays
        return sh("i=0; while head -c " + std::to_string(bytes) + " /dev/urandom > '" + mnt_ + "/" + kind +
                  "'$i 2>/dev/null; do i=$((i+1)); done; sync") == 0;
    }
    std::string mnt_, loop_;
    bool fill_;
    bool mounted_ = false;
};

struct Planted {
    Sample sample;
    std::string path;    // below the volume root
    std::vector<Range> runs;
    int pieces = 0;
    bool live_gaps_only = true;
    bool overwritten = false;  // its last piece: only a partial file can come back
    bool unfragmented = false;
};

struct FsCase {
    const char* label;
    const char* mkfs;      // formats the image file (%s)
    bool fuse;             // written through the FUSE driver, else with mtools
    size_t cluster;        // bytes
    unsigned mib;          // volume size
    size_t budget;         // bytes of planted files
    const char* formatter = "mkfs.exfat";
    const char* mount = "mount.exfat-fuse";
    bool lists_pieces = false;  // a deleted file's record lists its pieces: all come back, and
                                // unfragmented deleted files are planted too
};

const FsCase kFatCases[] = {
    {"FAT12", "mkfs.vfat -F 12 -s 2 -C %s 4000", false, 1024, 0, 1200 << 10},
    {"FAT16", "mkfs.vfat -F 16 -s 2 -C %s 32768", false, 1024, 0, 6 << 20},
    {"FAT32", "mkfs.vfat -F 32 -s 1 -C %s 65536", false, 512, 0, 12 << 20},
};
const FsCase kExfatCases[] = {
    {"exFAT", "truncate -s 64M %s && mkfs.exfat -c 1K %s", true, 1024, 64, 12 << 20},
};
const FsCase kNtfsCases[] = {
    {"NTFS", "truncate -s 64M %s && mkntfs -q -F -Q -c 1024 %s 2>/dev/null", true, 1024, 64, 12 << 20, "mkntfs",
     "ntfs-3g", true},
};

std::string format_cmd(const char* tmpl, const std::string& img) {
    std::string out, t = tmpl;
    for (size_t at = 0; at < t.size(); ++at) {
        if (t.compare(at, 2, "%s") == 0) {
            out += img;
            ++at;
        } else {
            out += t[at];
        }
    }
    return out;
}

// A WAV and an AVI of noise, so that every sector is unique (the
// index above finds pieces by content); the AVI's reserved JUNK filled too.
std::vector<Sample> noisy_recordings(const TempDir& tmp) {
    const std::string wav = tmp / "noise.wav", avi = tmp / "noise.avi";
    if (sh("ffmpeg -v error -y -f lavfi -i anoisesrc=r=22050:a=0.3 -t 2 -c:a pcm_s16le -f wav " + wav) != 0 ||
        sh("ffmpeg -v error -y -f lavfi -i testsrc=size=96x72:rate=15 -f lavfi -i anoisesrc=r=8000:a=0.3 -t 2 "
           "-vf noise=alls=60:allf=t -c:v mpeg4 -c:a pcm_u8 -f avi " + avi) != 0)
        return {};
    Bytes a = read_file(avi);
    for (size_t at = 12; at + 8 <= a.size();) {  // the top-level chunks and the header list's
        size_t size = carver::rd_le32(&a[at + 4]);
        bool list = std::memcmp(&a[at], "LIST", 4) == 0 && std::memcmp(&a[at + 8], "hdrl", 4) == 0;
        if (std::memcmp(&a[at], "JUNK", 4) == 0 && at + 8 + size <= a.size()) {
            Bytes junk = random_bytes(size, static_cast<uint32_t>(at));
            std::copy(junk.begin(), junk.end(), a.begin() + static_cast<long>(at + 8));
        }
        at += list ? 12 : 8 + size + (size & 1);
    }
    return {{"noise.wav", "wav", read_file(wav)}, {"noise.avi", "avi", a}};
}

// Builds the volume: gaps sized so that each planted file fills 2 to 4 of
// them, separated by live files and (every third file) by files deleted
// after the planted ones were written; then every planted file is deleted.
std::vector<Planted> build(const FsCase& fc, const std::string& img, const TempDir& tmp) {
    std::vector<Planted> plan;
    std::vector<Sample> pool = samples();
    pool.insert(pool.begin() + 1, {"exif.jpg", "jpg", jpeg_with_exif_thumbnail()});
    {  // a photo whose last piece is overwritten after its deletion
        std::string cut = tmp / "cut-source.jpg";
        if (sh("convert -size 400x300 plasma: -seed 9 -quality 90 " + cut) == 0)
            pool.insert(pool.begin() + 2, {"cut.jpg", "jpg", read_file(cut)});
    }
    for (const Sample& s : document_samples())
        if (s.ext == "pdf" || s.ext == "zip" || s.ext == "docx") pool.push_back(s);
    // Recordings where only their structure can put them together: a record
    // that lists its pieces needs none (and its driver lays files out its own way).
    if (!fc.lists_pieces) {
        for (const Sample& s : media_samples())
            if (s.name == "tagged.mp3" || s.name == "bare.mp3") pool.push_back(s);
        for (const Sample& s : noisy_recordings(tmp)) pool.push_back(s);
    }
    // Camera-like videos, the movie box after the media data: H.264 with AAC, and with PCM.
    const size_t videos = pool.size();
    for (const auto& [name, audio] : {std::pair{"camera.mp4", "-c:a aac -ac 2 -ar 48000 -f mp4"},
                                      std::pair{"camera.mov", "-c:a pcm_s16le -ac 1 -ar 16000 -f mov"}}) {
        std::string out = tmp / name;
        if (sh(std::string("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=30 -f lavfi -i sine=f=440 -t 2 "
                           "-c:v libx264 -preset ultrafast -g 30 ") + audio + " '" + out + "'") == 0)
            pool.push_back({name, std::string(name).substr(7), read_file(out)});
    }
    size_t used = 0;
    for (size_t i = 0; i < pool.size(); ++i) {
        const Sample& s = pool[i];
        // The videos come on top of the budget the other files' figures were taken with; not
        // where records list the pieces (nothing to stitch, and the driver's layout would change).
        if (i >= videos && fc.lists_pieces) continue;
        size_t budget = fc.budget + (i >= videos ? 512u << 10 : 0);
        if (s.data.size() < 3 * fc.cluster || used + s.data.size() > budget) continue;
        used += s.data.size();
        Planted p;
        p.sample = s;
        bool photo = s.ext == "jpg" || s.ext == "png" || s.ext == "gif" || s.ext == "bmp" || s.ext == "tif" ||
                     s.ext == "mp4" || s.ext == "mov";
        p.path = (photo ? "DCIM/100CAMERA/Holiday " : "Documents/Report ") + std::to_string(plan.size()) + " " +
                 s.name;
        plan.push_back(p);
    }
    if (sh(format_cmd(fc.mkfs, img)) != 0) return {};
    std::unique_ptr<Writer> w;
    if (fc.fuse) {
        auto fw = std::make_unique<FuseWriter>(img, tmp, fc.mount, fc.lists_pieces);
        if (!fw->ok()) return {};
        w = std::move(fw);
    } else {
        w = std::make_unique<MtoolsWriter>(img);
    }
    // Folders with room for every name, so that no folder grows into a gap;
    // the last seat stays taken, so that no driver shrinks the folder again.
    for (const char* d : {"DCIM", "DCIM/100CAMERA", "Documents"}) w->mkdir(d);
    std::vector<std::string> seats, seat_paths;
    for (int i = 0; i < 40; ++i) {
        std::string n = "placeholder with a long name " + std::to_string(i);
        write_file(tmp / n, {});
        seats.push_back(tmp / n);
        if (i == 39) break;
        seat_paths.push_back("DCIM/100CAMERA/" + n);
        seat_paths.push_back("Documents/" + n);
    }
    if (!w->copy(seats, "DCIM/100CAMERA") || !w->copy(seats, "Documents") || !w->remove(seat_paths)) return {};
    for (int i = 0; fc.lists_pieces && i < 2; ++i) {  // written on an empty volume: in one piece
        Planted p;
        p.sample = {"whole.jpg", "jpg", {}};
        std::string src = tmp / ("Whole " + std::to_string(i) + ".jpg");
        if (sh("convert -size 480x360 plasma: -seed " + std::to_string(40 + i) + " -quality 90 '" + src + "'") != 0 ||
            !w->copy({src}, "DCIM/100CAMERA"))
            return {};
        p.sample.data = read_file(src);
        p.path = "DCIM/100CAMERA/" + src.substr(src.rfind('/') + 1);
        p.unfragmented = true;
        plan.push_back(p);
    }
    if (fc.lists_pieces) {  // small enough to be kept inside its own record
        Planted p;
        std::string src = tmp / "Tiny.png";
        if (sh("convert -size 8x8 xc:blue '" + src + "'") != 0 || !w->copy({src}, "DCIM/100CAMERA")) return {};
        p.sample = {"tiny.png", "png", read_file(src)};
        p.path = "DCIM/100CAMERA/Tiny.png";
        p.unfragmented = true;
        plan.push_back(p);
    }

    std::vector<std::string> fill, gaps, later;
    std::vector<Bytes> later_data;
    int n = 0;
    size_t fill_bytes = 0;
    auto add = [&](std::vector<std::string>* list, size_t clusters) {
        std::string name = "F" + std::to_string(n++) + ".BIN";
        Bytes data = random_bytes(clusters * fc.cluster, static_cast<uint32_t>(n));
        write_file(tmp / name, data);
        fill_bytes += data.size();
        fill.push_back(tmp / name);
        if (list) list->push_back(name);
        if (list == &later) later_data.push_back(data);
    };
    for (size_t j = 0; j < plan.size(); ++j) {
        if (plan[j].unfragmented) continue;
        size_t total = (plan[j].sample.data.size() + fc.cluster - 1) / fc.cluster;
        size_t k = 2 + j % 3;
        const std::string& sn = plan[j].sample.name;
        bool later_gaps = j % 3 == 2 || sn == "exif.jpg" || sn == "alpha.png" || sn == "anim.gif" || sn == "old.gif" ||
                          sn == "camera.mp4" || sn == "camera.mov" || sn == "noise.wav" || sn == "noise.avi" ||
                          sn == "tagged.mp3";
        for (size_t p = 0; p < k; ++p) {
            // A driver that starts a file in the largest hole finds its first gap, the largest;
            // a cluster to spare in each gap leaves room for its own records on the full volume.
            bool rest = fc.lists_pieces ? p == 0 : p + 1 == k;
            add(&gaps, (rest ? total - (k - 1) * (total / k) : total / k) + fc.lists_pieces);
            add(later_gaps && p + 1 < k ? &later : nullptr, 1 + (j + p) % 3);
        }
    }
    if (!w->make_room(fill_bytes) || !w->copy(fill, "") || !w->fill_rest() || !w->remove(gaps) ||
        !w->rewind_allocation())
        return {};
    std::vector<Planted*> order;
    for (Planted& p : plan)
        if (!p.unfragmented) order.push_back(&p);
    if (fc.lists_pieces)  // the file whose first gap is the largest hole first
        std::stable_sort(order.begin(), order.end(), [&](const Planted* a, const Planted* b) {
            auto first_gap = [&](const Planted* p) {
                size_t total = (p->sample.data.size() + fc.cluster - 1) / fc.cluster, k = 2 + (p - plan.data()) % 3;
                return total - (k - 1) * (total / k);
            };
            return first_gap(a) > first_gap(b);
        });
    for (Planted* pp : order) {
        Planted& p = *pp;
        std::string folder = p.path.substr(0, p.path.rfind('/'));
        std::string src = tmp / p.path.substr(p.path.rfind('/') + 1);
        write_file(src, p.sample.data);
        if (!w->copy({src}, folder)) return {};
    }
    std::vector<std::string> planted_paths;
    for (const Planted& p : plan) planted_paths.push_back(p.path);
    if (!w->remove(planted_paths) || !w->remove(later) || !w->finish()) return {};

    Bytes image = read_file(img);
    SectorIndex index(image);
    std::vector<Range> deleted_later;
    for (const Bytes& d : later_data)
        for (Range r : index.runs(d, fc.cluster)) deleted_later.push_back(r);
    for (Planted& p : plan) {
        p.runs = index.runs(p.sample.data, fc.cluster);
        p.pieces = static_cast<int>(p.runs.size());
        for (size_t i = 1; i < p.runs.size(); ++i)
            for (Range d : deleted_later)
                if (d.first > p.runs[i - 1].last && d.last < p.runs[i].first) p.live_gaps_only = false;
        if (p.sample.name == "cut.jpg" && p.runs.size() > 1) {
            Range last = p.runs.back();
            Bytes junk = random_bytes((last.last - last.first + 1) * 512, 99);
            std::fstream f(img, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(static_cast<long>(last.first * 512));
            f.write(reinterpret_cast<const char*>(junk.data()), static_cast<std::streamsize>(junk.size()));
            p.overwritten = true;
        }
    }
    return plan;
}

class Volumes : public ::testing::TestWithParam<FsCase> {};

TEST_P(Volumes, FragmentedDeletedFilesComeBackWholeUnderTheirNames) {
    const FsCase& fc = GetParam();
    if (samples().empty()) GTEST_SKIP() << "needs ImageMagick";
    if (!fc.fuse && (!have_tool("mkfs.vfat") || !have_tool("mcopy"))) GTEST_SKIP() << "needs mkfs.vfat and mtools";
    if (fc.fuse && (!have_tool(fc.formatter) || !have_tool(fc.mount) || ::geteuid() != 0 ||
                    ::access("/dev/fuse", R_OK | W_OK) != 0))
        GTEST_SKIP() << "needs " << fc.formatter << ", " << fc.mount << ", /dev/fuse and root for a loop device";
    TempDir tmp;
    std::string img = tmp / "card.img";
    std::vector<Planted> plan = build(fc, img, tmp);
    ASSERT_FALSE(plan.empty()) << "building the volume failed";

    std::string out = tmp / "out";
    RunResult r = run_photo({"/d", out, "/cmd", img, "fileopt,everything,enable,search"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, Bytes> carved = files_below(out);

    struct Tally { int fragmented = 0, whole = 0, live_only = 0, live_whole = 0, named = 0; };
    std::map<std::string, Tally> by_ext;
    int meant = 0, in_pieces = 0;
    for (const Planted& p : plan) {
        if (!fc.lists_pieces) {
            EXPECT_GE(p.pieces, 2) << p.path << " was meant to lie in pieces";
        }
        if (!p.unfragmented) meant += 1, in_pieces += p.pieces >= 2;
        if (p.overwritten) {
            std::string partial = p.path.substr(0, p.path.size() - 4) + ".partial.jpg";
            EXPECT_TRUE(carved.count(partial)) << partial << " missing";
            continue;
        }
        Tally& t = by_ext[p.pieces < 2 ? "unfragmented" : p.sample.ext];
        ++t.fragmented;
        t.live_only += p.live_gaps_only;
        bool whole = false, named = false;
        for (const auto& [name, data] : carved)
            if (data == p.sample.data) {
                whole = true;
                named = named || name == p.path;
            }
        t.whole += whole;
        t.live_whole += whole && p.live_gaps_only;
        t.named += named;
        if (p.live_gaps_only || fc.lists_pieces) {
            EXPECT_TRUE(whole) << p.path << " (" << p.pieces << " pieces between live files) not recovered";
            EXPECT_TRUE(named) << p.path << " not recovered under its name";
        }
        if (p.sample.ext == "wav" && !p.live_gaps_only && !fc.lists_pieces) {
            // Samples prove nothing: the part before the other file, and not a byte more.
            std::string name = p.path.substr(0, p.path.size() - 4) + ".partial.wav";
            auto it = carved.find(name);
            bool prefix = it != carved.end() && it->second.size() < p.sample.data.size() &&
                          std::equal(it->second.begin(), it->second.end(), p.sample.data.begin());
            EXPECT_TRUE(prefix) << name << " is not the recording's start alone";
        }
        // Every image, frame or chunk proves its own place: deleted files between pieces are left out.
        if (p.sample.ext == "gif" || p.sample.ext == "mp3" || p.sample.ext == "avi") {
            EXPECT_TRUE(whole) << p.path << " (" << p.pieces << " pieces) not put back together";
        }
        if (p.sample.ext == "mp4" || p.sample.ext == "mov") {  // the files deleted between the pieces fill each gap
            EXPECT_TRUE(whole) << p.path << " (" << p.pieces << " pieces) not put back together";
        }
        if (whole) {
            EXPECT_TRUE(named) << p.path << " recovered, but not under its name";
        }
    }
    // A file that is no planted file may only start in the clusters of a
    // planted file whose pieces were separated by deleted files: pieces not
    // put back together (a format sized by its header alone cannot tell).
    std::map<std::string, uint64_t> start_of;  // original path -> first sector
    for (const Planted& p : plan) start_of[p.path] = p.runs.empty() ? 0 : p.runs[0].first;
    int unstitched = 0, partial = 0;
    for (const auto& [name, data] : carved) {
        if (std::any_of(plan.begin(), plan.end(), [&](const Planted& p) { return p.sample.data == data; }))
            continue;
        if (name.find(".partial.") != std::string::npos) {
            // A planted file's proven start, closed by its format's end at most.
            bool prefix = std::any_of(plan.begin(), plan.end(),
                                      [&](const Planted& p) { return own_head(data, p.sample.data); });
            EXPECT_TRUE(prefix) << name << " is no start of a planted file";
            ++partial;
            continue;
        }
        EXPECT_FALSE(start_of.count(name)) << name << ": other bytes under a planted file's name, as if whole";
        unsigned long long sector = 0;
        if (std::sscanf(name.c_str(), "f%llu.", &sector) != 1 && start_of.count(name)) sector = start_of[name];
        bool in_unstitched = sector > 0 &&
            std::any_of(plan.begin(), plan.end(), [&](const Planted& p) {
                return !p.live_gaps_only && std::any_of(p.runs.begin(), p.runs.end(), [&](Range run) {
                    return sector >= run.first && sector <= run.last;
                });
            });
        unstitched += in_unstitched;
        EXPECT_TRUE(in_unstitched) << name << " (" << data.size() << " bytes) is no planted file";
    }
    // Where the driver decides the layout, most files must still lie in pieces.
    EXPECT_GE(in_pieces * 4, meant * 3) << in_pieces << " of " << meant << " files lie in pieces";
    for (const auto& [ext, t] : by_ext)
        std::printf("[%s] %-4s fragmented %d, whole %d (between live files only: %d of %d), "
                    "under the original name %d\n",
                    fc.label, ext.c_str(), t.fragmented, t.whole, t.live_whole, t.live_only, t.named);
    std::printf("[%s] %d files written from pieces not put back together, %d partial\n", fc.label,
                unstitched, partial);
}

INSTANTIATE_TEST_SUITE_P(Fat, Volumes, ::testing::ValuesIn(kFatCases),
                         [](const auto& p) { return std::string(p.param.label); });
INSTANTIATE_TEST_SUITE_P(Exfat, Volumes, ::testing::ValuesIn(kExfatCases),
                         [](const auto& p) { return std::string(p.param.label); });
INSTANTIATE_TEST_SUITE_P(Ntfs, Volumes, ::testing::ValuesIn(kNtfsCases),
                         [](const auto& p) { return std::string(p.param.label); });

// ext4 written by the kernel on a loop device: filled with files, every
// other one deleted, then photos written into the holes and deleted. A photo
// whose pieces lie in order with only live files between them comes back
// whole through the stream of free blocks (under its carved name: ext4 keeps
// no name of a deleted file that could be tied to its data).
struct ExtCase {
    const char* label;
    unsigned block;  // bytes
    unsigned mib;
    size_t hole;     // bytes of each fill file
};
const ExtCase kExtCases[] = {
    {"ext4_1K", 1024, 24, 64 << 10},
    {"ext4_4K", 4096, 48, 32 << 10},
};

class ExtVolumes : public ::testing::TestWithParam<ExtCase> {};

bool write_until_full(const std::string& path, const Bytes& data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    ok = ::fsync(fd) == 0 && ok;
    ::close(fd);
    if (!ok) ::unlink(path.c_str());
    return ok;
}

// Blocks in use, as the file system's own tool reads the bitmaps; empty when it fails.
std::vector<bool> blocks_in_use(const std::string& img, uint64_t blocks, const TempDir& tmp) {
    std::vector<bool> in_use(blocks, true);
    if (sh("(dumpe2fs " + img + " > " + (tmp / "groups.txt") + ")") != 0) return {};
    std::ifstream groups(tmp / "groups.txt");
    for (std::string line; std::getline(groups, line);) {
        if (line.rfind("  Free blocks: ", 0) != 0) continue;
        std::istringstream list(line.substr(15));
        for (std::string item; std::getline(list, item, ',');) {
            unsigned long long a = 0, b = 0;
            int got = std::sscanf(item.c_str(), "%llu-%llu", &a, &b);
            if (got == 1) b = a;
            for (uint64_t x = a; got >= 1 && x <= b && x < in_use.size(); ++x) in_use[x] = false;
        }
    }
    return in_use;
}

TEST_P(ExtVolumes, FragmentedDeletedPhotosComeBackWhole) {
    const ExtCase& ec = GetParam();
    if (samples().empty()) GTEST_SKIP() << "needs ImageMagick";
    if (!have_tool("mkfs.ext4") || ::geteuid() != 0) GTEST_SKIP() << "needs e2fsprogs and root for a loop device";
    // Where the pieces go is the kernel allocator's choice, and it varies: a
    // volume on which no photo lies in pieces between live files alone is
    // made again, a few times at most.
    for (int attempt = 1;; ++attempt) {
        TempDir tmp;
        std::string img = tmp / "disk.img", mnt = tmp / "mnt", loopf = tmp / "loop";
        ASSERT_EQ(sh("truncate -s " + std::to_string(ec.mib) + "M " + img + " && mkfs.ext4 -q -F -m 0 -E nodiscard -b " +
                     std::to_string(ec.block) + " " + img + " && mkdir " + mnt),
                  0);
        if (sh("(losetup -f --show " + img + " > " + loopf + ")") != 0) GTEST_SKIP() << "no loop device";
        Bytes name = read_file(loopf);
        std::string loop(name.begin(), name.end());
        while (!loop.empty() && loop.back() == '\n') loop.pop_back();
        struct Detach {
            std::string dev, mnt;
            ~Detach() {
                sh("umount " + mnt + " 2>/dev/null");
                sh("losetup -d " + dev);
            }
        } detach{loop, mnt};
        ASSERT_EQ(sh("mount -t ext4 " + loop + " " + mnt + " && mkdir " + mnt + "/DCIM"), 0);

        int n = 0;
        while (write_until_full(mnt + "/fill" + std::to_string(n), random_bytes(ec.hole, 1000 + n))) {
            ++n;
        }
        for (int i = 1; i < n; i += 2) ::unlink((mnt + "/fill" + std::to_string(i)).c_str());
        ASSERT_EQ(sh("sync"), 0);
        std::vector<Sample> planted;
        for (const Sample& s : samples())
            if (s.data.size() > 2 * ec.hole && write_until_full(mnt + "/DCIM/" + s.name, s.data)) planted.push_back(s);
        // What the photos left free is taken by live files, so that their pieces
        // are separated by live data only where the allocator kept them in order.
        while (write_until_full(mnt + "/ballast" + std::to_string(n), random_bytes(ec.hole, 1000 + n))) ++n;
        for (const Sample& s : planted) ::unlink((mnt + "/DCIM/" + s.name).c_str());
        ASSERT_EQ(sh("sync && umount " + mnt), 0);
        ASSERT_FALSE(planted.empty());

        Bytes image = read_file(img);
        SectorIndex index(image);
        std::vector<bool> in_use = blocks_in_use(img, image.size() / ec.block, tmp);
        ASSERT_FALSE(in_use.empty());
        // Per planted photo: its pieces, and whether live files alone separate them.
        std::vector<std::pair<size_t, bool>> layout;
        for (const Sample& s : planted) {
            std::vector<Range> runs = index.runs(s.data, ec.block);
            bool between_live = runs.size() >= 2;
            for (size_t i = 1; i < runs.size(); ++i) {
                between_live = between_live && runs[i].first > runs[i - 1].last;
                for (uint64_t x = runs[i - 1].last + 1; between_live && x < runs[i].first; ++x)
                    between_live = in_use[x * 512 / ec.block];
            }
            layout.emplace_back(runs.size(), between_live);
        }
        if (attempt < 4 && std::none_of(layout.begin(), layout.end(), [](const auto& l) { return l.second; })) continue;

        std::string out = tmp / "out";
        RunResult r = run_photo({"/d", out, "/cmd", img, "fileopt,everything,enable,search"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::map<std::string, Bytes> carved = files_below(out);

        int fragmented = 0, live_only = 0, whole = 0, live_whole = 0;
        for (size_t k = 0; k < planted.size(); ++k) {
            const Sample& s = planted[k];
            const auto [pieces, between_live] = layout[k];
            if (pieces < 2) continue;
            ++fragmented;
            bool got = std::any_of(carved.begin(), carved.end(), [&](const auto& c) { return c.second == s.data; });
            live_only += between_live;
            whole += got;
            live_whole += got && between_live;
            if (between_live) {
                EXPECT_TRUE(got) << s.name << " (" << pieces << " pieces between live files) not recovered";
            }
        }
        EXPECT_GT(live_only, 0) << "no photo lies in pieces between live files: the volume did not fragment";
        std::printf("[%s] planted %zu, fragmented %d, whole %d (between live files only: %d of %d), carved files %zu, "
                    "volumes made %d\n",
                    ec.label, planted.size(), fragmented, whole, live_whole, live_only, carved.size(), attempt);
        return;
    }
}

// Freshly made volumes, sparse and never mounted: most groups' bitmaps were
// never written (flex_bg keeps their metadata in the first group of 16), with
// 32- and 64-bit group descriptors. The map must agree with the tool's reading.
TEST(ExtMap, AgreesWithTheBitmapsAsDumpe2fsReadsThem) {
    if (!have_tool("mkfs.ext4") || !have_tool("dumpe2fs")) GTEST_SKIP() << "needs e2fsprogs";
    const char* const kOptions[] = {"-b 4096 -O 64bit", "-b 4096 -O ^64bit", "-b 1024 -O 64bit",
                                    "-t ext2 -b 2048", "-b 4096 -O ^metadata_csum,uninit_bg"};
    for (const char* opt : kOptions) {
        TempDir tmp;
        std::string img = tmp / "big.img";
        ASSERT_EQ(sh("truncate -s 3G " + img + " && mkfs.ext4 -q -F -E nodiscard,lazy_itable_init=1 " + opt + " " + img), 0)
            << opt;
        // The bitmap blocks of groups marked never written hold whatever was
        // there before: all ones here, which a reader must not believe.
        ASSERT_EQ(sh("(dumpe2fs " + img + " > " + (tmp / "groups.txt") + ")"), 0);
        std::ifstream groups(tmp / "groups.txt");
        int fd = ::open(img.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        bool uninit = false;
        uint64_t block_size = 0, scribbled = 0;
        for (std::string line; std::getline(groups, line);) {
            unsigned long long at = 0;
            if (std::sscanf(line.c_str(), "Block size: %llu", &at) == 1) block_size = at;
            if (line.rfind("Group ", 0) == 0) uninit = line.find("BLOCK_UNINIT") != std::string::npos;
            if (uninit && std::sscanf(line.c_str(), "  Block bitmap at %llu", &at) == 1) {
                Bytes ones(block_size, 0xFF);
                ASSERT_EQ(::pwrite(fd, ones.data(), ones.size(), static_cast<off_t>(at * block_size)),
                          static_cast<ssize_t>(ones.size()));
                ++scribbled;
            }
        }
        carver::fs::Map map;
        map.probe([&](uint64_t off, void* buf, size_t n) -> size_t {
            ssize_t got = ::pread(fd, buf, n, static_cast<off_t>(off));
            return got < 0 ? 0 : static_cast<size_t>(got);
        }, uint64_t(3) << 30);
        ::close(fd);
        ASSERT_EQ(map.volumes().size(), 1u) << opt;
        if (std::string(opt).find("ext2") == std::string::npos) {
            EXPECT_GT(scribbled, 0u) << opt;
        }
        const carver::fs::Volume& v = map.volumes()[0];
        std::vector<bool> want = blocks_in_use(img, v.clusters, tmp);
        ASSERT_EQ(want.size(), v.clusters) << opt;
        uint64_t differ = 0, used = 0;
        for (uint64_t b = 0; b < v.clusters; ++b) {
            differ += v.is_used(b) != want[b];
            used += want[b];
        }
        EXPECT_EQ(differ, 0u) << opt << ": blocks whose state differs";
        EXPECT_LT(used, v.clusters / 4) << opt << ": the volume should be mostly free";
    }
}

// MFT record surgery for the cases below: a record's true bytes (update
// sequence applied), and written back protected again.
// The map of a disk image held in memory.
void probe_image(carver::fs::Map& map, const Bytes& disk) {
    map.probe([&](uint64_t off, void* buf, size_t n) -> size_t {
        if (off >= disk.size() || n > disk.size() - off) return 0;
        std::memcpy(buf, &disk[off], n);
        return n;
    }, disk.size());
}

Bytes true_record(const Bytes& img, size_t at) {
    Bytes r(img.begin() + static_cast<long>(at), img.begin() + static_cast<long>(at + 1024));
    EXPECT_TRUE(carver::fs::apply_fixups(r.data(), r.size()));
    return r;
}

uint64_t get64(const uint8_t* p) { return carver::rd_le32(p) | uint64_t(carver::rd_le32(p + 4)) << 32; }

void put(Bytes& b, size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void protect(Bytes& img, size_t at, Bytes r) {
    size_t off = carver::rd_le16(&r[4]), count = carver::rd_le16(&r[6]);
    for (size_t i = 1; i < count; ++i) {
        std::memcpy(&r[off + 2 * i], &r[i * 512 - 2], 2);
        std::memcpy(&r[i * 512 - 2], &r[off], 2);
    }
    std::copy(r.begin(), r.end(), img.begin() + static_cast<long>(at));
}

// Replaces the attribute of `type` by `with` (several attributes), the rest kept.
void replace_attr(Bytes& r, uint32_t type, const Bytes& with) {
    size_t used = carver::rd_le32(&r[0x18]);
    for (size_t at = carver::rd_le16(&r[0x14]); at + 8 < used;) {
        uint32_t len = carver::rd_le32(&r[at + 4]);
        if (carver::rd_le32(&r[at]) == type) {
            Bytes out(r.begin(), r.begin() + static_cast<long>(at));
            out.insert(out.end(), with.begin(), with.end());
            out.insert(out.end(), r.begin() + static_cast<long>(at + len), r.begin() + static_cast<long>(used));
            ASSERT_LE(out.size(), 1024u);
            std::copy(out.begin(), out.end(), r.begin());
            put(r, 0x18, out.size(), 4);
            return;
        }
        at += len;
    }
    ADD_FAILURE() << "no attribute " << type;
}

// One extent of unnamed data; the sizes are given in the first (VCN 0).
Bytes data_extent(uint64_t vcn, const std::vector<carver::fs::Run>& runs, uint64_t size, size_t cluster) {
    Bytes a(0x40);
    uint64_t prev = 0, clusters = 0;
    for (const carver::fs::Run& r : runs) {
        size_t at = a.size();
        a.resize(at + 9);
        a[at] = 0x44;
        put(a, at + 1, r.length, 4);
        put(a, at + 5, r.lcn - prev, 4);
        prev = r.lcn;
        clusters += r.length;
    }
    a.resize((a.size() + 1 + 7) / 8 * 8);
    put(a, 0, 0x80, 4);
    put(a, 4, a.size(), 4);
    a[8] = 1;
    a[0x0A] = 0x40;
    put(a, 0x10, vcn, 8);
    put(a, 0x18, vcn + clusters - 1, 8);
    put(a, 0x20, 0x40, 2);
    if (vcn == 0) put(a, 0x28, clusters * cluster, 8), put(a, 0x30, size, 8), put(a, 0x38, size, 8);
    return a;
}

struct ListEntry {
    uint32_t type;
    uint64_t vcn, ref;  // record number | sequence number << 48
};

Bytes attribute_list(const std::vector<ListEntry>& entries) {
    Bytes a(0x18 + 0x20 * entries.size());
    put(a, 0, 0x20, 4);
    put(a, 4, a.size(), 4);
    put(a, 0x10, 0x20 * entries.size(), 4);
    put(a, 0x14, 0x18, 2);
    for (size_t i = 0; i < entries.size(); ++i) {
        size_t e = 0x18 + 0x20 * i;
        put(a, e, entries[i].type, 4);
        put(a, e + 4, 0x20, 2);
        a[e + 7] = 0x1A;
        put(a, e + 8, entries[i].vcn, 8);
        put(a, e + 0x10, entries[i].ref, 8);
    }
    return a;
}

// A record of `base`'s (or 0 for none) holding `attrs`, made from any
// record's true bytes.
Bytes extension_record(Bytes r, uint64_t base_ref, uint16_t seq, bool in_use, const Bytes& attrs) {
    size_t at = carver::rd_le16(&r[0x14]);
    std::copy(attrs.begin(), attrs.end(), r.begin() + static_cast<long>(at));
    put(r, at + attrs.size(), 0xFFFFFFFF, 4);
    put(r, at + attrs.size() + 4, 0, 4);
    put(r, 0x18, at + attrs.size() + 8, 4);
    put(r, 0x10, seq, 2);
    put(r, 0x16, in_use ? 1 : 0, 2);
    put(r, 0x20, base_ref, 8);
    return r;
}

// NTFS records damaged where a reader must check them: each change is either
// refused (the record, or the whole volume) or bounded (a folder chain that
// loops), and never read past what the disk holds.
TEST(NtfsMap, DamagedRecordsAreRefusedOrBounded) {
    if (!have_tool("mkntfs") || !have_tool("ntfs-3g") || ::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "needs mkntfs, ntfs-3g, /dev/fuse and root";
    TempDir tmp;
    std::string img = tmp / "v.img", mnt = tmp / "mnt";
    ASSERT_EQ(sh("truncate -s 4M " + img + " && mkntfs -q -F -Q -c 512 " + img + " && mkdir " + mnt + " && ntfs-3g " +
                 img + " " + mnt),
              0);
    // a.jpg grows after a sync, into a second piece; Sub is deleted with what it holds.
    int built = sh("cd " + mnt + " && mkdir -p DCIM/Sub && head -c 3000 /dev/urandom > DCIM/a.jpg && "
                   "head -c 900 /dev/urandom > DCIM/Sub/b.png && head -c 9000 /dev/urandom > live && sync && "
                   "head -c 2000 /dev/urandom >> DCIM/a.jpg && rm -r DCIM/a.jpg DCIM/Sub");
    sh("umount " + mnt);
    ASSERT_EQ(built, 0);
    const Bytes intact = read_file(img);
    uint64_t mft = (intact[0x30] | intact[0x31] << 8) * 512ull;
    auto attr = [&](const Bytes& b, size_t rec, uint32_t type) {  // offset of an attribute
        for (size_t at = rec + (b[rec + 0x14] | b[rec + 0x15] << 8); at + 8 < rec + 1024;) {
            uint32_t t = carver::rd_le32(&b[at]), len = carver::rd_le32(&b[at + 4]);
            if (t == type) return at;
            if (t == 0xFFFFFFFF || len == 0) break;
            at += len;
        }
        return size_t(0);
    };
    auto record_of = [&](const std::u16string& name) {  // the record whose file name it is
        std::string utf16(reinterpret_cast<const char*>(name.data()), name.size() * 2);
        for (size_t rec = mft; rec < mft + 128 * 1024; rec += 1024) {
            size_t fn = attr(intact, rec, 0x30);
            if (fn && std::memcmp(&intact[fn + 0x18 + 0x42], utf16.data(), utf16.size()) == 0) return rec;
        }
        return size_t(0);
    };
    size_t a = record_of(u"a.jpg"), sub = record_of(u"Sub"), dcim = record_of(u"DCIM");
    ASSERT_TRUE(a && sub && dcim);
    auto set64 = [](Bytes& b, size_t at, uint64_t v) {
        for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    // Data moved into extension records: a.jpg's two runs into two deleted
    // ones (its name with the first), listed out of order among entries a
    // reader must pass over; $MFT's
    // own data continued from VCN 34 in record 16, past which a.jpg lies.
    const uint64_t a_no = (a - mft) / 1024, mirror = (intact[0x38] | intact[0x39] << 8 | intact[0x3A] << 16) * 512ull;
    auto runs_of = [&](const Bytes& r) {
        size_t d = attr(r, 0, 0x80), off = carver::rd_le16(&r[d + 0x20]);
        std::vector<carver::fs::Run> runs;
        EXPECT_TRUE(carver::fs::decode_runs(&r[d + off], carver::rd_le32(&r[d + 4]) - off, 1u << 30, runs));
        return runs;
    };
    auto move_a = [&](Bytes& b, uint16_t second_seq) {
        Bytes r = true_record(b, a);
        auto runs = runs_of(r);
        ASSERT_EQ(runs.size(), 2u);
        const uint64_t size = get64(&r[attr(r, 0, 0x80) + 0x30]), seq = 7ull << 48;
        protect(b, mft + 17 * 1024, extension_record(r, a_no | seq, second_seq, false, data_extent(runs[0].length, {runs[1]}, 0, 512)));
        size_t fn = attr(r, 0, 0x30);
        Bytes name(r.begin() + static_cast<long>(fn), r.begin() + static_cast<long>(fn + carver::rd_le32(&r[fn + 4])));
        Bytes first = data_extent(0, {runs[0]}, size, 512);
        name.insert(name.end(), first.begin(), first.end());
        protect(b, mft + 18 * 1024, extension_record(r, a_no | seq, 8, false, name));
        replace_attr(r, 0x30, {});
        replace_attr(r, 0x80, attribute_list({{0x10, 0, a_no | seq}, {0x30, 0, 18 | seq}, {0x80, runs[0].length, 17 | seq},
                                              {0x80, 0, a_no}, {0x80, 0, 1ull << 40}, {0x80, 0, 18 | seq}}));
        protect(b, a, r);
    };
    auto split_mft = [&](Bytes& b) {
        Bytes r = true_record(b, mft), tmpl = r;
        std::vector<carver::fs::Run> head, tail;
        uint64_t vcn = 0, cut = 34, size = get64(&r[attr(r, 0, 0x80) + 0x30]);
        for (carver::fs::Run x : runs_of(r)) {
            uint64_t in_head = vcn >= cut ? 0 : std::min(x.length, cut - vcn);
            if (in_head) head.push_back({x.lcn, in_head});
            if (in_head < x.length) tail.push_back({x.lcn + in_head, x.length - in_head});
            vcn += x.length;
        }
        Bytes with = attribute_list({{0x80, 0, 1ull << 48}, {0x80, cut, 16 | 16ull << 48}}), first = data_extent(0, head, size, 512);
        with.insert(with.end(), first.begin(), first.end());
        replace_attr(r, 0x80, with);
        protect(b, mft, r);
        protect(b, mft + 16 * 1024, extension_record(tmpl, 1ull << 48, 16, true, data_extent(cut, tail, 0, 512)));
    };
    const std::vector<std::string> both = {"DCIM/Sub/b.png", "DCIM/a.jpg"};
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        bool volume;
        std::vector<std::string> files;  // folder/name of each deleted entry
        size_t a_pieces = 2;
    };
    const Case cases[] = {
        {"intact", [](Bytes&) {}, true, {"DCIM/Sub/b.png", "DCIM/a.jpg"}},
        {"record size 2^-31", [](Bytes& b) { b[0x40] = 0xE1; }, false, {}},
        {"MFT beyond the volume", [&](Bytes& b) { set64(b, 0x30, 1ull << 40); }, false, {}},
        {"$Bitmap's update sequence", [&](Bytes& b) { b[mft + 6 * 1024 + 510] ^= 1; }, false, {}},
        {"a.jpg's update sequence", [&](Bytes& b) { b[a + 1022] ^= 1; }, true, {"DCIM/Sub/b.png"}},
        {"a.jpg's runs past the volume", [&](Bytes& b) {
             size_t d = attr(b, a, 0x80);
             size_t runs = d + (b[d + 0x20] | b[d + 0x21] << 8);
             b[runs] = 0x41;  // one length byte, four offset bytes
             set64(b, runs + 1, 0x7FFFFFF001ull);
             b[runs + 6] = 0;
         }, true, {"DCIM/Sub/b.png"}},
        {"an attribute of length 0", [&](Bytes& b) { b[attr(b, a, 0x30) + 4] = 0; b[attr(b, a, 0x30) + 5] = 0; },
         true, {"DCIM/Sub/b.png"}},
        {"folders that hold each other", [&](Bytes& b) {
             auto ref = [&](size_t rec) { return (rec - mft) / 1024 | uint64_t(carver::rd_le16(&b[rec + 0x10])) << 48; };
             set64(b, attr(b, dcim, 0x30) + carver::rd_le16(&b[attr(b, dcim, 0x30) + 0x14]), ref(sub));
             set64(b, attr(b, sub, 0x30) + carver::rd_le16(&b[attr(b, sub, 0x30) + 0x14]), ref(dcim));
         }, true, {"Sub/DCIM/a.jpg", "Sub/b.png"}},  // each chain cut where it comes round
        {"Sub's record used again since", [&](Bytes& b) { b[sub + 0x10] += 5; }, true, {"/b.png", "DCIM/a.jpg"}},
        {"MFT size claimed 2^60", [&](Bytes& b) { set64(b, attr(b, mft, 0x80) + 0x30, 1ull << 60); }, true,
         {"DCIM/Sub/b.png", "DCIM/a.jpg"}},
        {"$MFT's record unreadable: its mirror's copy", [&](Bytes& b) { b[mft + 510] ^= 1; }, true, both},
        {"$MFT's record and its mirror unreadable", [&](Bytes& b) { b[mft + 510] ^= 1; b[mirror + 510] ^= 1; }, false,
         {}},
        {"$MFT's data continued in an extension record", split_mft, true, both},
        {"a.jpg's data in extension records", [&](Bytes& b) { move_a(b, 8); }, true, both},
        {"a.jpg's second extension record used again since", [&](Bytes& b) { move_a(b, 12); }, true, both, 0},
        {"a.jpg encrypted", [&](Bytes& b) { b[attr(b, a, 0x80) + 0x0D] |= 0x40; }, true, {"DCIM/Sub/b.png"}},
    };
    for (const Case& c : cases) {
        Bytes disk = intact;
        c.damage(disk);
        carver::fs::Map map;
        probe_image(map, disk);
        EXPECT_EQ(map.volumes().size(), c.volume ? 1u : 0u) << c.what;
        std::vector<std::string> files;
        for (const auto& e : map.entries()) {
            files.push_back(e.folder + "/" + e.name);
            if (e.name == "a.jpg") {
                EXPECT_EQ(e.pieces.size(), c.a_pieces) << c.what;
            }
        }
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.files) << c.what;
    }
}

// Files the NTFS driver wrote compressed into a compressed folder, then
// deleted: a picture that compresses comes back expanded; a photo of noise
// comes back from its first unit kept plain and its last one held in
// stored chunks. Once the picture's compressed data is damaged, nothing is
// written under its name.
TEST(NtfsCompressed, DeletedFilesComeBackExpanded) {
    if (!have_tool("mkntfs") || !have_tool("ntfs-3g") || !have_tool("convert") || ::geteuid() != 0 ||
        ::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "needs mkntfs, ntfs-3g, ImageMagick, /dev/fuse and root";
    TempDir tmp;
    std::string img = tmp / "v.img", mnt = tmp / "mnt", folder = mnt + "/Scans";
    ASSERT_EQ(sh("truncate -s 16M " + img + " && mkntfs -q -F -Q -c 4096 " + img + " && mkdir " + mnt +
                 " && ntfs-3g -o compression " + img + " " + mnt + " && mkdir " + folder),
              0);
    const uint32_t compressed_attr = 0x800;
    const uint8_t be[4] = {0, 0, compressed_attr >> 8, 0};
    int marked = ::setxattr(folder.c_str(), "system.ntfs_attrib_be", be, 4, 0);
    int built = sh("convert -size 300x240 gradient:red-blue '" + folder + "/Scan 1.bmp' && convert -size 320x240 "
                   "xc:gray +noise Random -seed 5 -quality 100 " + folder + "/Photo.jpg && sync");
    Bytes scan = read_file(folder + "/Scan 1.bmp"), photo = read_file(folder + "/Photo.jpg");
    built |= sh("rm '" + folder + "/Scan 1.bmp' " + folder + "/Photo.jpg");
    sh("umount " + mnt);
    ASSERT_EQ(marked, 0) << "the driver does not take the compressed attribute";
    ASSERT_EQ(built, 0);

    Bytes disk = read_file(img);
    carver::fs::Map map;
    probe_image(map, disk);
    uint64_t scan_at = 0;
    for (const auto& e : map.entries()) {
        if (e.name == "Scan 1.bmp") scan_at = e.packed.empty() ? 0 : e.packed[0].first;
    }
    ASSERT_NE(scan_at, 0u) << "the picture was not stored compressed";

    std::string out = tmp / "out";
    RunResult r = run_photo({"/d", out, "/cmd", img, "fileopt,everything,enable,search"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, Bytes> carved = files_below(out);
    EXPECT_EQ(carved["Scans/Scan 1.bmp"], scan);
    EXPECT_EQ(carved["Scans/Photo.jpg"], photo);
    EXPECT_EQ(carved.size(), 2u) << "their compressed clusters carved as they lie";

    // The first token of the first chunk made a reference back before the chunk's start.
    std::fstream f(img, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<long>(scan_at + 2));
    f.put(1);
    f.close();
    std::string again = tmp / "again";
    r = run_photo({"/d", again, "/cmd", img, "fileopt,everything,enable,search"});
    ASSERT_EQ(r.status, 0) << r.err;
    carved = files_below(again);
    EXPECT_FALSE(carved.count("Scans/Scan 1.bmp")) << "damaged compressed data written as the picture";
    EXPECT_EQ(carved["Scans/Photo.jpg"], photo);
}

INSTANTIATE_TEST_SUITE_P(Ext, ExtVolumes, ::testing::ValuesIn(kExtCases),
                         [](const auto& p) { return std::string(p.param.label); });

// Names as the disk holds them, whatever the bytes, become names that can be
// created below the output folder and cannot leave it.
TEST(FileSystemNames, AreSanitised) {
    const std::pair<std::string, std::string> cases[] = {
        {"DSC_0412.JPG", "DSC_0412.JPG"},
        {"..", "_"},
        {".", "_"},
        {"...x", "_..x"},
        {"", "_"},
        {"a/../b", "a_.._b"},
        {std::string("x\0y\x1F\x7F.jpg", 9), "x_y__.jpg"},
        {"name. . ", "name"},
        {std::string(300, 'a') + ".jpg", std::string(196, 'a') + ".jpg"},
    };
    for (const auto& [raw, want] : cases) EXPECT_EQ(carver::fs::sanitize_name(raw), want) << raw;
    EXPECT_EQ(carver::fs::utf16_to_utf8(u"\u00e9t\u00e9 \U0001F600\xD800"), "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80_");
}

bool is_valid_utf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (n == 0 || s.size() - i < n) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// Names from FAT and exFAT long names that would be lost, hidden or misread
// once written: each becomes valid UTF-8 within 200 bytes that shows what it is.
TEST(FileSystemNames, HostileNamesBecomeNamesThatCanBeListedAndRead) {
    const std::string e_acute = "\xC3\xA9", replacement = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {repeat(e_acute, 120) + ".jpg", repeat(e_acute, 98) + ".jpg"},
        {"a" + repeat(e_acute, 120) + ".jpg", "a" + repeat(e_acute, 97) + ".jpg"},  // never half a character
        {"a" + repeat("\xE6\x97\xA5", 80), "a" + repeat("\xE6\x97\xA5", 66)},
        {"\xEF\xBB\xBFIMG_1.JPG", "IMG_1.JPG"},
        {".hidden.jpg", "_hidden.jpg"},
        {"photo\xE2\x80\xAEgpj.exe.jpg", "photogpj.exe.jpg"},
        {"a\xE2\x80\x8F\xD8\x9C\xE2\x81\xA6" "b\xE2\x81\xA9.jpg", "ab.jpg"},
        {"bad\xFF\xC3.jpg", "bad" + replacement + replacement + ".jpg"},
        {"\xC0\xAF\xED\xA0\x80.jpg", repeat(replacement, 5) + ".jpg"},  // overlong '/' and a surrogate
        {"tab\tand\xC2\x85.jpg", "tab_and_.jpg"},
        {"\xEF\xBB\xBF.jpg", "_jpg"},
    };
    for (const auto& [raw, want] : cases) {
        const std::string safe = carver::safe_name(raw);
        EXPECT_EQ(safe, want) << raw;
        EXPECT_TRUE(is_valid_utf8(safe)) << raw;
        EXPECT_LE(safe.size(), carver::kMaxNameBytes) << raw;
        EXPECT_EQ(carver::safe_name(safe), safe) << "a safe name stays as it is: " << raw;
    }
}

// 25 nested deleted folders of long names: the file lands in the deepest
// folder that keeps its path short, and the path asked for is reported.
TEST(FileSystemNames, ADeepPathKeepsItsUpperFoldersWithinTheLimit) {
    TempDir tmp;
    carver::OutputDir out;
    std::string err;
    ASSERT_TRUE(out.open(tmp / "out", err)) << err;
    std::string folder;
    for (int depth = 0; depth < 25; ++depth)
        folder += (depth ? "/" : "") + std::to_string(depth) + "-" + repeat("\xC3\xA9", 98);
    const carver::Naming deep{folder, "DSC_0001.JPG", -1};
    const carver::Naming shallow{"DCIM", ".DSC_0002.JPG", -1};
    const uint8_t data[] = {9, 8, 7, 6};
    std::atomic<bool> stop{false};
    carver::BufferSource src(data, sizeof data);
    const carver::WriteResult r = out.write(3, "jpg", src, sizeof data, stop, &deep);
    ASSERT_EQ(r.status, carver::WriteStatus::Ok) << r.error;
    EXPECT_LE(r.name.size(), carver::kMaxRelativePathBytes);
    EXPECT_EQ(r.name.substr(0, r.name.rfind('/')), folder.substr(0, r.name.rfind('/'))) << "the upper folders kept";
    EXPECT_EQ(r.name.substr(r.name.rfind('/') + 1), "DSC_0001.JPG");
    EXPECT_EQ(r.requested, folder + "/DSC_0001.JPG");
    EXPECT_EQ(read_file(tmp / ("out/" + r.name)), Bytes(data, data + sizeof data));

    carver::BufferSource again(data, sizeof data);
    const carver::WriteResult hidden = out.write(4, "jpg", again, sizeof data, stop, &shallow);
    EXPECT_EQ(hidden.name, "DCIM/_DSC_0002.JPG");
    EXPECT_TRUE(hidden.requested.empty());
}

// A card whose deleted files bear names that would be cut inside a character,
// hidden or misread, one of them 25 long-named folders deep: each is
// carved whole under a safe name, and as many files come out as were deleted.
TEST(FileSystemNames, ACardOfHostileNamesIsCarvedWholeUnderSafeNames) {
    if (samples().size() < 6) GTEST_SKIP() << "needs ImageMagick";
    if (!have_tool("mkfs.vfat") || !have_tool("mcopy") || !have_tool("mmd")) GTEST_SKIP() << "needs mkfs.vfat and mtools";
    TempDir tmp;
    const std::string img = tmp / "card.img";
    ASSERT_EQ(sh("mkfs.vfat -F 32 -s 1 -C " + img + " 65536"), 0);
    const std::string mtools = "LC_ALL=C.UTF-8 ";
    std::string deep;
    for (int depth = 0; depth < 25; ++depth) {
        deep += (depth ? "/" : "") + std::to_string(depth) + repeat("\xC3\xA9", 60);
        ASSERT_EQ(sh(mtools + "mmd -i " + img + " '::/" + deep + "'"), 0) << depth;
    }
    // (mtools drops a leading byte-order mark; that name is left to the name table above.)
    const std::string stems[] = {repeat("\xE6\x97\xA5", 78), "photo\xE2\x80\xAEgpj.exe", ".hidden", "ordinary",
                                 deep + "/deep"};
    std::vector<std::string> planted;
    std::multiset<Bytes> deleted;
    for (size_t i = 0; i < std::size(stems); ++i) {
        const Sample& sample = samples()[i];
        const std::string local = tmp / ("s" + std::to_string(i) + "." + sample.ext);
        write_file(local, sample.data);
        planted.push_back(stems[i] + "." + sample.ext);
        ASSERT_EQ(sh(mtools + "mcopy -i " + img + " '" + local + "' '::/" + planted.back() + "'"), 0) << i;
        deleted.insert(sample.data);
    }
    for (const std::string& path : planted) ASSERT_EQ(sh(mtools + "mdel -i " + img + " '::/" + path + "'"), 0) << path;

    const std::string out = tmp / "out";
    const RunResult r = run_photo({"/d", out, "/cmd", img, "fileopt,everything,enable,search"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::multiset<Bytes> carved;
    size_t named = 0;
    for (const auto& [path, data] : files_below(out)) {
        if (path.rfind(".snapmend/", 0) == 0) continue;
        carved.insert(data);
        SCOPED_TRACE(path);
        EXPECT_TRUE(is_valid_utf8(path));
        EXPECT_LE(path.size(), carver::kMaxRelativePathBytes);
        const std::string name = path.substr(path.rfind('/') + 1);
        EXPECT_NE(name[0], '.');
        EXPECT_EQ(name.find("\xEF\xBB\xBF"), std::string::npos);
        EXPECT_EQ(name.find("\xE2\x80\xAE"), std::string::npos);
        named += name[0] != 'f' || name.find("ordinary") == 0;
    }
    EXPECT_EQ(carved, deleted) << "every deleted file carved once, byte for byte";
    EXPECT_EQ(named, std::size(stems)) << "each under its own name, made safe";
}

// An original name goes below the output folder, clashes are numbered, and a
// folder that cannot be made (a file or a link is in its place) gives the
// carved name instead of failing the scan.
TEST(FileSystemNames, PlaceFilesBelowTheOutputFolder) {
    TempDir tmp;
    carver::OutputDir out;
    std::string err;
    ASSERT_TRUE(out.open(tmp / "out", err)) << err;
    write_file(tmp / "out/BLOCKED", {1});
    ASSERT_EQ(::symlink(tmp.path().c_str(), (tmp / "out/LINK").c_str()), 0);
    const uint8_t data[] = {1, 2, 3};
    std::atomic<bool> stop{false};
    const std::pair<carver::Naming, std::string> cases[] = {
        {{"DCIM/100CAMERA", "DSC_0412.JPG", 1700000000}, "DCIM/100CAMERA/DSC_0412.JPG"},
        {{"DCIM/100CAMERA", "DSC_0412.JPG", -1}, "DCIM/100CAMERA/DSC_0412 (2).JPG"},
        {{"BLOCKED/sub", "a.jpg", -1}, "f0000000007.jpg"},
        {{"LINK", "b.jpg", -1}, "f0000000007_1.jpg"},
    };
    for (const auto& [naming, want] : cases) {
        carver::BufferSource src(data, sizeof data);
        carver::WriteResult r = out.write(7, "jpg", src, sizeof data, stop, &naming);
        EXPECT_EQ(r.status, carver::WriteStatus::Ok) << r.error;
        EXPECT_EQ(r.name, want);
        EXPECT_EQ(read_file(tmp / ("out/" + want)), Bytes(data, data + 3)) << want;
    }
    struct stat st {};
    ASSERT_EQ(::stat((tmp / "out/DCIM/100CAMERA/DSC_0412.JPG").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1700000000);
    EXPECT_TRUE(list_dir(tmp.path()) == std::vector<std::string>{"out"}) << "nothing written through the link";
}

}  // namespace

namespace {

// ext4 leaves a deleted file's extent tree node among its pieces when it
// frees them: the free stream passes over a free block that holds a valid
// node, and over nothing else (data that merely opens with the magic stays).
TEST(ExtFreeStream, LeavesOutFreedExtentNodesOnly) {
    const size_t bs = 1024;
    auto node = [&](uint16_t entries, uint16_t max, uint16_t depth) {
        Bytes b = random_bytes(bs, entries + max + depth);
        const uint8_t h[8] = {0x0A, 0xF3, uint8_t(entries), uint8_t(entries >> 8), uint8_t(max), uint8_t(max >> 8),
                              uint8_t(depth), 0};
        std::copy(h, h + 8, b.begin());
        return b;
    };
    const uint16_t room = (bs - 12) / 12;
    // block: contents, in use
    const std::vector<std::pair<Bytes, bool>> blocks = {
        {random_bytes(bs, 1), false}, {node(4, room, 0), false},        {random_bytes(bs, 2), false},
        {random_bytes(bs, 3), true},  {node(2, room, 1), false},        {node(3, room + 1, 0), false},
        {node(room + 1, room, 0), false}, {node(1, room, 9), false},   {random_bytes(bs, 4), false},
    };
    Bytes disk;
    carver::fs::Volume v;
    v.cluster_size = bs;
    v.clusters = blocks.size();
    v.used.assign(1, 0);
    v.skip_extent_nodes = true;
    Bytes want;
    for (size_t i = 0; i < blocks.size(); ++i) {
        disk.insert(disk.end(), blocks[i].first.begin(), blocks[i].first.end());
        if (blocks[i].second) v.set_used(i);
    }
    for (size_t i : {0, 2, 5, 6, 7, 8}) want.insert(want.end(), blocks[i].first.begin(), blocks[i].first.end());
    carver::BufferSource phys(disk.data(), disk.size());
    carver::fs::FreeStream stream(v, 0, phys);
    Bytes got(want.size() + bs);
    ASSERT_EQ(stream.read(0, got.data(), got.size()), want.size());
    got.resize(want.size());
    EXPECT_TRUE(got == want);
    EXPECT_TRUE(stream.crosses_used(2 * bs)) << "the node splits the first run";
    EXPECT_FALSE(stream.crosses_used(bs));
}

// A GIF whose rest lies past another deleted file's clusters comes back
// whole only when every image decodes: a rest with other files' clusters in
// it never does. (A flipped bit may decode: LZW has no checksum.)
// A JPEG whose rest lies past another file's clusters: a baseline one
// stitched wherever its break falls (also right after a stuffed 0xFF, which
// is checked against the byte after it), a progressive one's head kept.
TEST(JpegStitch, BaselineWholeProgressiveHead) {
    const auto& all = samples();
    auto find = [&](const char* name) {
        auto it = std::find_if(all.begin(), all.end(), [&](const Sample& s) { return s.name == name; });
        return it == all.end() ? Bytes{} : it->data;
    };
    const size_t cs = 512;
    Bytes base = find("baseline.jpg"), prog = find("progressive.jpg");
    if (base.empty() || prog.empty()) GTEST_SKIP() << "needs ImageMagick";
    // A comment segment after SOI moves the first stuffed 0xFF past 8 KiB to
    // a cluster's last byte.
    auto stuffed_at_boundary = [&](Bytes b) {
        size_t i = 8192;
        while (i + 1 < b.size() && !(b[i] == 0xFF && b[i + 1] == 0)) ++i;
        size_t shift = (cs - (i + 1) % cs) % cs;
        if (shift < 4) shift += cs;
        Bytes com = {0xFF, 0xFE, uint8_t((shift - 2) >> 8), uint8_t(shift - 2)};
        com.resize(shift, 'x');
        b.insert(b.begin() + 2, com.begin(), com.end());
        return std::make_pair(b, (i + shift + 1) / cs);
    };
    struct Case {
        const char* what;
        std::pair<Bytes, size_t> file;  // and the cluster its rest starts at
        bool rest_overwritten;
        bool whole;
    };
    const Case cases[] = {
        {"baseline, broken after a stuffed 0xFF", stuffed_at_boundary(base), false, true},
        {"baseline, broken elsewhere", {base, 20}, false, true},
        {"progressive, its rest overwritten: the scans before the other file", {prog, 60}, true, false},
    };
    for (const Case& c : cases) {
        const Bytes& file = c.file.first;
        const size_t head = c.file.second * cs;
        ASSERT_LT(head, file.size()) << c.what;
        Bytes rest(file.begin() + static_cast<long>(head), file.end());
        if (c.rest_overwritten) rest = random_bytes(rest.size(), 4);
        rest.resize((rest.size() + cs - 1) / cs * cs + 2 * cs, 0);
        Bytes disk(file.begin(), file.begin() + static_cast<long>(head)), other = random_bytes(3 * cs, 5);
        disk.insert(disk.end(), other.begin(), other.end());
        disk.insert(disk.end(), rest.begin(), rest.end());
        carver::fs::Volume v;
        v.cluster_size = cs;
        v.clusters = disk.size() / cs;
        v.used.assign((v.clusters + 63) / 64, 0);
        carver::BufferSource phys(disk.data(), disk.size());
        carver::fs::WholeFiles whole_files;
        carver::fs::Stitched st = carver::fs::stitch_jpeg(v, 0, phys, 1u << 24, &whole_files, {{head / cs, 3}});
        ASSERT_TRUE(st.stream) << c.what;
        Bytes got(st.length);
        ASSERT_EQ(st.stream->read(0, got.data(), got.size()), got.size()) << c.what;
        EXPECT_EQ(!st.partial && got == file, c.whole) << c.what;
        if (st.partial) {
            EXPECT_TRUE(own_head(got, file)) << c.what << ": other bytes in the head";
            EXPECT_LE(got.size(), head + 2) << c.what;
            TempDir tmp;
            write_file(tmp / "head.jpg", got);
            EXPECT_TRUE(plays(tmp / "head.jpg")) << c.what << ": the head does not decode";
        }
    }
}

TEST(GifStitch, OnlyAProvenContinuationMakesItWhole) {
    const auto& all = samples();
    auto it = std::find_if(all.begin(), all.end(), [](const Sample& s) { return s.name == "old.gif"; });
    if (it == all.end()) GTEST_SKIP() << "needs ImageMagick";
    const size_t cs = 512;
    const Bytes& gif = it->data;
    ASSERT_GE(gif.size(), 4 * cs);
    const size_t head = gif.size() / cs / 2 * cs;
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;  // to the rest, past the other file
        bool whole;
    };
    const Case cases[] = {
        {"intact", [](Bytes&) {}, true},
        {"a cluster of the rest another file's", [&](Bytes& r) {
             Bytes junk = random_bytes(cs, 9);
             std::copy(junk.begin(), junk.end(), r.begin() + static_cast<long>(r.size() / cs / 2 * cs));
         }, false},
        {"the rest overwritten", [](Bytes& r) { r = random_bytes(r.size(), 7); }, false},
        {"the rest's last piece overwritten", [&](Bytes& r) {
             Bytes junk = random_bytes(cs, 8);
             std::copy(junk.begin(), junk.end(), r.end() - static_cast<long>(cs));
         }, false},
    };
    for (const Case& c : cases) {
        Bytes rest(gif.begin() + static_cast<long>(head), gif.end());
        rest.resize((rest.size() + cs - 1) / cs * cs, 0);
        c.damage(rest);
        Bytes disk(gif.begin(), gif.begin() + static_cast<long>(head));
        Bytes other = random_bytes(2 * cs, 5), tail = random_bytes(2 * cs, 6);
        disk.insert(disk.end(), other.begin(), other.end());
        disk.insert(disk.end(), rest.begin(), rest.end());
        disk.insert(disk.end(), tail.begin(), tail.end());
        carver::fs::Volume v;
        v.cluster_size = cs;
        v.clusters = disk.size() / cs;
        v.used.assign((v.clusters + 63) / 64, 0);
        carver::BufferSource phys(disk.data(), disk.size());
        carver::fs::Stitched st = carver::fs::stitch_gif(v, 0, phys, 1u << 20, {{head / cs, 2}});
        bool whole = false;
        if (st.stream && !st.partial && st.length == gif.size()) {
            Bytes got(gif.size());
            whole = st.stream->read(0, got.data(), got.size()) == got.size() && got == gif;
            EXPECT_TRUE(whole) << c.what << ": other bytes stitched as the GIF";
        }
        EXPECT_EQ(whole, c.whole) << c.what;
        EXPECT_TRUE(whole || !st.stream) << c.what << ": a stream that is not the GIF";
    }
}

}  // namespace

namespace {

// An MP4 or QuickTime file whose media data lies in pieces, other files'
// clusters between them: whole only when every sample the tables place
// checks where they place it, and the break's place is certain (one
// cluster boundary keeps every check, or deleted files fill the gap there).
TEST(IsoStitch, WholeOnlyWhenEverySampleLinesUp) {
    if (media_samples().empty()) GTEST_SKIP() << "needs ffmpeg";
    struct Case {
        const char* what;
        const char* file;
        std::vector<size_t> breaks;  // clusters of the file after which other clusters lie
        bool listed;                 // those clusters are deleted files the map knows
        std::function<void(Bytes&)> damage;  // to the disk, the file at offset 0
        bool whole;
        size_t cs = 512;
        bool model = false;    // the scan holds the file's own movie box as a model
        bool partial = false;  // a partial file comes out
    };
    auto overwrite = [&](size_t cluster) {  // of the disk, in 512-byte clusters
        return [=](Bytes& d) {
            const size_t cs = 512;
            Bytes junk = random_bytes(cs, 77);
            std::copy(junk.begin(), junk.end(), d.begin() + static_cast<long>(cluster * cs));
        };
    };
    auto moov_at = [](const Bytes& d) {
        return static_cast<size_t>(std::search(d.begin(), d.end(), std::begin("moov"), std::end("moov") - 1) - d.begin()) - 4;
    };
    auto lose_moov = [&](Bytes& d) {  // overwritten from the movie box on
        Bytes junk = random_bytes(d.size() - moov_at(d), 79);
        std::copy(junk.begin(), junk.end(), d.begin() + static_cast<long>(moov_at(d)));
    };
    const Case cases[] = {
        {"two breaks among small frames", "h264.mp4", {40, 70}, true, nullptr, true},
        {"the same, the clusters between known to no one", "h264.mp4", {40, 70}, false, nullptr, true},
        {"a break inside the key frame, the clusters between unknown", "h264.mp4", {4}, false, nullptr, false, 512, false, true},
        {"a break inside the key frame, deleted files the map knows between", "h264.mp4", {4}, true, nullptr, true},
        {"three breaks in a QuickTime file", "clip.mov", {20, 50, 90}, true, nullptr, true},
        {"a cluster of the media data another file's", "h264.mp4", {40}, true, overwrite(60), false, 512, false, true},
        {"the movie box's first cluster another file's", "h264.mp4", {40}, true,
         [&](Bytes& d) {
             auto at = std::search(d.begin(), d.end(), std::begin("moov"), std::end("moov") - 1) - d.begin();
             overwrite(static_cast<size_t>(at - 4) / 512)(d);
         },
         false},
        {"a chunk offset in the tables pointing past the media data", "h264.mp4", {40}, true,
         [&](Bytes& d) {
             auto at = std::search(d.begin(), d.end(), std::begin("stco"), std::end("stco") - 1) - d.begin();
             d[static_cast<size_t>(at) + 12] = 0x7F;
         },
         false},
        {"the movie box first: nothing checks the bytes after the last frame's start", "faststart.mp4", {20, 40},
         true, nullptr, false, 512, false, true},
        {"the same, no cluster boundary after it", "faststart.mp4", {5, 12}, true, nullptr, true, 4096},
        {"the rest of the file overwritten", "h264.mp4", {40}, true,
         [&](Bytes& d) { d.resize(43 * 512); Bytes r = random_bytes(80 * 512, 78); d.insert(d.end(), r.begin(), r.end()); },
         false},
        // Audio chunks prove none of their bytes: a break may hide in one
        // unless clusters are larger than the stretch searched past it.
        {"the movie box lost, no model", "h264.mp4", {4}, true, lose_moov, false, 4096},
        {"the movie box lost, a model: the samples before the break", "h264.mp4", {4}, false, lose_moov, false, 4096,
         true, true},
        {"the same, deleted files the map knows at the break", "h264.mp4", {4}, true, lose_moov, false, 4096, true,
         true},
        {"the same, the key frame cut by the first break: nothing to play", "h264.mp4", {1}, false, lose_moov, false,
         4096, true, false},
        {"the same, small clusters: audio chunks across their boundaries prove nothing", "h264.mp4", {40}, false,
         lose_moov, false, 512, true, false},
    };
    for (const Case& c : cases) {
        const size_t cs = c.cs;
        const Bytes& file = media_sample(c.file).data;
        ASSERT_GT(file.size(), (c.breaks.back() + 8) * cs) << c.what;
        Bytes disk;
        std::vector<carver::fs::Skip> skips;
        size_t from = 0, n = 2;
        for (size_t b : c.breaks) {
            disk.insert(disk.end(), file.begin() + static_cast<long>(from * cs), file.begin() + static_cast<long>(b * cs));
            if (c.listed) skips.push_back({disk.size() / cs, n});
            Bytes other = random_bytes(n * cs, static_cast<uint32_t>(n));
            disk.insert(disk.end(), other.begin(), other.end());
            from = b, ++n;
        }
        disk.insert(disk.end(), file.begin() + static_cast<long>(from * cs), file.end());
        disk.resize((disk.size() + cs - 1) / cs * cs + 4 * cs, 0);
        if (c.damage) c.damage(disk);
        carver::fs::Volume v;
        v.cluster_size = cs;
        v.clusters = disk.size() / cs;
        v.used.assign((v.clusters + 63) / 64, 0);
        carver::BufferSource phys(disk.data(), disk.size());
        carver::fs::WholeFiles models;
        if (c.model)
            models.keep_movie({file.begin(), file.begin() + static_cast<long>(carver::rd_be32(file.data()))},
                              {file.begin() + static_cast<long>(moov_at(file)), file.end()});
        carver::fs::Stitched st = carver::fs::stitch_iso(v, 0, phys, 1u << 30, skips, &models);
        EXPECT_EQ(st.stream && st.partial, c.partial) << c.what;
        bool whole = false;
        if (st.stream) {
            Bytes got(st.length);
            bool read = st.stream->read(0, got.data(), got.size()) == got.size();
            whole = !st.partial && st.length == file.size() && read && got == file;
            if (st.partial) {  // the proven samples, with a movie box of their own
                EXPECT_TRUE(read && own_head(got, file)) << c.what << ": other bytes in the partial file";
                TempDir tmp;
                write_file(tmp / "part.mp4", got);
                EXPECT_TRUE(plays(tmp / "part.mp4")) << c.what << ": the partial file does not play";
                EXPECT_TRUE(lasts(tmp / "part.mp4")) << c.what << ": no duration";
            } else {
                EXPECT_TRUE(whole) << c.what << ": other bytes stitched as the file";
            }
        }
        EXPECT_EQ(whole, c.whole) << c.what;
    }
}

}  // namespace
