#include "helpers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace carver_test {

TempDir::TempDir() {
    char tmpl[] = "/tmp/carver-test-XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() { sh("rm -rf '" + path_ + "'"); }

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (size_t i = 0; i < n; i += 4) {
        uint32_t v = rng();
        std::memcpy(&b[i], &v, std::min<size_t>(4, n - i));
    }
    return b;
}

int sh(const std::string& cmd) {
    int st = std::system((cmd + " >/dev/null 2>&1").c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool have_tool(const std::string& name) { return sh("command -v " + name) == 0; }

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

struct Recipe {
    const char* name;
    const char* ext;
    const char* args;  // convert arguments before the output name
};

const Recipe kRecipes[] = {
    {"baseline.jpg", "jpg", "-size 640x480 plasma:fractal -seed 3 -quality 85"},
    {"small.jpg", "jpg", "-size 17x9 plasma: -quality 70"},
    {"progressive.jpg", "jpg", "-size 1024x768 plasma: -interlace JPEG -quality 80"},
    {"plain.png", "png", "-size 300x200 plasma:"},
    {"alpha.png", "png", "-size 257x129 plasma: -alpha set -channel A -evaluate set 50% +channel"},
    {"anim.gif", "gif", "-size 64x48 plasma: plasma: -set delay 10 -loop 0"},
    {"old.gif", "gif", "-size 120x90 plasma: -define gif:version=87a"},
    {"rgb.bmp", "bmp", "-size 131x77 plasma: -type TrueColor"},
    {"palette.bmp", "bmp", "-size 64x63 plasma: -colors 16 -type Palette BMP3:"},
    {"le.tif", "tif", "-size 321x123 plasma: -define tiff:endian=lsb"},
    {"be.tif", "tif", "-size 300x200 plasma: -define tiff:endian=msb"},
    {"lzw-tiles.tif", "tif", "-size 256x200 plasma: -compress lzw -define tiff:tile-geometry=64x64"},
};

std::string sample_dir() {
    static TempDir dir;
    return dir.path();
}

Sample make(const Recipe& r) {
    std::string path = sample_dir() + "/" + r.name;
    std::string args = r.args;
    std::string prefix;
    if (args.size() > 5 && args.compare(args.size() - 5, 5, "BMP3:") == 0) {
        args.resize(args.size() - 5);
        prefix = "BMP3:";
    }
    if (std::string(r.name) == "old.gif") prefix = "GIF87:";
    if (sh("convert " + args + " '" + prefix + path + "'") != 0)
        throw std::runtime_error(std::string("convert failed for ") + r.name);
    return Sample{r.name, r.ext, read_file(path)};
}

}  // namespace

const std::vector<Sample>& samples(bool large) {
    static std::vector<Sample> small_set, large_set;
    if (!have_tool("convert")) return small_set;
    if (small_set.empty())
        for (const Recipe& r : kRecipes) small_set.push_back(make(r));
    if (!large) return small_set;
    if (large_set.empty()) {
        large_set = small_set;
        large_set.push_back(make({"24mp.jpg", "jpg",
                                  "-size 6000x4000 gradient:navy-orange -seed 7 -attenuate 0.5 "
                                  "+noise Gaussian -quality 85"}));
        large_set.push_back(make({"big.png", "png", "-size 1500x1000 plasma: -seed 2"}));
    }
    return large_set;
}

const Sample& sample(const std::string& name) {
    for (const Sample& s : samples())
        if (s.name == name) return s;
    throw std::runtime_error("no sample " + name);
}

Bytes jpeg_with_exif_thumbnail() {
    const Bytes& thumb = sample("small.jpg").data;
    const Bytes& main = sample("baseline.jpg").data;
    // APP1: "Exif\0\0", little-endian TIFF header, IFD0 (no entries) -> IFD1 with
    // JPEGInterchangeFormat / Length pointing at the thumbnail.
    Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto le16 = [&](uint16_t v) { tiff.push_back(v & 0xFF); tiff.push_back(v >> 8); };
    auto le32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) tiff.push_back((v >> (8 * i)) & 0xFF); };
    le16(0);
    le32(14);  // IFD0 has no entries; next IFD (IFD1) at 14
    le16(2);
    size_t pad_at = tiff.size() + 2 * 12 + 4;
    // Place the thumbnail so that it starts at file offset 1024: SOI(2) + APP1 marker
    // and length (4) + "Exif\0\0" (6) + TIFF offset.
    size_t thumb_off = 1024 - 12;
    le16(0x0201); le16(4); le32(1); le32(static_cast<uint32_t>(thumb_off));
    le16(0x0202); le16(4); le32(1); le32(static_cast<uint32_t>(thumb.size()));
    le32(0);
    tiff.resize(std::max(pad_at, thumb_off), 0);
    tiff.insert(tiff.end(), thumb.begin(), thumb.end());
    Bytes app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), tiff.begin(), tiff.end());
    size_t seglen = app1.size() + 2;
    Bytes out = {0xFF, 0xD8, 0xFF, 0xE1, static_cast<uint8_t>(seglen >> 8), static_cast<uint8_t>(seglen)};
    out.insert(out.end(), app1.begin(), app1.end());
    out.insert(out.end(), main.begin() + 2, main.end());  // the main image without its SOI
    return out;
}

size_t append_aligned(Bytes& image, const Bytes& data, uint8_t fill) {
    image.resize((image.size() + 511) / 512 * 512, fill);
    size_t at = image.size();
    image.insert(image.end(), data.begin(), data.end());
    return at;
}

std::string photo_path() {
    const char* b = std::getenv("SNAPMEND_BUILD_DIR");
    return std::string(b ? b : ".") + "/engine/kestrova/photo";
}

RunResult run_photo(const std::vector<std::string>& args, const std::string& exe) {
    TempDir errdir;
    std::string errpath = errdir / "stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, errpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    RunResult r;
    if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ) == 0) {
        int st = 0;
        ::waitpid(pid, &st, 0);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    posix_spawn_file_actions_destroy(&fa);
    Bytes e = read_file(errpath);
    r.err.assign(e.begin(), e.end());
    return r;
}

std::string junk_in(const std::string& dir, const std::vector<Bytes>& originals) {
    std::string bad;
    for (const auto& name : list_dir(dir)) {
        Bytes got = read_file(dir + "/" + name);
        if (std::find(originals.begin(), originals.end(), got) == originals.end())
            bad += name + " (" + std::to_string(got.size()) + " bytes) ";
    }
    return bad;
}

std::string missing_in(const std::string& dir, const std::vector<Sample>& originals) {
    std::vector<Bytes> carved;
    std::vector<std::string> names = list_dir(dir);
    for (const auto& name : names) carved.push_back(read_file(dir + "/" + name));
    std::string missing;
    for (const Sample& s : originals) {
        bool found = false;
        for (size_t i = 0; i < carved.size() && !found; ++i) {
            const std::string& n = names[i];
            found = carved[i] == s.data && n.size() > s.ext.size() &&
                    n.compare(n.size() - s.ext.size(), s.ext.size(), s.ext) == 0;
        }
        if (!found) missing += s.name + " ";
    }
    return missing;
}

}  // namespace carver_test
