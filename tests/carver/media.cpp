#include "media.h"

#include <stdexcept>

namespace carver_test {
namespace {

struct MediaRecipe {
    const char* name;
    const char* ext;  // extension the engine gives it
    const char* cmd;  // shell command; %o is the output path
};

#define AV "ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=25 " \
           "-f lavfi -i sine=f=440:sample_rate=22050 -t 2 "
#define AUDIO "ffmpeg -v error -y -f lavfi -i sine=f=440:sample_rate=22050 -t 2 "

const MediaRecipe kMedia[] = {
    {"clip.avi", "avi", AV "-c:v mpeg4 -c:a pcm_s16le -f avi %o"},
    {"tone.wav", "wav", AUDIO "-c:a pcm_s16le -f wav %o"},
    {"odd.wav", "wav",
     "ffmpeg -v error -y -f lavfi -i sine=f=300:sample_rate=8000 -af atrim=end_sample=1001 "
     "-c:a pcm_u8 -f wav %o"},
    {"mpeg1.mpg", "mpg", AV "-c:v mpeg1video -c:a mp2 -f mpeg %o"},
    {"mpeg2.mpg", "mpg", AV "-c:v mpeg2video -c:a mp2 -f vob %o"},
    {"clip.wmv", "wmv", AV "-c:v wmv2 -c:a wmav2 -f asf %o"},
    {"tone.asf", "asf", AUDIO "-c:a wmav2 -f asf %o"},
    {"tagged.mp3", "mp3", AUDIO "-c:a libmp3lame -write_id3v1 1 -metadata title=Tone -f mp3 %o"},
    {"bare.mp3", "mp3", AUDIO "-c:a libmp3lame -id3v2_version 0 -f mp3 %o"},
    {"h264.mp4", "mp4", AV "-c:v libx264 -preset ultrafast -c:a aac -f mp4 %o"},
    {"faststart.mp4", "mp4", AV "-c:v mpeg4 -c:a aac -movflags +faststart -f mp4 %o"},
    {"clip.mov", "mov", AV "-c:v mpeg4 -c:a aac -f mov %o"},
    {"clip.3gp", "3gp",
     "ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=10 -f lavfi -i sine=sample_rate=8000 "
     "-t 2 -c:v h263 -c:a aac -ac 1 -f 3gp %o"},
    {"clip.rm", "rm", AV "-c:v rv10 -c:a real_144 -ar 8000 -ac 1 -f rm %o"},
    {"still.webp", "webp", "convert -size 200x150 plasma: webp:%o"},
    {"still.heic", "heic", "convert -size 64x48 plasma: heic:%o"},
    {"still.avif", "avif", "convert -size 64x48 plasma: avif:%o"},
};

std::string media_dir() {
    static TempDir dir;
    return dir.path();
}

}  // namespace

Bytes cdxa_wrap(const Bytes& mpeg) {
    constexpr size_t kData = 2324, kRaw = 2352;
    size_t sectors = (mpeg.size() + kData - 1) / kData;
    Bytes data;
    for (size_t s = 0; s < sectors; ++s) {
        Bytes sec(kRaw, 0);
        for (int i = 1; i <= 10; ++i) sec[i] = 0xFF;  // sync 00 FF*10 00
        size_t lba = s + 150;                         // header: BCD minute, second, frame, mode 2
        auto bcd = [](size_t v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); };
        sec[12] = bcd(lba / 75 / 60);
        sec[13] = bcd(lba / 75 % 60);
        sec[14] = bcd(lba % 75);
        sec[15] = 2;
        for (int copy = 0; copy < 2; ++copy) {  // subheader: file, channel, submode (form 2), coding
            sec[16 + copy * 4] = 1;
            sec[18 + copy * 4] = 0x20 | 0x02;
        }
        size_t take = std::min(kData, mpeg.size() - s * kData);
        std::copy(mpeg.begin() + static_cast<long>(s * kData),
                  mpeg.begin() + static_cast<long>(s * kData + take), sec.begin() + 24);
        data.insert(data.end(), sec.begin(), sec.end());
    }
    Bytes out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'C', 'D', 'X', 'A', 'f', 'm', 't', ' ', 16, 0, 0, 0};
    Bytes fmt = {0, 0, 0, 0, 0x15, 0x55, 'X', 'A', 1, 0, 0, 0, 0, 0, 0, 0};
    out.insert(out.end(), fmt.begin(), fmt.end());
    auto le32 = [&](size_t at, size_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    Bytes head = {'d', 'a', 't', 'a', 0, 0, 0, 0};
    out.insert(out.end(), head.begin(), head.end());
    le32(out.size() - 4, data.size());
    out.insert(out.end(), data.begin(), data.end());
    le32(4, out.size() - 8);
    return out;
}

const std::vector<Sample>& media_samples() {
    static std::vector<Sample> set;
    static bool made = false;
    if (made) return set;
    made = true;
    if (!have_tool("ffmpeg")) return set;
    for (const MediaRecipe& r : kMedia) {
        std::string path = media_dir() + "/" + r.name;
        std::string cmd = r.cmd;
        cmd.replace(cmd.find("%o"), 2, "'" + path + "'");
        if (sh(cmd) != 0) {
            if (std::string(r.cmd).rfind("ffmpeg", 0) == 0 && std::string(r.ext) != "rm")
                throw std::runtime_error(std::string("cannot make ") + r.name);
            continue;  // an optional encoder (libheif, RealMedia) is missing
        }
        set.push_back(Sample{r.name, r.ext, read_file(path)});
    }
    std::string vcd = media_dir() + "/vcd.mpg";
    if (sh("ffmpeg -v error -y -f lavfi -i testsrc=size=352x288:rate=25 -f lavfi -i sine "
           "-t 2 -target pal-vcd '" + vcd + "'") == 0)
        set.push_back(Sample{"avseq01.dat", "dat", cdxa_wrap(read_file(vcd))});
    return set;
}

const Sample& media_sample(const std::string& name) {
    for (const Sample& s : media_samples())
        if (s.name == name) return s;
    throw std::runtime_error("no media sample " + name);
}

}  // namespace carver_test
