// The engine over FAT volumes built with mkfs.vfat and mtools: deleted files
// written into the gaps of earlier deletions (2 to 4 pieces each, separated by
// live files or by files deleted later) must come back whole under their
// original names and folders, and nothing else may be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <sys/stat.h>

#include "fs/map.h"
#include "helpers.h"

using namespace carver_test;
namespace stdfs = std::filesystem;

namespace {

struct Range {
    uint32_t first, last;
};

// Cluster runs of a file as mshowfat prints them: "::/x <4-10> <17-24>".
std::vector<Range> runs_of(const std::string& img, const std::string& path, const TempDir& tmp) {
    std::string out = tmp / "showfat.txt";
    sh("(mshowfat -i " + img + " '::/" + path + "' > " + out + ")");
    Bytes text = read_file(out);
    std::string s(text.begin(), text.end());
    std::vector<Range> runs;
    for (size_t at = s.find('<'); at != std::string::npos; at = s.find('<', at + 1)) {
        unsigned a = 0, b = 0;
        int n = std::sscanf(s.c_str() + at, "<%u-%u>", &a, &b);
        if (n >= 1) runs.push_back({a, n == 2 ? b : a});
    }
    return runs;
}

// First sector of cluster 2, from the boot sector.
uint64_t data_start_sector(const std::string& img) {
    Bytes b(512);
    std::ifstream(img, std::ios::binary).read(reinterpret_cast<char*>(b.data()), 512);
    uint32_t fat = b[22] | b[23] << 8;
    if (fat == 0) fat = b[36] | b[37] << 8 | b[38] << 16 | uint32_t(b[39]) << 24;
    uint32_t root = ((b[17] | b[18] << 8) * 32 + 511) / 512;
    return (b[14] | b[15] << 8) + uint64_t(b[16]) * fat + root;
}

std::map<std::string, Bytes> files_below(const std::string& dir) {
    std::map<std::string, Bytes> out;
    for (const auto& e : stdfs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) out[stdfs::relative(e.path(), dir).string()] = read_file(e.path().string());
    return out;
}

struct Planted {
    Sample sample;
    std::string path;    // below the volume root
    std::vector<Range> runs;
    int pieces = 0;
    bool live_gaps_only = true;
    bool overwritten = false;  // its last piece: only a partial file can come back
};

struct FatCase {
    const char* label;
    const char* mkfs;      // mkfs.vfat options
    size_t cluster;        // bytes
    unsigned kib;          // volume size
    size_t budget;         // bytes of planted files
};

const FatCase kFatCases[] = {
    {"FAT12", "-F 12 -s 2", 1024, 4000, 1200 << 10},
    {"FAT16", "-F 16 -s 2", 1024, 32768, 6 << 20},
    {"FAT32", "-F 32 -s 1", 512, 65536, 12 << 20},
};

// Builds the volume: gaps sized so that each planted file fills 2 to 4 of
// them, separated by live files and (every third file) by files deleted
// after the planted ones were written; then every planted file is deleted.
std::vector<Planted> build(const FatCase& fc, const std::string& img, const TempDir& tmp) {
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
    size_t used = 0;
    for (const Sample& s : pool) {
        if (s.data.size() < 3 * fc.cluster || used + s.data.size() > fc.budget) continue;
        used += s.data.size();
        Planted p;
        p.sample = s;
        bool photo = s.ext == "jpg" || s.ext == "png" || s.ext == "gif" || s.ext == "bmp" || s.ext == "tif";
        p.path = (photo ? "DCIM/100CAMERA/Holiday " : "Documents/Report ") + std::to_string(plan.size()) + " " +
                 s.name;
        plan.push_back(p);
    }
    if (sh("mkfs.vfat " + std::string(fc.mkfs) + " -C " + img + " " + std::to_string(fc.kib)) != 0) return {};
    std::string m = " -i " + img + " ";
    // Folders with room for every name, so that no folder grows into a gap.
    sh("mmd" + m + "::/DCIM ::/DCIM/100CAMERA ::/Documents");
    std::string seats;
    for (int i = 0; i < 40; ++i) {
        std::string n = tmp / ("placeholder with a long name " + std::to_string(i));
        write_file(n, {});
        seats += " '" + n + "'";
    }
    sh("mcopy" + m + seats + " ::/DCIM/100CAMERA/ && mcopy" + m + seats + " ::/Documents/");
    sh("mdel" + m + "'::/DCIM/100CAMERA/placeholder*' '::/Documents/placeholder*'");

    std::string gaps, fill, later;
    int n = 0;
    auto add = [&](std::string& list, size_t clusters) {
        std::string name = "F" + std::to_string(n++) + ".BIN";
        write_file(tmp / name, random_bytes(clusters * fc.cluster, static_cast<uint32_t>(n)));
        fill += " " + tmp / name;
        list += " ::/" + name;
    };
    std::string none;
    for (size_t j = 0; j < plan.size(); ++j) {
        size_t total = (plan[j].sample.data.size() + fc.cluster - 1) / fc.cluster;
        size_t k = 2 + j % 3;
        const std::string& sn = plan[j].sample.name;
        bool later_gaps = j % 3 == 2 || sn == "exif.jpg" || sn == "alpha.png";
        for (size_t p = 0; p < k; ++p) {
            add(gaps, p + 1 < k ? total / k : total - (k - 1) * (total / k));
            add(later_gaps && p + 1 < k ? later : none, 1 + (j + p) % 3);
        }
    }
    if (sh("mcopy" + m + fill + " ::/") != 0 || sh("mdel" + m + gaps) != 0) return {};
    // FAT32 keeps a next-free hint; pointing it back at the start makes the
    // next files fill the gaps, as a camera's first-fit allocation would.
    {
        Bytes v = read_file(img);
        if (v.size() > 1024 && v[82] == 'F' && v[85] == '3') {
            size_t info = size_t(v[48] | v[49] << 8) * 512;
            std::fstream f(img, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(static_cast<long>(info + 0x1EC));
            const char hint[4] = {2, 0, 0, 0};
            f.write(hint, 4);
        }
    }
    for (Planted& p : plan) {
        std::string src = tmp / p.sample.name;
        write_file(src, p.sample.data);
        if (sh("mcopy" + m + "'" + src + "' '::/" + p.path + "'") != 0) return {};
    }
    std::vector<Range> deleted_later;
    std::istringstream names(later);
    for (std::string name; names >> name;)
        for (Range r : runs_of(img, name.substr(3), tmp)) deleted_later.push_back(r);
    for (Planted& p : plan) {
        std::vector<Range> runs = runs_of(img, p.path, tmp);
        p.runs = runs;
        p.pieces = static_cast<int>(runs.size());
        for (size_t i = 1; i < runs.size(); ++i)
            for (Range d : deleted_later)
                if (d.first > runs[i - 1].last && d.last < runs[i].first) p.live_gaps_only = false;
        if (sh("mdel" + m + "'::/" + p.path + "'") != 0) return {};
    }
    if (!later.empty() && sh("mdel" + m + later) != 0) return {};
    for (Planted& p : plan)
        if (p.sample.name == "cut.jpg" && p.runs.size() > 1) {
            uint64_t at = data_start_sector(img) * 512 + (p.runs.back().first - 2) * fc.cluster;
            Bytes junk = random_bytes((p.runs.back().last - p.runs.back().first + 1) * fc.cluster, 99);
            std::fstream f(img, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(static_cast<long>(at));
            f.write(reinterpret_cast<const char*>(junk.data()), static_cast<std::streamsize>(junk.size()));
            p.overwritten = true;
        }
    return plan;
}

class FatVolumes : public ::testing::TestWithParam<FatCase> {};

TEST_P(FatVolumes, FragmentedDeletedFilesComeBackWholeUnderTheirNames) {
    if (!have_tool("mkfs.vfat") || !have_tool("mcopy") || samples().empty())
        GTEST_SKIP() << "needs mkfs.vfat, mtools and ImageMagick";
    const FatCase& fc = GetParam();
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
    for (const Planted& p : plan) {
        EXPECT_GE(p.pieces, 2) << p.path << " was meant to lie in pieces";
        if (p.overwritten) {
            std::string partial = p.path.substr(0, p.path.size() - 4) + ".partial.jpg";
            EXPECT_TRUE(carved.count(partial)) << partial << " missing";
            continue;
        }
        Tally& t = by_ext[p.sample.ext];
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
        if (p.live_gaps_only) {
            EXPECT_TRUE(whole) << p.path << " (" << p.pieces << " pieces between live files) not recovered";
            EXPECT_TRUE(named) << p.path << " not recovered under its name";
        }
        if (whole) {
            EXPECT_TRUE(named) << p.path << " recovered, but not under its name";
        }
    }
    // A file that is no planted file may only start in the clusters of a
    // planted file whose pieces were separated by deleted files: pieces not
    // put back together (a format sized by its header alone cannot tell).
    uint64_t data_sector = data_start_sector(img);
    std::map<std::string, uint64_t> start_of;  // original path -> first cluster
    for (const Planted& p : plan) start_of[p.path] = p.runs.empty() ? 0 : p.runs[0].first;
    int unstitched = 0, partial = 0;
    for (const auto& [name, data] : carved) {
        if (std::any_of(plan.begin(), plan.end(), [&](const Planted& p) { return p.sample.data == data; }))
            continue;
        if (name.find(".partial.") != std::string::npos) {  // a planted file's start, closed
            bool prefix = data.size() > 2 && data[data.size() - 2] == 0xFF && data.back() == 0xD9 &&
                std::any_of(plan.begin(), plan.end(), [&](const Planted& p) {
                    return p.sample.data.size() > data.size() &&
                           std::equal(data.begin(), data.end() - 2, p.sample.data.begin());
                });
            EXPECT_TRUE(prefix) << name << " is no closed start of a planted file";
            ++partial;
            continue;
        }
        unsigned long long sector = 0;
        uint64_t cluster = 0;
        if (std::sscanf(name.c_str(), "f%llu.", &sector) == 1 && sector >= data_sector)
            cluster = 2 + (sector - data_sector) * 512 / fc.cluster;
        else if (start_of.count(name))
            cluster = start_of[name];
        bool in_unstitched = cluster >= 2 &&
            std::any_of(plan.begin(), plan.end(), [&](const Planted& p) {
                return !p.live_gaps_only && std::any_of(p.runs.begin(), p.runs.end(), [&](Range run) {
                    return cluster >= run.first && cluster <= run.last;
                });
            });
        unstitched += in_unstitched;
        EXPECT_TRUE(in_unstitched) << name << " (" << data.size() << " bytes) is no planted file";
    }
    for (const auto& [ext, t] : by_ext)
        std::printf("[%s] %-4s fragmented %d, whole %d (between live files only: %d of %d), "
                    "under the original name %d\n",
                    fc.label, ext.c_str(), t.fragmented, t.whole, t.live_whole, t.live_only, t.named);
    std::printf("[%s] %d files written from pieces not put back together, %d partial\n", fc.label,
                unstitched, partial);
}

INSTANTIATE_TEST_SUITE_P(Fat, FatVolumes, ::testing::ValuesIn(kFatCases),
                         [](const auto& p) { return std::string(p.param.label); });

// Names as the disk holds them, whatever the bytes, become names that can be
// created below the output folder and cannot leave it.
TEST(FileSystemNames, AreSanitised) {
    const std::pair<std::string, std::string> cases[] = {
        {"DSC_0412.JPG", "DSC_0412.JPG"},
        {"..", "_"},
        {".", "_"},
        {"...x", "...x"},
        {"", "_"},
        {"a/../b", "a_.._b"},
        {std::string("x\0y\x1F\x7F.jpg", 9), "x_y__.jpg"},
        {"name. . ", "name"},
        {std::string(300, 'a') + ".jpg", std::string(196, 'a') + ".jpg"},
    };
    for (const auto& [raw, want] : cases) EXPECT_EQ(carver::fs::sanitize_name(raw), want) << raw;
    EXPECT_EQ(carver::fs::utf16_to_utf8(u"\u00e9t\u00e9 \U0001F600\xD800"), "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80_");
}

}  // namespace
