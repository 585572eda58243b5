// MP3, WAV and AVI files whose rest lies past another deleted file's
// clusters: put back together only where the frame chain or the chunk table
// proves the continuation, and never as other bytes.
#include <gtest/gtest.h>

#include <functional>

#include "fs/stitch.h"
#include "helpers.h"
#include "media.h"

using namespace carver_test;

namespace {

constexpr size_t kCluster = 512;

void put_le32(Bytes& b, size_t at, size_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A WAV with a chunk after its samples, as some recorders write.
Bytes with_trailer(Bytes wav) {
    const Bytes info = {'L', 'I', 'S', 'T', 16, 0, 0, 0, 'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 4, 0, 0, 0, 'T', 'o', 'n', 'e'};
    if (wav.size() & 1) wav.push_back(0);
    wav.insert(wav.end(), info.begin(), info.end());
    put_le32(wav, 4, wav.size() - 8);
    return wav;
}

struct Case {
    const char* what;
    std::function<Bytes()> file;
    std::function<Bytes(const Bytes& file, size_t head)> other;  // the clusters between the pieces
    std::function<void(Bytes& rest)> damage;
    bool known;  // the other file's clusters are known (its entry survives)
    bool whole;
};

Bytes random_other(const Bytes&, size_t) { return random_bytes(3 * kCluster, 5); }

TEST(MediaStitch, OnlyProvenContinuationsMakeFilesWhole) {
    if (media_samples().empty()) GTEST_SKIP() << "needs ffmpeg";
    auto sample = [](const char* name) { return [name] { return media_sample(name).data; }; };
    auto none = [](Bytes&) {};
    const Case cases[] = {
        {"mp3", sample("tagged.mp3"), random_other, none, false, true},
        {"mp3, another recording of the same kind between", sample("tagged.mp3"),
         [](const Bytes&, size_t) {
             const Bytes& o = media_sample("bare.mp3").data;
             return Bytes(o.begin() + 7 * kCluster, o.begin() + 13 * kCluster);
         },
         none, false, true},
        {"mp3, a cluster of the rest another file's", sample("tagged.mp3"), random_other,
         [](Bytes& r) {
             Bytes junk = random_bytes(kCluster, 9);
             std::copy(junk.begin(), junk.end(), r.begin() + static_cast<long>(r.size() / kCluster / 2 * kCluster));
         },
         true, false},
        {"mp3, the rest overwritten", sample("tagged.mp3"), random_other,
         [](Bytes& r) { r = random_bytes(r.size(), 7); }, true, false},
        {"wav, the break among its samples", sample("tone.wav"), random_other, none, true, false},
        {"wav with a chunk after its samples", [] { return with_trailer(media_sample("tone.wav").data); },
         random_other, none, true, true},
        {"wav with a chunk after its samples, the other file unknown",
         [] { return with_trailer(media_sample("tone.wav").data); }, random_other, none, false, false},
        {"avi, the break inside its frames", sample("clip.avi"), random_other, none, true, true},
        {"avi whose index names another size", sample("clip.avi"), random_other,
         [](Bytes& r) {
             for (size_t at = r.size() - 16; at > 0; --at)
                 if (std::equal(r.begin() + static_cast<long>(at), r.begin() + static_cast<long>(at) + 4, "idx1")) {
                     r[at + 8 + 12] ^= 2;  // the first entry's size
                     return;
                 }
         },
         true, false},
    };
    for (const Case& c : cases) {
        const Bytes file = c.file();
        const size_t head = file.size() / kCluster / 2 * kCluster;
        ASSERT_GE(head, 2 * kCluster) << c.what;
        Bytes rest(file.begin() + static_cast<long>(head), file.end());
        rest.resize((rest.size() + kCluster - 1) / kCluster * kCluster, 0);
        c.damage(rest);
        const Bytes other = c.other(file, head), tail = random_bytes(4 * kCluster, 6);
        Bytes disk(file.begin(), file.begin() + static_cast<long>(head));
        for (const Bytes* part : {&other, static_cast<const Bytes*>(&rest), &tail}) disk.insert(disk.end(), part->begin(), part->end());
        carver::fs::Volume v;
        v.cluster_size = kCluster;
        v.clusters = disk.size() / kCluster;
        v.used.assign((v.clusters + 63) / 64, 0);
        carver::BufferSource phys(disk.data(), disk.size());
        std::vector<carver::fs::Skip> skips;
        if (c.known) skips.push_back({head / kCluster, other.size() / kCluster});
        bool mp3 = std::string(c.what).rfind("mp3", 0) == 0;
        carver::fs::Stitched st = mp3 ? carver::fs::stitch_mp3(v, 0, phys, 1u << 24, skips)
                                      : carver::fs::stitch_riff(v, 0, phys, 1u << 24, skips);
        bool whole = false;
        if (st.stream) {
            Bytes got(st.length);
            whole = !st.partial && st.stream->read(0, got.data(), got.size()) == got.size() && got == file;
        }
        EXPECT_EQ(whole, c.whole) << c.what;
        EXPECT_TRUE(whole || !st.stream) << c.what << ": other bytes put together as the file";
    }
}

}  // namespace
