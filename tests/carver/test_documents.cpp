// Document and archive parsers on byte buffers: true ends, names from the
// contents, rejection of damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "core/format.h"
#include "helpers.h"

using namespace carver;
using namespace carver_test;

namespace {

constexpr uint64_t kMax = 64ull << 20;

// Which parser a sample belongs to (the command-line key).
std::string key_of(const Sample& s) {
    static const char* kZipKinds[] = {"zip", "docx", "xlsx", "pptx", "odt", "ods", "jar", "apk"};
    for (const char* k : kZipKinds)
        if (s.ext == k) return "zip";
    if (s.ext == "xls" || s.ext == "ppt") return "doc";
    for (const char* k : {"nef", "cr2", "arw", "dng", "orf", "rw2", "pef", "raf", "crw"})
        if (s.ext == k) return "raw";
    return s.ext;
}

// As the scanner does: every parser of the key whose signature opens the data, in order.
Carve carve(std::string_view key, const Bytes& data, uint64_t max = kMax) {
    for (const Format* f : all_formats()) {
        if (f->key != key) continue;
        bool signed_ok = false;
        for (auto sig : f->signatures)
            signed_ok |= data.size() >= sig.size() && std::memcmp(sig.data(), data.data(), sig.size()) == 0;
        if (!signed_ok || (f->check && !f->check(data.data(), data.size()))) continue;
        BufferSource src(data.data(), data.size());
        Carve c = f->walk(src, max);
        if (c.length) return c;
    }
    return {};
}

std::string ext_of(const Carve& c, const std::string& key) { return c.ext ? c.ext : key; }

TEST(DocumentParsers, FindTrueEndAndNameFollowedByJunkZerosOrAnotherFile) {
    ASSERT_FALSE(document_samples().empty());
    for (const Sample& s : document_samples()) {
        SCOPED_TRACE(s.name);
        std::string key = key_of(s);
        Carve whole = carve(key, s.data);
        EXPECT_EQ(whole.length, s.data.size());
        EXPECT_EQ(ext_of(whole, key), s.ext);

        Bytes junk = s.data;
        Bytes tail = random_bytes(70000, 5);
        junk.insert(junk.end(), tail.begin(), tail.end());
        EXPECT_EQ(carve(key, junk).length, s.data.size());

        Bytes zeros = s.data;
        zeros.resize(zeros.size() + 4096, 0);
        EXPECT_EQ(carve(key, zeros).length, s.data.size());

        for (const Sample& other : document_samples()) {
            if (s.ext == "txt") break;  // text runs on into a PDF's header line or a text file
            Bytes two = s.data;
            two.insert(two.end(), other.data.begin(), other.data.end());  // not even sector-aligned
            EXPECT_EQ(carve(key, two).length, s.data.size()) << "followed by " << other.name;
        }
    }
}

TEST(DocumentParsers, RejectTruncatedFilesAndFilesOverTheMaximum) {
    for (const Sample& s : document_samples()) {
        // Any cut of text is text; a cut update leaves the file before it (tested below).
        if (s.ext == "txt" || s.name == "updated.pdf") continue;
        SCOPED_TRACE(s.name);
        std::string key = key_of(s);
        for (size_t cut : {s.data.size() - 8, s.data.size() / 2, size_t{600}}) {  // 8: into "%%EOF"
            if (cut >= s.data.size()) continue;
            Bytes part(s.data.begin(), s.data.begin() + static_cast<long>(cut));
            EXPECT_EQ(carve(key, part).length, 0u) << "cut at " << cut;
        }
        EXPECT_EQ(carve(key, s.data, s.data.size() - 8).length, 0u);
        EXPECT_EQ(carve(key, s.data, s.data.size()).length, s.data.size());
    }
}

TEST(DocumentParsers, PdfIncrementalUpdateBelongsToTheFileButAForeignEndMarkerDoesNot) {
    if (!have_tool("gs")) GTEST_SKIP() << "Ghostscript missing";
    const Bytes& one = document_sample("one.pdf").data;
    const Bytes& updated = document_sample("updated.pdf").data;
    ASSERT_GT(updated.size(), one.size());
    // A truncated update: the file ends at its first end marker.
    Bytes cut(updated.begin(), updated.end() - 20);
    EXPECT_EQ(carve("pdf", cut).length, one.size());
    // Text with an end marker but no startxref of this file.
    Bytes foreign = one;
    std::string tail = "1 0 obj\n(junk)\nendobj\nstartxref\n999999\n%%EOF\n";
    foreign.insert(foreign.end(), tail.begin(), tail.end());
    EXPECT_EQ(carve("pdf", foreign).length, one.size());
    // The only end marker damaged: nothing.
    Bytes bad = one;
    bad[bad.size() - 3] = 'X';
    EXPECT_EQ(carve("pdf", bad).length, 0u);
}

TEST(DocumentParsers, ZipRejectsDirectoryThatDisagreesWithTheEntries) {
    if (!have_tool("zip")) GTEST_SKIP() << "zip missing";
    const Bytes& z = document_sample("plain.zip").data;
    size_t end = z.size() - 22;
    ASSERT_EQ(rd_le32(&z[end]), 0x06054b50u);
    struct Case { const char* what; size_t at; } cases[] = {
        {"entry count", end + 10}, {"directory size", end + 12}, {"directory offset", end + 16},
        {"first entry's compressed size", 18},
    };
    for (const Case& c : cases) {
        Bytes b = z;
        b[c.at] ^= 0x01;
        EXPECT_EQ(carve("zip", b).length, 0u) << c.what;
    }
}

TEST(DocumentParsers, Ole2RejectsBrokenAllocationAndDirectory) {
    Bytes f = ole2_file({u"WordDocument"}, 4096, 9);
    ASSERT_EQ(carve("doc", f).length, f.size());
    struct Case { const char* what; size_t at; uint8_t value; } cases[] = {
        {"FAT entry beyond the table", 512 + 4 * 3 + 3, 0x7F},
        {"FAT sector not marked", 512, 0x00},
        {"root entry name", 1024, 'X'},
        {"byte order", 0x1C, 0xFF},
        {"sector size", 0x1E, 10},
    };
    for (const Case& c : cases) {
        Bytes b = f;
        b[c.at] = c.value;
        EXPECT_EQ(carve("doc", b).length, 0u) << c.what;
    }
}

TEST(DocumentParsers, TextRunsAndWhatIsNotText) {
    Bytes text = text_file(2000, 3);
    auto with = [&](Bytes tail) {
        Bytes b = text;
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    };
    Bytes fat_dir(512, 0);  // a FAT directory sector: 8.3 names, attributes, binary fields
    const char* names[] = {"PHOTOS     ", "README  TXT", "DCIM       "};
    for (int i = 0; i < 3; ++i) {
        std::memcpy(&fat_dir[32 * i], names[i], 11);
        fat_dir[32 * i + 11] = 0x10;
        fat_dir[32 * i + 26] = static_cast<uint8_t>(3 + i);
    }
    Bytes cut_char = text;
    cut_char.push_back(0xC3);  // an incomplete UTF-8 sequence, then binary
    cut_char.push_back(0x01);
    struct Case { const char* what; Bytes data; uint64_t want; } cases[] = {
        {"text then zeros", with(Bytes(3000, 0)), text.size()},
        {"text at the device end", text, text.size()},
        {"text then binary ends at the last line break", with({'a', 'b', 'c', 0x01, 0x02}), text.size()},
        {"incomplete character ends the run", cut_char, text.size()},
        {"too short", Bytes(text.begin(), text.begin() + 100), 0},
        {"one repeated letter", Bytes(5000, 'x'), 0},
        {"random data", random_bytes(8192, 4), 0},
        {"file-system metadata", fat_dir, 0},
        {"UTF-16 text", Bytes{'h', 0, 'e', 0, 'l', 0, 'l', 0, 'o', 0}, 0},
    };
    for (const Case& c : cases) {
        uint64_t got = c.data.empty() ? 0 : carve("txt", c.data).length;
        EXPECT_EQ(got, c.want) << c.what;
    }
    // Overlong and surrogate encodings are not text.
    for (Bytes bad : {Bytes{0xC0, 0xAF}, Bytes{0xED, 0xA0, 0x80}, Bytes{0xF5, 0x80, 0x80, 0x80}}) {
        Bytes b = with(bad);
        b.push_back('z');
        EXPECT_EQ(carve("txt", b).length, text.size());
    }
}

}  // namespace

