// Precision of the whole engine: an image mixing a file of every format the
// engine knows with random data, zeros and many small text files. Carved
// files that match no planted file are counted and reported.
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <random>

#include "helpers.h"
#include "media.h"

using namespace carver_test;

namespace {

TEST(EnginePrecision, MixedImageCarvesAlmostNothingButPlantedFiles) {
    std::vector<Sample> planted = samples();
    for (const auto* set : {&media_samples(), &document_samples()})
        planted.insert(planted.end(), set->begin(), set->end());
    ASSERT_GT(planted.size(), 30u) << "sample tools missing";
    size_t formats = planted.size();
    std::mt19937 rng(2026);
    for (int i = 0; i < 400; ++i) {  // small text files, many below the size text is carved from
        Bytes t = text_file(40 + rng() % 3000, 1000 + i);
        planted.push_back({"small" + std::to_string(i) + ".txt", "txt", t});
    }
    // Fragments of deleted files whose ends were overwritten: not files at all.
    std::vector<Sample> fragments;
    for (size_t i = 0; i < formats; ++i)
        if (planted[i].ext != "txt" && planted[i].data.size() > 2048) {
            const Bytes& d = planted[i].data;
            size_t keep = d.size() / 2 + rng() % (d.size() / 2 - 512);
            fragments.push_back({"cut-" + planted[i].name, planted[i].ext, Bytes(d.begin(), d.begin() + static_cast<long>(keep))});
        }
    std::shuffle(planted.begin(), planted.end(), rng);

    Bytes img = random_bytes(1 << 20, 77);
    std::vector<Bytes> originals;
    for (const Sample& s : planted) {
        append_aligned(img, s.data);
        originals.push_back(s.data);
        switch (rng() % 3) {
        case 0: append_aligned(img, random_bytes(1000 + rng() % 60000, static_cast<uint32_t>(rng()))); break;
        case 1: img.resize(img.size() + rng() % 8192, 0); break;
        default: break;  // the next file starts at the next sector
        }
    }
    // Files carved from where the fragments lie are counted apart: a format
    // sized by its header alone cannot tell a cut file from a whole one.
    size_t fragments_from = (img.size() + 511) / 512;
    for (const Sample& f : fragments) {
        append_aligned(img, f.data);
        append_aligned(img, random_bytes(70000, static_cast<uint32_t>(rng())));
    }
    img.resize(img.size() + (1 << 20), 0);
    TempDir dir;
    write_file(dir / "mixed.img", img);

    auto t0 = std::chrono::steady_clock::now();
    RunResult r = run_photo({"/d", dir / "out", "/cmd", dir / "mixed.img", "fileopt,everything,enable,search"});
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_EQ(r.status, 0) << r.err;

    std::vector<std::string> carved = list_dir(dir / "out");
    size_t found = 0, junk = 0, fragment_junk = 0;
    std::string junk_names, fragment_names;
    for (const std::string& name : carved) {
        Bytes got = read_file(dir / "out" + "/" + name);
        if (std::find(originals.begin(), originals.end(), got) != originals.end()) {
            ++found;
            continue;
        }
        std::string what = name + " (" + std::to_string(got.size()) + " bytes) ";
        if (std::stoull(name.substr(1)) >= fragments_from) {
            ++fragment_junk;
            fragment_names += what;
        } else {
            ++junk;
            junk_names += what;
        }
    }
    std::printf("[   INFO   ] %zu planted files (%zu of the other formats, %zu small texts) in %.1f MiB; "
                "carved %zu in %.2f s: %zu planted files found, %zu match no planted file "
                "(precision %.2f%%)\n",
                planted.size(), formats, planted.size() - formats, img.size() / 1048576.0, carved.size(), secs,
                found, junk, 100.0 * static_cast<double>(found) / static_cast<double>(found + junk));
    std::printf("[   INFO   ] %zu cut-off fragments gave %zu files: %s\n", fragments.size(), fragment_junk,
                fragment_names.c_str());
    // Every file of the other formats is found; texts too short to be carved may not be.
    std::vector<Sample> must;
    for (const Sample& s : planted)
        if (s.ext != "txt" || s.data.size() >= 512) must.push_back(s);
    EXPECT_EQ(missing_in(dir / "out", must), "");
    EXPECT_LE(junk * 100, found) << "more than 1% of the carved files match no planted file: " << junk_names;
    // Formats sized by their headers alone carve a cut file whole: reported, and bounded.
    EXPECT_LE(fragment_junk * 4, fragments.size() * 3) << "more than three fragments in four carved";
}

}  // namespace
