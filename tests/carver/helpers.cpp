#include "helpers.h"

#include <algorithm>
#include <filesystem>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>

#include <lzma.h>
#include <zlib.h>

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

bool make_fat32_with_deleted(const std::string& img, const std::string& dir, const std::vector<Sample>& deleted,
                             const std::vector<Sample>& kept) {
    if (sh("mkfs.vfat -F 32 -s 1 -C " + img + " 65536") != 0) return false;
    std::string names;
    for (const std::vector<Sample>* group : {&deleted, &kept})
        for (const Sample& s : *group) {
            write_file(dir + "/" + s.name, s.data);
            names += " " + dir + "/" + s.name;
        }
    if (sh("mcopy -i " + img + names + " ::/") != 0) return false;
    for (const Sample& s : deleted)
        if (sh("mdel -i " + img + " ::/" + s.name) != 0) return false;
    return true;
}

std::map<std::string, Bytes> files_below(const std::string& dir) {
    std::map<std::string, Bytes> out;
    for (auto it = std::filesystem::recursive_directory_iterator(dir); it != std::filesystem::recursive_directory_iterator(); ++it) {
        if (it.depth() == 0 && it->path().filename() == ".snapmend") it.disable_recursion_pending();
        else if (it->is_regular_file()) out[std::filesystem::relative(it->path(), dir).string()] = read_file(it->path().string());
    }
    return out;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

struct Recipe {
    const char* name;
    const char* ext;
    const char* args;        // convert arguments before the output name
    const char* coder = "";  // output coder prefix, e.g. "BMP3:"
};

const Recipe kRecipes[] = {
    {"baseline.jpg", "jpg", "-size 640x480 plasma:fractal -seed 3 -quality 85"},
    {"small.jpg", "jpg", "-size 17x9 plasma: -quality 70"},
    {"progressive.jpg", "jpg", "-size 1024x768 plasma: -interlace JPEG -quality 80"},
    {"plain.png", "png", "-size 300x200 plasma:"},
    {"alpha.png", "png", "-size 257x129 plasma: -alpha set -channel A -evaluate set 50% +channel"},
    {"anim.gif", "gif", "-size 64x48 plasma: plasma: -set delay 10 -loop 0"},
    {"old.gif", "gif", "-size 120x90 plasma:", "GIF87:"},
    {"rgb.bmp", "bmp", "-size 131x77 plasma: -type TrueColor"},
    {"palette.bmp", "bmp", "-size 64x63 plasma: -colors 16 -type Palette", "BMP3:"},
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
    if (sh(std::string("convert ") + r.args + " '" + r.coder + path + "'") != 0)
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

// ---- Documents and archives ----
namespace carver_test {
namespace {

void put16(Bytes& b, size_t at, uint16_t v) { b[at] = v & 0xFF; b[at + 1] = v >> 8; }
void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

std::string doc_dir() {
    static TempDir dir;
    return dir.path();
}

// Runs a shell command in a fresh folder below doc_dir() and returns the named output.
Bytes made_by(const std::string& name, const std::string& script) {
    std::string d = doc_dir() + "/" + name + ".d";
    if (sh("rm -rf '" + d + "' && mkdir -p '" + d + "' && cd '" + d + "' && (" + script + ")") != 0)
        throw std::runtime_error("cannot make " + name);
    return read_file(d + "/" + name);
}

// PostScript for a few pages of text and shapes.
std::string postscript(int pages) {
    return "/Helvetica findfont 14 scalefont setfont 1 1 " + std::to_string(pages) +
           " { /p exch def 0 1 29 { /l exch def 72 740 l 20 mul sub moveto (Page ) show "
           "p 10 string cvs show ( line ) show l 10 string cvs show ( of a recovered document) show } for "
           "p 10 div setgray 300 100 150 120 rectfill 0 setgray showpage } for";
}

Bytes pdf_with_update(const Bytes& pdf) {
    std::string s(pdf.begin(), pdf.end());
    size_t sx = s.rfind("startxref");
    unsigned long prev = std::stoul(s.substr(sx + 10));
    std::string obj = "99 0 obj\n<< /Title (Updated) >>\nendobj\n";
    size_t obj_at = s.size();
    size_t xref_at = obj_at + obj.size();
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", obj_at);
    s += obj + "xref\n99 1\n" + entry + "trailer\n<< /Size 100 /Prev " + std::to_string(prev) +
         " >>\nstartxref\n" + std::to_string(xref_at) + "\n%%EOF\n";
    return Bytes(s.begin(), s.end());
}

const char* kZipScripts[][3] = {
    // name, ext, script run in an empty folder
    {"plain.zip", "zip",
     "head -c 30000 /dev/urandom > r.bin && seq 1 4000 > n.txt && mkdir d && seq 5 900 > d/m.txt && "
     "zip -q -r plain.zip r.bin n.txt d"},
    {"comment.zip", "zip", "seq 1 300 > a.txt && zip -q -0 comment.zip a.txt && echo 'a comment' | zip -q -z comment.zip"},
    {"stream.zip", "zip", "seq 1 20000 | zip -q - - > stream.zip"},
    {"zip64.zip", "zip", "seq 1 3000 > a.txt && seq 7 77 > b.txt && zip -q -fz comment.zip a.txt b.txt && mv comment.zip zip64.zip"},
    {"report.docx", "docx",
     "mkdir -p _rels word && echo '<?xml version=\"1.0\"?><Types/>' > '[Content_Types].xml' && "
     "echo '<Relationships/>' > _rels/.rels && seq 1 2000 | sed 's/^/<w:p>/' > word/document.xml && "
     "zip -q -r report.docx '[Content_Types].xml' _rels word"},
    {"sheet.xlsx", "xlsx",
     "mkdir -p _rels xl && echo '<Types/>' > '[Content_Types].xml' && echo '<R/>' > _rels/.rels && "
     "seq 1 900 > xl/workbook.xml && zip -q -r sheet.xlsx '[Content_Types].xml' _rels xl"},
    {"slides.pptx", "pptx",
     "mkdir -p _rels ppt && echo '<Types/>' > '[Content_Types].xml' && echo '<R/>' > _rels/.rels && "
     "seq 1 700 > ppt/presentation.xml && zip -q -r slides.pptx '[Content_Types].xml' _rels ppt"},
    {"letter.odt", "odt",
     "printf application/vnd.oasis.opendocument.text > mimetype && mkdir META-INF && "
     "echo '<manifest/>' > META-INF/manifest.xml && seq 1 1500 > content.xml && "
     "zip -q -X -0 letter.odt mimetype && zip -q -X -r letter.odt content.xml META-INF"},
    {"calc.ods", "ods",
     "printf application/vnd.oasis.opendocument.spreadsheet > mimetype && mkdir META-INF && "
     "echo '<manifest/>' > META-INF/manifest.xml && seq 1 800 > content.xml && "
     "zip -q -X -0 calc.ods mimetype && zip -q -X -r calc.ods content.xml META-INF"},
    {"lib.jar", "jar",
     "mkdir -p META-INF org && printf 'Manifest-Version: 1.0\\n' > META-INF/MANIFEST.MF && "
     "head -c 5000 /dev/urandom > org/Main.class && zip -q -r lib.jar META-INF org"},
    {"app.apk", "apk",
     "mkdir -p META-INF && printf 'Manifest-Version: 1.0\\n' > META-INF/MANIFEST.MF && "
     "head -c 3000 /dev/urandom > AndroidManifest.xml && head -c 9000 /dev/urandom > classes.dex && "
     "zip -q -r app.apk AndroidManifest.xml classes.dex META-INF"},
};

}  // namespace

Bytes ole2_file(const std::vector<std::u16string>& streams, size_t stream_size, uint32_t seed) {
    const size_t ss = 512;
    size_t per_stream = (stream_size + ss - 1) / ss;
    size_t dir_secs = (streams.size() + 1 + 3) / 4;
    size_t nsec = 1 + dir_secs + streams.size() * per_stream;  // FAT, directory, data
    Bytes f(ss * (1 + nsec), 0);
    const uint8_t sig[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(sig, sig + 8, f.begin());
    put16(f, 0x18, 0x3E);
    put16(f, 0x1A, 3);
    put16(f, 0x1C, 0xFFFE);
    put16(f, 0x1E, 9);
    put16(f, 0x20, 6);
    put32(f, 0x2C, 1);           // FAT sectors
    put32(f, 0x30, 1);           // first directory sector
    put32(f, 0x38, 4096);        // mini stream cutoff
    put32(f, 0x3C, 0xFFFFFFFE);  // no mini FAT
    put32(f, 0x44, 0xFFFFFFFE);  // no DIFAT sectors
    for (int i = 0; i < 109; ++i) put32(f, 0x4C + 4 * i, i == 0 ? 0 : 0xFFFFFFFF);
    auto sec = [&](size_t s) { return ss * (s + 1); };
    // FAT: sector 0 itself, the directory chain, one chain per stream, the rest free.
    std::vector<uint32_t> fat(ss / 4, 0xFFFFFFFF);
    if (nsec > fat.size()) throw std::runtime_error("ole2_file: too large for one FAT sector");
    fat[0] = 0xFFFFFFFD;
    for (size_t i = 0; i < dir_secs; ++i) fat[1 + i] = i + 1 < dir_secs ? static_cast<uint32_t>(2 + i) : 0xFFFFFFFE;
    size_t first_data = 1 + dir_secs;
    for (size_t s = 0; s < streams.size(); ++s)
        for (size_t k = 0; k < per_stream; ++k) {
            size_t at = first_data + s * per_stream + k;
            fat[at] = k + 1 < per_stream ? static_cast<uint32_t>(at + 1) : 0xFFFFFFFE;
        }
    for (size_t i = 0; i < fat.size(); ++i) put32(f, sec(0) + 4 * i, fat[i]);
    // Directory: the root, then the streams as a chain of right siblings.
    auto entry = [&](size_t i, const std::u16string& name, uint8_t type, uint32_t child, uint32_t right,
                     uint32_t start, uint32_t size) {
        size_t at = sec(1) + 128 * i;
        for (size_t c = 0; c < name.size(); ++c) put16(f, at + 2 * c, name[c]);
        put16(f, at + 64, static_cast<uint16_t>(2 * (name.size() + 1)));
        f[at + 66] = type;
        f[at + 67] = 1;  // black
        put32(f, at + 68, 0xFFFFFFFF);
        put32(f, at + 72, right);
        put32(f, at + 76, child);
        put32(f, at + 116, start);
        put32(f, at + 120, size);
    };
    entry(0, u"Root Entry", 5, streams.empty() ? 0xFFFFFFFF : 1, 0xFFFFFFFF, 0xFFFFFFFE, 0);
    for (size_t s = 0; s < streams.size(); ++s)
        entry(s + 1, streams[s], 2, 0xFFFFFFFF, s + 1 < streams.size() ? static_cast<uint32_t>(s + 2) : 0xFFFFFFFF,
              static_cast<uint32_t>(first_data + s * per_stream), static_cast<uint32_t>(stream_size));
    for (size_t s = 0; s < streams.size(); ++s) {
        Bytes data = random_bytes(stream_size, seed + static_cast<uint32_t>(s));
        std::copy(data.begin(), data.end(), f.begin() + static_cast<long>(sec(first_data + s * per_stream)));
    }
    return f;
}

namespace {

uint32_t crc32_of(const Bytes& b, size_t from = 0) {
    return static_cast<uint32_t>(::crc32(::crc32(0L, Z_NULL, 0), b.data() + from, static_cast<uInt>(b.size() - from)));
}
void add16(Bytes& b, uint32_t v) { b.push_back(v & 0xFF); b.push_back((v >> 8) & 0xFF); }
void add32(Bytes& b, uint32_t v) { add16(b, v & 0xFFFF); add16(b, v >> 16); }
void add_vint(Bytes& b, uint64_t v) {
    do {
        uint8_t byte = v & 0x7F;
        v >>= 7;
        b.push_back(byte | (v ? 0x80 : 0));
    } while (v);
}

}  // namespace

Bytes rar4_file(const std::vector<std::pair<std::string, Bytes>>& files) {
    Bytes out = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    auto block = [&](Bytes h) {  // h from the type byte on; the CRC goes in front
        Bytes full = {0, 0};
        full.insert(full.end(), h.begin(), h.end());
        uint32_t crc = crc32_of(full, 2);
        full[0] = crc & 0xFF;
        full[1] = (crc >> 8) & 0xFF;
        out.insert(out.end(), full.begin(), full.end());
    };
    Bytes main = {0x73};
    add16(main, 0);
    add16(main, 13);
    add16(main, 0);
    add32(main, 0);
    block(main);
    for (const auto& [name, data] : files) {
        Bytes h = {0x74};
        add16(h, 0x8000);
        add16(h, static_cast<uint32_t>(32 + name.size()));
        add32(h, static_cast<uint32_t>(data.size()));  // packed = unpacked (stored)
        add32(h, static_cast<uint32_t>(data.size()));
        h.push_back(3);  // Unix
        add32(h, crc32_of(data));
        add32(h, 0x5A8C3C21);
        h.push_back(29);
        h.push_back(0x30);  // store
        add16(h, static_cast<uint32_t>(name.size()));
        add32(h, 0x81A4);
        h.insert(h.end(), name.begin(), name.end());
        block(h);
        out.insert(out.end(), data.begin(), data.end());
    }
    Bytes end = {0x7B};
    add16(end, 0x4000);
    add16(end, 7);
    block(end);
    return out;
}

Bytes rar5_file(const std::vector<std::pair<std::string, Bytes>>& files) {
    Bytes out = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
    auto block = [&](const Bytes& h) {
        Bytes sized;
        add_vint(sized, h.size());
        sized.insert(sized.end(), h.begin(), h.end());
        add32(out, crc32_of(sized));
        out.insert(out.end(), sized.begin(), sized.end());
    };
    block({1, 0, 0});  // main header: no flags
    for (const auto& [name, data] : files) {
        Bytes h;
        add_vint(h, 2);            // file header
        add_vint(h, 2);            // a data area follows
        add_vint(h, data.size());  // its size
        add_vint(h, 4);            // file flags: CRC32 present
        add_vint(h, data.size());  // unpacked size
        add_vint(h, 0x1A4);        // attributes
        add32(h, crc32_of(data));
        add_vint(h, 0);  // stored, version 0
        add_vint(h, 1);  // Unix
        add_vint(h, name.size());
        h.insert(h.end(), name.begin(), name.end());
        block(h);
        out.insert(out.end(), data.begin(), data.end());
    }
    block({5, 0, 0});  // end of archive
    return out;
}

Bytes swf_file(char kind, uint32_t seed) {
    Bytes body;  // after the 8-byte header
    body.push_back(0x78);  // RECT: 15-bit fields, 9 bytes in all
    for (int i = 0; i < 8; ++i) body.push_back(static_cast<uint8_t>(i * 37));
    add16(body, 0x1800);  // 24 frames per second
    add16(body, 2);
    add16(body, 9 << 6 | 3);  // SetBackgroundColor
    body.insert(body.end(), {0x10, 0x20, 0x30});
    Bytes blob = random_bytes(6000, seed);
    add16(body, 87 << 6 | 0x3F);  // DefineBinaryData, long form
    add32(body, static_cast<uint32_t>(blob.size()));
    body.insert(body.end(), blob.begin(), blob.end());
    add16(body, 1 << 6);  // ShowFrame
    add16(body, 1 << 6);
    add16(body, 0);  // End
    Bytes out = {static_cast<uint8_t>(kind), 'W', 'S', 10};
    add32(out, static_cast<uint32_t>(8 + body.size()));
    if (kind == 'F') {
        out.insert(out.end(), body.begin(), body.end());
    } else if (kind == 'C') {
        uLongf n = compressBound(body.size());
        Bytes z(n);
        if (compress2(z.data(), &n, body.data(), body.size(), 9) != Z_OK) throw std::runtime_error("compress2");
        out.insert(out.end(), z.begin(), z.begin() + static_cast<long>(n));
    } else {
        lzma_options_lzma opt;
        lzma_lzma_preset(&opt, 6);
        opt.dict_size = 1u << 16;
        lzma_stream s = LZMA_STREAM_INIT;
        if (lzma_alone_encoder(&s, &opt) != LZMA_OK) throw std::runtime_error("lzma");
        Bytes z(body.size() + 1024);
        s.next_in = body.data();
        s.avail_in = body.size();
        s.next_out = z.data();
        s.avail_out = z.size();
        lzma_ret rc = lzma_code(&s, LZMA_FINISH);
        size_t n = z.size() - s.avail_out;
        lzma_end(&s);
        if (rc != LZMA_STREAM_END) throw std::runtime_error("lzma");
        // .lzma: 5 property bytes, 8-byte size, data. ZWS keeps the properties only.
        add32(out, static_cast<uint32_t>(n - 13));
        out.insert(out.end(), z.begin(), z.begin() + 5);
        out.insert(out.end(), z.begin() + 13, z.begin() + static_cast<long>(n));
    }
    return out;
}

Bytes pst_file(bool unicode, uint32_t seed) {
    const uint64_t amap = 0x4400 + (unicode ? 0x3E000 : 0);
    const uint64_t size = amap + 0x1000;
    Bytes f = random_bytes(size, seed);
    std::fill(f.begin(), f.begin() + 512, 0);
    const char magic[] = "!BDN";
    std::copy(magic, magic + 4, f.begin());
    f[8] = 'S';
    f[9] = 'M';
    put16(f, 10, unicode ? 23 : 14);
    put16(f, 12, 19);
    f[14] = f[15] = 1;
    if (unicode) {
        put32(f, 0xB8, static_cast<uint32_t>(size));
        put32(f, 0xC0, static_cast<uint32_t>(amap));
        f[0xF8] = 2;
    } else {
        put32(f, 0xA8, static_cast<uint32_t>(size));
        put32(f, 0xAC, static_cast<uint32_t>(amap));
        f[0xC8] = 1;
    }
    // Allocation map pages every 0x3E000 bytes from 0x4400, each with its page trailer.
    for (uint64_t page = 0x4400; page <= amap; page += 0x3E000) {
        size_t t = page + (unicode ? 496 : 500);
        f[t] = f[t + 1] = 0x84;
        f[t + 2] = f[t + 3] = 0;
    }
    return f;
}

namespace {

struct TiffOut {
    bool be = false;
    Bytes b;
    void u16(uint32_t v) {
        if (be) b.insert(b.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
        else add16(b, v);
    }
    void u32(uint32_t v) {
        if (be) { u16(v >> 16); u16(v & 0xFFFF); }
        else add32(b, v);
    }
    uint32_t blob(const Bytes& d) {
        if (b.size() & 1) b.push_back(0);
        uint32_t at = static_cast<uint32_t>(b.size());
        b.insert(b.end(), d.begin(), d.end());
        return at;
    }
    // Entries: tag, type, count, value (inline SHORTs are written as SHORTs).
    uint32_t ifd(const std::vector<std::array<uint32_t, 4>>& es, uint32_t next = 0) {
        if (b.size() & 1) b.push_back(0);
        uint32_t at = static_cast<uint32_t>(b.size());
        u16(static_cast<uint32_t>(es.size()));
        for (const auto& e : es) {
            u16(e[0]);
            u16(e[1]);
            u32(e[2]);
            if (e[1] == 3 && e[2] == 1) { u16(e[3]); u16(0); }
            else if (e[1] == 1 && e[2] <= 4) { u32(be ? e[3] : __builtin_bswap32(e[3])); }  // bytes in order
            else u32(e[3]);
        }
        u32(next);
        return at;
    }
};

Bytes raf_file(uint32_t seed) {
    Bytes f(108, 0);
    std::string head = "FUJIFILMCCD-RAW 0201FF383501";
    std::copy(head.begin(), head.end(), f.begin());
    auto be32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) f[at + i] = (v >> (24 - 8 * i)) & 0xFF; };
    Bytes jpeg = random_bytes(2000, seed);
    jpeg[0] = 0xFF;
    jpeg[1] = 0xD8;
    Bytes cfa_header = random_bytes(300, seed + 1), cfa = random_bytes(20000, seed + 2);
    f.resize(160, 0);
    be32(84, 160); be32(88, 2000);
    be32(92, 2160); be32(96, 300);
    be32(100, 2460); be32(104, 20000);
    f.insert(f.end(), jpeg.begin(), jpeg.end());
    f.insert(f.end(), cfa_header.begin(), cfa_header.end());
    f.insert(f.end(), cfa.begin(), cfa.end());
    return f;
}

}  // namespace

Bytes camera_raw_file(const std::string& kind, uint32_t seed) {
    if (kind == "raf") return raf_file(seed);
    if (kind == "crw") {  // header, then the root heap: raw data, a JPEG, the table, its offset
        Bytes f = {'I', 'I'};
        add32(f, 26);
        for (char c : std::string("HEAPCCDR")) f.push_back(static_cast<uint8_t>(c));
        add32(f, 0x00010002);
        f.resize(26, 0);
        Bytes raw = random_bytes(20000, seed), jpeg = random_bytes(3000, seed + 1);
        f.insert(f.end(), raw.begin(), raw.end());
        f.insert(f.end(), jpeg.begin(), jpeg.end());
        add16(f, 3);
        add16(f, 0x2005); add32(f, 20000); add32(f, 0);
        add16(f, 0x2007); add32(f, 3000); add32(f, 20000);
        add16(f, 0x5029); add32(f, 0x00320032); add32(f, 0);  // focal length, stored in the record
        add32(f, 23000);
        return f;
    }
    static const std::map<std::string, std::string> kMake = {
        {"nef", "NIKON CORPORATION"}, {"cr2", "Canon"}, {"arw", "SONY"}, {"dng", "Leica Camera AG"},
        {"orf", "OLYMPUS IMAGING CORP.  "}, {"rw2", "Panasonic"}, {"pef", "PENTAX Corporation"}};
    const Bytes preview_data = random_bytes(7000, seed + 9);
    uint32_t preview_at = 0;
    Bytes out;
    for (int pass = 0; pass < 2; ++pass) {  // the second pass knows where the preview lands
        TiffOut t;
        t.be = kind == "nef" || kind == "pef";
        uint16_t magic = kind == "orf" ? 0x4F52 : kind == "rw2" ? 0x55 : 42;
        t.b = {static_cast<uint8_t>(t.be ? 'M' : 'I'), static_cast<uint8_t>(t.be ? 'M' : 'I')};
        t.u16(magic);
        t.u32(0);  // IFD0, patched below
        if (kind == "cr2") t.b.insert(t.b.end(), {'C', 'R', 2, 0, 0, 0, 0, 0});
        std::string make = kMake.at(kind);
        uint32_t make_at = t.blob(Bytes(make.c_str(), make.c_str() + make.size() + 1));
        uint32_t thumb = t.blob(random_bytes(1200, seed));
        uint32_t raw = t.blob(random_bytes(30000, seed + 1));
        uint32_t raw_ifd = t.ifd({{254, 4, 1, 0}, {256, 3, 1, 160}, {257, 3, 1, 120}, {273, 4, 1, raw},
                                  {279, 4, 1, 30000}});
        // The maker note: a preview only it reaches.
        TiffOut mn;
        mn.be = t.be;
        if (t.b.size() & 1) t.b.push_back(0);
        uint32_t mo = static_cast<uint32_t>(t.b.size());
        uint32_t len = static_cast<uint32_t>(preview_data.size());
        if (kind == "nef") {  // "Nikon", version, own TIFF header; offsets from that header
            mn.b = {'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0, 'M', 'M', 0, 42};
            mn.u32(8);
            uint32_t base = mo + 10;
            mn.ifd({{0x0011, 4, 1, 8 + 18}});  // preview IFD right after this one
            mn.ifd({{0x0201, 4, 1, preview_at - base}, {0x0202, 4, 1, len}});
        } else if (kind == "pef") {
            mn.b = {'A', 'O', 'C', 0, 'M', 'M'};
            mn.ifd({{0x0003, 4, 1, len}, {0x0004, 4, 1, preview_at}});
        } else if (kind == "orf") {  // offsets from the note's start
            mn.b = {'O', 'L', 'Y', 'M', 'P', 'U', 'S', 0, 'I', 'I', 3, 0};
            mn.ifd({{0x0100, 7, len, preview_at - mo}});
        } else if (kind == "arw" || kind == "rw2") {
            std::string h = kind == "arw" ? std::string("SONY DSC \0\0\0", 12) : std::string("Panasonic\0\0\0", 12);
            mn.b.assign(h.begin(), h.end());
            mn.ifd({{0x2001, 7, len, preview_at}});
        } else if (kind == "cr2") {
            mn.ifd({{0x0001, 3, 1, 5}, {0x00B6, 7, len, preview_at}});
        }
        std::vector<std::array<uint32_t, 4>> exif_entries = {{33434, 5, 1, make_at}};  // any rational
        if (!mn.b.empty()) {
            t.blob(mn.b);
            exif_entries.push_back({37500, 7, static_cast<uint32_t>(mn.b.size()), mo});
        }
        uint32_t exif = t.ifd(exif_entries);
        std::vector<std::array<uint32_t, 4>> e0 = {
            {254, 4, 1, 1}, {256, 3, 1, 32}, {257, 3, 1, 24}, {271, 2, static_cast<uint32_t>(make.size() + 1), make_at},
            {273, 4, 1, thumb}, {279, 4, 1, 1200}, {330, 4, 1, raw_ifd}};
        if (kind == "dng") {
            e0.push_back({513, 4, 1, preview_at});
            e0.push_back({514, 4, 1, len});
        }
        e0.push_back({34665, 4, 1, exif});
        if (kind == "dng") e0.push_back({50706, 1, 4, 0x01040000});
        uint32_t ifd0 = t.ifd(e0);
        preview_at = t.blob(preview_data);
        TiffOut hdr;
        hdr.be = t.be;
        hdr.u32(ifd0);
        std::copy(hdr.b.begin(), hdr.b.end(), t.b.begin() + 4);
        out = t.b;
    }
    return out;
}

Bytes text_file(size_t size, uint32_t seed) {
    static const char* kWords[] = {"disk", "photo", "recovered", "the", "of", "and", "holiday", "März",
                                   "café", "report", "2026", "number", "file", "list", "über", "a"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) {
        std::string line;
        for (int w = 0, n = 3 + static_cast<int>(rng() % 9); w < n; ++w)
            line += std::string(w ? " " : "") + kWords[rng() % 16];
        s += line + ".\n";
    }
    return Bytes(s.begin(), s.end());
}

const std::vector<Sample>& document_samples() {
    static std::vector<Sample> set;
    static bool made = false;
    if (made) return set;
    made = true;
    if (have_tool("gs")) {
        std::string gs = "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite ";
        Bytes one = made_by("one.pdf", gs + "-sOutputFile=one.pdf -c '" + postscript(1) + "'");
        set.push_back({"one.pdf", "pdf", one});
        set.push_back({"pages.pdf", "pdf", made_by("pages.pdf", gs + "-sOutputFile=pages.pdf -c '" + postscript(6) + "'")});
        set.push_back({"linear.pdf", "pdf",
                       made_by("linear.pdf", gs + "-dFastWebView=true -sOutputFile=linear.pdf -c '" + postscript(3) + "'")});
        set.push_back({"updated.pdf", "pdf", pdf_with_update(one)});
    }
    if (have_tool("zip"))
        for (const auto& z : kZipScripts) set.push_back({z[0], z[1], made_by(z[0], z[2])});
    set.push_back({"word.doc", "doc", ole2_file({u"WordDocument", u"1Table", u"\x05SummaryInformation"}, 5000, 1)});
    set.push_back({"book.xls", "xls", ole2_file({u"Workbook"}, 9000, 2)});
    set.push_back({"show.ppt", "ppt", ole2_file({u"PowerPoint Document", u"Current User"}, 4096, 3)});
    set.push_back({"other.doc", "doc", ole2_file({u"Contents", u"A", u"B", u"C", u"D"}, 4200, 4)});
    set.push_back({"old.rar", "rar", rar4_file({{"a.txt", text_file(4000, 5)}, {"b.bin", random_bytes(9000, 6)}})});
    set.push_back({"new.rar", "rar", rar5_file({{"photo.bin", random_bytes(12000, 7)}, {"c.txt", text_file(800, 8)}})});
    set.push_back({"plain.swf", "swf", swf_file('F', 1)});
    set.push_back({"zlib.swf", "swf", swf_file('C', 2)});
    set.push_back({"lzma.swf", "swf", swf_file('Z', 3)});
    set.push_back({"ansi.pst", "pst", pst_file(false, 4)});
    set.push_back({"unicode.pst", "pst", pst_file(true, 5)});
    for (const char* raw : {"nef", "cr2", "arw", "dng", "orf", "rw2", "pef", "raf", "crw"})
        set.push_back({std::string("camera.") + raw, raw, camera_raw_file(raw, 11)});
    set.push_back({"notes.txt", "txt", text_file(3000, 1)});
    set.push_back({"long.txt", "txt", text_file(200000, 2)});
    return set;
}

const Sample& document_sample(const std::string& name) {
    for (const Sample& s : document_samples())
        if (s.name == name) return s;
    throw std::runtime_error("no document sample " + name);
}

}  // namespace carver_test