namespace {

TEST(DocumentParsers, ArchivesAndContainersRejectDamage) {
    Bytes rar4 = rar4_file({{"a", random_bytes(3000, 1)}});
    Bytes rar5 = rar5_file({{"a", random_bytes(3000, 2)}});
    Bytes fws = swf_file('F', 3), cws = swf_file('C', 4), zws = swf_file('Z', 5);
    Bytes pst = pst_file(false, 6);
    auto flip = [](Bytes b, size_t at, uint8_t x) {
        b[at] ^= x;
        return b;
    };
    auto cut = [](const Bytes& b, size_t n) { return Bytes(b.begin(), b.end() - static_cast<long>(n)); };
    struct Case { const char* what; const char* key; Bytes data; } cases[] = {
        {"RAR 4 main header CRC", "rar", flip(rar4, 7, 1)},
        {"RAR 4 file's packed size", "rar", flip(rar4, 7 + 13 + 7, 1)},
        {"RAR 4 without its end block", "rar", cut(rar4, 7)},
        {"RAR 5 main header CRC", "rar", flip(rar5, 8, 1)},
        {"RAR 5 file header", "rar", flip(rar5, 8 + 8 + 6, 1)},
        {"RAR 5 without its end block", "rar", cut(rar5, 8)},
        {"SWF declared length", "swf", flip(fws, 4, 1)},
        {"SWF tag length", "swf", flip(fws, 8 + 9 + 4 + 5 + 2, 1)},
        {"zlib SWF body", "swf", flip(cws, cws.size() / 2, 0x55)},
        {"zlib SWF declared length", "swf", flip(cws, 4, 1)},
        {"LZMA SWF properties out of range", "swf", flip(zws, 12, zws[12] ^ 225)},
        {"PST allocation map position", "pst", flip(pst, 0xAC, 8)},
        {"PST allocation map flag", "pst", flip(pst, 0xC8, 0x40)},
        {"PST end beyond the data", "pst", flip(pst, 0xAA, 1)},
        {"PST allocation map page trailer", "pst", flip(pst, 0x4400 + 500, 1)},
    };
    for (const Case& c : cases) EXPECT_EQ(carve(c.key, c.data).length, 0u) << c.what;
}

}  // namespace

