// MP3, WAV and AVI files whose rest lies past another deleted file's
// clusters: put back together only where the frame chain or the chunk table
// proves the continuation, and never as other bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "fs/stitch.h"
#include "cards.h"
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

// Where the frames of an MPEG-2 Layer III recording (the samples' kind) start.
std::vector<size_t> frame_starts(const Bytes& mp3) {
    static const int kKbps[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int kHz[3] = {22050, 24000, 16000};
    size_t at = 0;
    if (mp3.size() > 10 && mp3[0] == 'I' && mp3[1] == 'D' && mp3[2] == '3')
        at = 10 + (size_t(mp3[6]) << 21 | size_t(mp3[7]) << 14 | size_t(mp3[8]) << 7 | mp3[9]);
    std::vector<size_t> out;
    while (at + 4 <= mp3.size() && mp3[at] == 0xFF && (mp3[at + 1] & 0xFE) == 0xF2 && (mp3[at + 2] >> 4) % 15 &&
           ((mp3[at + 2] >> 2) & 3) < 3) {
        out.push_back(at);
        at += 72000 * kKbps[mp3[at + 2] >> 4] / kHz[(mp3[at + 2] >> 2) & 3] + ((mp3[at + 2] >> 1) & 1);
    }
    return out;
}

// Six clusters whose second holds, where the rest's next frame belongs,
// a frame of the same kind: of another recording (`from` its bytes there on,
// more frames than a continuation must show), or a lone header in random bytes.
Bytes frame_in_the_way(const Bytes& file, size_t head, const Bytes* from) {
    std::vector<size_t> ours = frame_starts(file);
    size_t next = *std::lower_bound(ours.begin(), ours.end(), head);
    Bytes out = random_bytes(6 * kCluster, 5);
    size_t in = kCluster + next - head;  // where the header must lie
    if (!from) {
        std::copy(file.begin() + static_cast<long>(next), file.begin() + static_cast<long>(next) + 4,
                  out.begin() + static_cast<long>(in));
        return out;
    }
    std::vector<size_t> theirs = frame_starts(*from);
    size_t q = *std::find_if(theirs.begin(), theirs.end(), [&](size_t x) { return x > in + kCluster; });
    std::copy(from->begin() + static_cast<long>(q - in + kCluster), from->begin() + static_cast<long>(q - in + 6 * kCluster),
              out.begin() + static_cast<long>(kCluster));
    return out;
}

TEST(MediaStitch, OnlyProvenContinuationsMakeFilesWhole) {
    if (media_samples().empty()) GTEST_SKIP() << "needs ffmpeg";
    auto sample = [](const char* name) { return [name] { return media_sample(name).data; }; };
    // Frames of the same kind as the samples' (MPEG-2 Layer III, 56 kbit/s, 22050 Hz), of other sound.
    TempDir tmp;
    ASSERT_EQ(sh("ffmpeg -v error -y -f lavfi -i anoisesrc=d=2:c=pink:r=22050 -c:a libmp3lame -b:a 56k -f mp3 " +
                 (tmp / "noise.mp3")),
              0);
    const Bytes noise = read_file(tmp / "noise.mp3");
    auto none = [](Bytes&) {};
    const Case cases[] = {
        {"mp3", sample("tagged.mp3"), random_other, none, false, true},
        {"mp3, another recording of the same kind between", sample("tagged.mp3"),
         [](const Bytes&, size_t) {
             const Bytes& o = media_sample("bare.mp3").data;
             return Bytes(o.begin() + 7 * kCluster, o.begin() + 13 * kCluster);
         },
         none, false, true},
        {"mp3, a lone header where the rest's next frame belongs", sample("tagged.mp3"),
         [](const Bytes& f, size_t head) { return frame_in_the_way(f, head, nullptr); }, none, false, true},
        {"mp3, another recording's frames where the rest's belong", sample("tagged.mp3"),
         [&](const Bytes& f, size_t head) { return frame_in_the_way(f, head, &noise); }, none, true, true},
        {"mp3, another recording's frames where the rest's belong, that file unknown", sample("tagged.mp3"),
         [&](const Bytes& f, size_t head) { return frame_in_the_way(f, head, &noise); }, none, false, false},
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
        bool whole = false, own = false;
        if (st.stream) {
            Bytes got(st.length);
            bool read = st.stream->read(0, got.data(), got.size()) == got.size();
            whole = !st.partial && read && got == file;
            own = st.partial && read && own_head(got, file);
        }
        EXPECT_EQ(whole, c.whole) << c.what;
        EXPECT_TRUE(whole || own || !st.stream) << c.what << ": other bytes put together as the file";
    }
}

}  // namespace
