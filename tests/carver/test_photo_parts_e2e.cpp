// Photos that carry more after their first end marker: further images
// listed by an MP index, a gain map and a video listed by an XMP container
// directory, an older motion photo's MicroVideoOffset. Built from the
// published layouts, planted on cards, and expected back byte for byte, with
// each motion photo's video also written on its own.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>

#include "helpers.h"

using namespace carver_test;

namespace {

Bytes segment(uint8_t marker, const Bytes& payload) {
    Bytes s = {0xFF, marker, static_cast<uint8_t>((payload.size() + 2) >> 8),
               static_cast<uint8_t>(payload.size() + 2)};
    s.insert(s.end(), payload.begin(), payload.end());
    return s;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void put_be(Bytes& b, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The image's own segments after its APP0, with `segments` put in between.
Bytes with_segments(const Bytes& jpeg, const std::vector<Bytes>& segments, size_t* inserted_at = nullptr) {
    size_t at = 2;
    if (jpeg[3] == 0xE0) at += 2 + (jpeg[4] << 8 | jpeg[5]);
    Bytes out(jpeg.begin(), jpeg.begin() + static_cast<long>(at));
    if (inserted_at) *inserted_at = at;
    for (const Bytes& s : segments) out.insert(out.end(), s.begin(), s.end());
    out.insert(out.end(), jpeg.begin() + static_cast<long>(at), jpeg.end());
    return out;
}

// APP2 "MPF": a big-endian MP index of the primary (size `primary`) and `others`.
Bytes mpf_segment(uint32_t primary, const std::vector<std::pair<uint32_t, uint32_t>>& others) {
    const uint32_t n = static_cast<uint32_t>(others.size() + 1);
    Bytes p = text(std::string("MPF\0", 4));
    p.insert(p.end(), {'M', 'M', 0, 42, 0, 0, 0, 8});
    put_be(p, 3, 2);
    put_be(p, 0xB000, 2), put_be(p, 7, 2), put_be(p, 4, 4), p.insert(p.end(), {'0', '1', '0', '0'});
    put_be(p, 0xB001, 2), put_be(p, 4, 2), put_be(p, 1, 4), put_be(p, n, 4);
    put_be(p, 0xB002, 2), put_be(p, 7, 2), put_be(p, 16 * n, 4), put_be(p, 50, 4);
    put_be(p, 0, 4);
    put_be(p, 0x20030000, 4), put_be(p, primary, 4), put_be(p, 0, 4), put_be(p, 0, 4);
    for (auto [size, offset] : others) put_be(p, 0, 4), put_be(p, size, 4), put_be(p, offset, 4), put_be(p, 0, 4);
    return segment(0xE2, p);
}

Bytes xmp_segment(const std::string& description) {
    return segment(0xE1, text(std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
                              "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                              "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">" +
                              description + "</rdf:RDF></x:xmpmeta>"));
}

std::string container(const std::string& secondary_mime, const std::string& semantic, size_t length) {
    return "<rdf:Description rdf:about=\"\" xmlns:Container=\"http://ns.google.com/photos/1.0/container/\" "
           "xmlns:Item=\"http://ns.google.com/photos/1.0/container/item/\"><Container:Directory><rdf:Seq>"
           "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Semantic=\"Primary\" Item:Mime=\"image/jpeg\"/>"
           "</rdf:li><rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Semantic=\"" +
           semantic + "\" Item:Mime=\"" + secondary_mime + "\" Item:Length=\"" + std::to_string(length) +
           "\"/></rdf:li></rdf:Seq></Container:Directory></rdf:Description>";
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A photo put together from a primary picture, the segments naming what
// follows it, and what follows it.
struct MultiPart {
    Sample photo;
    Bytes primary;  // the photo's first image (its part up to the first EOI)
    Bytes video;    // a motion photo's video, else empty
};

// Primary and index: the index's own size is fixed, so the sizes it states are known before it is built.
// `overstated`: bytes the index adds to the second image's size.
MultiPart mpf_photo(const std::string& name, const Bytes& base, const Bytes& second, std::vector<Bytes> extra = {},
                    uint32_t overstated = 0) {
    size_t at = 0;
    extra.push_back(mpf_segment(0, {{0, 0}}));
    size_t primary_size = with_segments(base, extra).size();
    extra.pop_back();
    const size_t before = with_segments(base, extra, &at).size() - base.size();  // segments ahead of the index
    const uint32_t tiff = static_cast<uint32_t>(at + before + 4 + 4);              // marker, length, "MPF\0"
    extra.push_back(mpf_segment(static_cast<uint32_t>(primary_size),
                                {{static_cast<uint32_t>(second.size()) + overstated,
                                  static_cast<uint32_t>(primary_size - tiff)}}));
    Bytes primary = with_segments(base, extra);
    return {{name, "jpg", concat(primary, second)}, primary, {}};
}

struct Pieces {
    Bytes photo, gain_map, preview, video;
    bool ok() const { return !photo.empty() && !gain_map.empty() && !preview.empty() && !video.empty(); }
};

Pieces make_pieces(const TempDir& tmp) {
    Pieces p;
    auto convert = [&](const std::string& args, const std::string& name) {
        return sh("convert " + args + " " + (tmp / name)) == 0 ? read_file(tmp / name) : Bytes{};
    };
    p.photo = convert("-size 640x480 plasma:fractal -seed 5 -quality 88", "primary.jpg");
    p.gain_map = convert("-size 160x120 plasma: -seed 6 -colorspace Gray -quality 80", "gainmap.jpg");
    p.preview = convert("-size 320x240 plasma: -seed 7 -quality 75", "preview.jpg");
    std::string mp4 = tmp / "clip.mp4";
    if (sh("ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=15 -t 1 -c:v libx264 -preset ultrafast "
           "-pix_fmt yuv420p -f mp4 '" + mp4 + "'") == 0)
        p.video = read_file(mp4);
    return p;
}

std::vector<MultiPart> multi_part_photos(const Pieces& p) {
    std::vector<MultiPart> out;
    out.push_back(mpf_photo("Multi Picture.jpg", p.photo, p.preview));
    out.push_back(mpf_photo("Ultra HDR.jpg", p.photo, p.gain_map,
                            {xmp_segment(container("image/jpeg", "GainMap", p.gain_map.size()))}));
    Bytes motion = with_segments(p.photo, {xmp_segment(container("video/mp4", "MotionPhoto", p.video.size()))});
    out.push_back({{"PXL_1.MP.jpg", "jpg", concat(motion, p.video)}, motion, p.video});
    Bytes micro = with_segments(
        p.photo, {xmp_segment("<rdf:Description rdf:about=\"\" xmlns:GCamera=\"http://ns.google.com/photos/1.0/camera/\" "
                              "GCamera:MicroVideo=\"1\" GCamera:MicroVideoVersion=\"1\" GCamera:MicroVideoOffset=\"" +
                              std::to_string(p.video.size()) + "\"/>")});
    out.push_back({{"Motion Still 2.jpg", "jpg", concat(micro, p.video)}, micro, p.video});
    // Last: an index that states the second image 700 bytes longer than it is.
    out.push_back(mpf_photo("Overstated.jpg", p.photo, p.preview, {}, 700));
    return out;
}

std::string with_ext(const std::string& name, const std::string& ext) { return name.substr(0, name.rfind('.')) + ext; }

struct Card {
    std::vector<MultiPart> whole;   // to come back byte for byte
    std::vector<MultiPart> broken;  // whose declared video is damaged: the primary alone, marked partial
    bool named = false;             // carved under the names the photos had
};

// No file system: the photos at sector boundaries between random bytes, a
// motion photo whose video's header was overwritten, and a photo whose index
// states a second image longer than it is.
Card raw_card(const std::string& img, const TempDir&, const std::vector<MultiPart>& photos) {
    Card card;
    Bytes image = random_bytes(8192, 3);
    for (size_t i = 0; i + 1 < photos.size(); ++i) {
        append_aligned(image, photos[i].photo.data);
        image.resize(image.size() + 5000, 0);
        card.whole.push_back(photos[i]);
    }
    MultiPart broken = photos[2];
    size_t at = append_aligned(image, broken.photo.data);
    std::fill(image.begin() + static_cast<long>(at + broken.primary.size()),
              image.begin() + static_cast<long>(at + broken.primary.size() + 16), 0xEE);
    image.resize(image.size() + 5000, 0);
    card.broken.push_back(broken);
    const MultiPart& overstated = photos.back();
    card.broken.push_back(overstated);
    append_aligned(image, overstated.photo.data);
    image.resize(image.size() + 300, 0);  // ends before the stated size
    write_file(img, image);
    return card;
}

// FAT32 (512-byte clusters) filled with files, every other one deleted, the
// photos written into the holes (in pieces between live files), then deleted.
Card fat32_card(const std::string& img, const TempDir& tmp, std::vector<MultiPart> photos) {
    photos.pop_back();  // the overstated one: its end would be another file's bytes
    Card card;
    card.named = true;
    if (!have_tool("mkfs.vfat") || !have_tool("mcopy") || sh("mkfs.vfat -F 32 -s 1 -C " + img + " 65536") != 0)
        return card;
    std::string fillers, holes;
    for (int i = 0; i < 200; ++i) {
        std::string name = "FILL" + std::to_string(i) + ".BIN";
        write_file(tmp / name, random_bytes(8192 + 512 * (i % 5), static_cast<uint32_t>(100 + i)));
        fillers += " " + (tmp / name);
        if (i % 2 == 0) holes += " ::/" + name;
    }
    std::string planted, names;
    for (const MultiPart& m : photos) {
        write_file(tmp / m.photo.name, m.photo.data);
        planted += " '" + (tmp / m.photo.name) + "'";
        names += " '::/" + m.photo.name + "'";
    }
    if (sh("mcopy -i " + img + fillers + " ::/") != 0 || sh("mdel -i " + img + holes) != 0) return card;
    {  // the FAT32 next-free hint back at the start: the photos go into the holes
        Bytes boot = read_file(img);
        std::fstream f(img, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<long>(size_t(boot[48] | boot[49] << 8) * 512 + 0x1EC));
        const char hint[4] = {2, 0, 0, 0};
        f.write(hint, 4);
    }
    if (sh("mcopy -i " + img + planted + " ::/") != 0 || sh("mdel -i " + img + names) != 0) return card;
    card.whole = photos;
    return card;
}

// The report lists every file written, once, with its size, whole or
// partial, where its name came from (`named`: the files a deleted FAT entry
// named), and byte runs that read it back from the card.
void expect_report_matches(const std::string& out, const Bytes& image, const std::map<std::string, Bytes>& carved,
                           const std::set<std::string>& named) {
    const std::string path = out + "/.snapmend/report.xml";
    ASSERT_EQ(sh("xmllint --noout '" + path + "'"), 0) << "report.xml is not well-formed";
    Bytes raw = read_file(path);
    const std::string xml(raw.begin(), raw.end());
    static const std::regex kObject("<fileobject>([\\s\\S]*?)</fileobject>");
    static const std::regex kField("<(filename|filesize|snapmend:partial|snapmend:name_origin)>([^<]*)<");
    static const std::regex kRun("<byte_run file_offset=\"(\\d+)\" img_offset=\"(\\d+)\" len=\"(\\d+)\"/>");
    std::map<std::string, int> listed;
    for (std::sregex_iterator o(xml.begin(), xml.end(), kObject), end; o != end; ++o) {
        const std::string body = (*o)[1];
        std::map<std::string, std::string> f;
        for (std::sregex_iterator m(body.begin(), body.end(), kField); m != end; ++m) f[(*m)[1]] = (*m)[2];
        const std::string& name = f["filename"];
        ++listed[name];
        auto it = carved.find(name);
        ASSERT_NE(it, carved.end()) << name << " is listed but was not written";
        EXPECT_EQ(f["filesize"], std::to_string(it->second.size())) << name;
        EXPECT_EQ(f["snapmend:partial"], name.find(".partial.") != std::string::npos ? "1" : "0") << name;
        EXPECT_EQ(f["snapmend:name_origin"], named.count(name) ? "fat" : "carved") << name;
        Bytes from_runs;
        for (std::sregex_iterator r(body.begin(), body.end(), kRun); r != end; ++r) {
            size_t file_offset = std::stoull((*r)[1]), at = std::stoull((*r)[2]), len = std::stoull((*r)[3]);
            ASSERT_EQ(file_offset, from_runs.size()) << name << ": runs out of order";
            ASSERT_LE(at + len, image.size()) << name;
            from_runs.insert(from_runs.end(), image.begin() + static_cast<long>(at),
                             image.begin() + static_cast<long>(at + len));
        }
        EXPECT_TRUE(from_runs == it->second) << name << ": its byte runs do not read it back";
    }
    for (const auto& [name, data] : carved) EXPECT_EQ(listed[name], 1) << name << " listed " << listed[name] << " times";
}

struct CardKind {
    const char* label;
    std::function<Card(const std::string&, const TempDir&, const std::vector<MultiPart>&)> build;
};

class MultiPartPhotos : public ::testing::TestWithParam<CardKind> {};

TEST_P(MultiPartPhotos, ComeBackWholeWithTheirVideosBeside) {
    TempDir tmp;
    if (!have_tool("convert") || !have_tool("ffmpeg")) GTEST_SKIP() << "needs ImageMagick and ffmpeg";
    Pieces pieces = make_pieces(tmp);
    ASSERT_TRUE(pieces.ok()) << "making the pieces failed";
    std::string img = tmp / "card.img";
    Card card = GetParam().build(img, tmp, multi_part_photos(pieces));
    if (card.whole.empty()) GTEST_SKIP() << "the card could not be built (mkfs.vfat, mtools)";

    std::string out = tmp / "out";
    RunResult r = run_photo({"/d", out, "/cmd", img, "fileopt,everything,enable,search"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, Bytes> carved = files_below(out);
    std::set<std::string> named;
    for (const MultiPart& m : card.whole)
        if (card.named) named.insert({m.photo.name, with_ext(m.photo.name, ".mp4")});
    expect_report_matches(out, read_file(img), carved, named);

    for (const MultiPart& m : card.whole) {
        std::string found;
        for (const auto& [name, data] : carved)
            if (data == m.photo.data) found = name;
        ASSERT_FALSE(found.empty()) << m.photo.name << " not recovered whole";
        if (card.named) {
            EXPECT_EQ(found, m.photo.name);
        }
        std::string video = with_ext(found, ".mp4");
        if (m.video.empty()) {
            EXPECT_EQ(carved.count(video), 0u) << video << " written for a photo without a video";
            continue;
        }
        ASSERT_TRUE(carved.count(video)) << video << " missing beside " << found;
        EXPECT_TRUE(carved[video] == m.video) << video << " is not the photo's video";
        EXPECT_EQ(sh("ffprobe -v error '" + out + "/" + video + "'"), 0) << video << " does not play";
    }
    for (const MultiPart& m : card.broken) {
        std::string found;
        for (const auto& [name, data] : carved)
            if (data == m.primary) found = name;
        ASSERT_FALSE(found.empty()) << m.photo.name << ": its primary picture is not kept";
        EXPECT_NE(found.find(".partial.jpg"), std::string::npos) << found << " is not marked partial";
        EXPECT_EQ(carved.count(with_ext(found, ".mp4")), 0u) << "an unproven video was written";
    }
}

INSTANTIATE_TEST_SUITE_P(Cards, MultiPartPhotos,
                         ::testing::Values(CardKind{"NoFileSystem", raw_card}, CardKind{"Fat32Fragmented", fat32_card}),
                         [](const auto& p) { return std::string(p.param.label); });

}  // namespace