namespace {

TEST(DocumentParsers, CameraRawsAreSizedByTheirMakerNotesAndTiffsStayTiffs) {
    // The preview only the maker note points at is the last part of each file:
    // with the note's header damaged the walk ends before it.
    struct Note { const char* kind; const char* header; } notes[] = {
        {"nef", "Nikon"}, {"cr2", "Canon"}, {"arw", "SONY DSC"}, {"orf", "OLYMPUS"}, {"rw2", "Panasonic"}, {"pef", "AOC"},
    };
    for (const Note& n : notes) {
        Bytes f = camera_raw_file(n.kind, 3);
        ASSERT_EQ(carve("raw", f).length, f.size()) << n.kind;
        std::string all(f.begin(), f.end());
        size_t at = all.rfind(n.header);  // the maker note (Canon: the Make tag)
        ASSERT_NE(at, std::string::npos) << n.kind;
        f[at + 1] ^= 0x20;
        EXPECT_EQ(carve("raw", f).length, f.size() - 7000) << n.kind;
    }
    // The tif key names camera files by their contents; their own magics are not TIFF's.
    Carve nef = carve("tif", camera_raw_file("nef", 4));
    EXPECT_STREQ(nef.ext ? nef.ext : "tif", "nef");
    EXPECT_EQ(carve("tif", camera_raw_file("orf", 4)).length, 0u);
    // Photos and scans are TIFFs, not camera raws.
    if (have_tool("convert")) {
        for (const char* name : {"le.tif", "be.tif"}) EXPECT_EQ(carve("raw", sample(name).data).length, 0u) << name;
    }
    Bytes raf = camera_raw_file("raf", 5);
    raf[160] = 0;  // the preview is not a JPEG
    EXPECT_EQ(carve("raw", raf).length, 0u);
}

}  // namespace

namespace {

TEST(DocumentParsers, PdfWalkGivesUpAfterALongGapWithoutObjects) {
    if (!have_tool("gs")) GTEST_SKIP() << "Ghostscript missing";
    // The cross-reference table and trailer 70 MiB after the last object: the
    // walk stops at the gap instead of reading to the maximum size.
    std::string s(document_sample("one.pdf").data.begin(), document_sample("one.pdf").data.end());
    size_t sx = s.rfind("startxref");
    size_t xref = std::stoul(s.substr(sx + 10));
    std::string gap(70u << 20, '\0');
    std::string moved = s.substr(0, xref) + gap + s.substr(xref, sx - xref) + "startxref\n" +
                        std::to_string(xref + gap.size()) + "\n%%EOF\n";
    Bytes far(moved.begin(), moved.end());
    EXPECT_EQ(carve("pdf", far, 1ull << 30).length, 0u);
    // The same with a small gap is whole.
    std::string near = s.substr(0, xref) + std::string(4096, '\0') + s.substr(xref, sx - xref) + "startxref\n" +
                       std::to_string(xref + 4096) + "\n%%EOF\n";
    EXPECT_EQ(carve("pdf", Bytes(near.begin(), near.end())).length, near.size());
}

}  // namespace

namespace {

TEST(DocumentParsers, MakerNotesOfAConvertedPhotoDoNotSizeATiff) {
    // A scanner's or converter's TIFF whose EXIF kept a camera maker note that
    // points past the file: the TIFF ends where its own structure ends.
    Bytes nef = camera_raw_file("nef", 6);
    std::string all(nef.begin(), nef.end());
    size_t make = all.find("NIKON CORPORATION");
    ASSERT_NE(make, std::string::npos);
    std::copy_n("SCANNER CORP.", 13, nef.begin() + static_cast<long>(make));
    Carve c = carve("tif", nef);
    EXPECT_EQ(c.length, nef.size() - 7000);
    EXPECT_EQ(c.ext, nullptr);
    EXPECT_EQ(carve("raw", nef).length, 0u);
}

}  // namespace
