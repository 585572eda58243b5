#include "hostile.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include <zlib.h>

#include "core/format.h"

namespace carver_test {
namespace {

constexpr size_t kSec = 512;

void put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void put64(Bytes& b, size_t at, uint64_t v) {
    put32(b, at, static_cast<uint32_t>(v));
    put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}
void put(Bytes& b, size_t at, const std::string& s) { std::memcpy(&b[at], s.data(), s.size()); }

// A TIFF whose one IFD holds 4096 SubIFD entries of 2^20 offsets each.
Bytes tiff_subifds(size_t size) {
    Bytes b = random_bytes(size, 1);
    const uint16_t n = 4096;
    put(b, 0, std::string("II*\0", 4));
    put32(b, 4, 8);
    put16(b, 8, n);
    for (uint16_t i = 0; i < n; ++i) {
        size_t e = 10 + i * 12u;
        put16(b, e, 330);
        put16(b, e + 2, 4);
        put32(b, e + 4, 1u << 20);
        put32(b, e + 8, 64 * 1024);  // 4 MiB of offsets from here
    }
    put32(b, 10 + n * 12u, 0);
    return b;
}

// A local header at every sector whose ZIP64 compressed size leads back to itself.
Bytes zip64_wrap(size_t size) {
    Bytes b = random_bytes(size, 2);
    for (size_t at = 0; at + kSec <= b.size(); at += kSec) {
        put32(b, at, 0x04034b50);
        put16(b, at + 4, 45);
        put16(b, at + 6, 0);
        put16(b, at + 8, 8);
        put32(b, at + 18, 0xFFFFFFFFu);
        put32(b, at + 22, 0xFFFFFFFFu);
        put16(b, at + 26, 1);
        put16(b, at + 28, 20);
        b[at + 30] = 'a';
        put16(b, at + 31, 1);
        put16(b, at + 33, 16);
        put64(b, at + 35, 1000);
        put64(b, at + 43, 0 - uint64_t{30 + 1 + 20});
    }
    return b;
}

// "%PDF-" with a first object at every sector and no end marker anywhere.
Bytes pdf_no_eof(size_t size) {
    Bytes b = random_bytes(size, 3);
    std::string head = "%PDF-1.4\n1 0 obj\n<< /Length 400 >>\nstream\n";
    for (size_t at = 0; at + kSec <= b.size(); at += kSec) {
        put(b, at, head);
        put(b, at + kSec - 18, "\nendstream\nendobj");
        b[at + kSec - 1] = '\n';
    }
    return b;
}

// Compressed SWF movies whose bodies inflate to 64 MiB of zeros each.
Bytes swf_cws_bomb(size_t size) {
    Bytes body(64u << 20, 0);
    uLongf n = compressBound(body.size());
    Bytes z(n);
    if (compress2(z.data(), &n, body.data(), body.size(), 9) != Z_OK) throw std::runtime_error("compress2");
    z.resize(n);
    Bytes b = random_bytes(size, 4);
    for (size_t at = 0; at + 8 + z.size() <= b.size(); at = (at + 8 + z.size() + kSec - 1) / kSec * kSec) {
        put(b, at, "CWS");
        b[at + 3] = 10;
        put32(b, at + 4, static_cast<uint32_t>(8 + body.size()));
        std::memcpy(&b[at + 8], z.data(), z.size());
    }
    return b;
}

// A 17-byte LZMA SWF header claiming everything after it.
Bytes swf_zws_claim(size_t size, std::vector<size_t>& holes) {
    Bytes b = random_bytes(size, 5);
    put(b, 0, "ZWS");
    b[3] = 13;
    put32(b, 4, static_cast<uint32_t>(size * 4));
    put32(b, 8, static_cast<uint32_t>(size - 17));
    b[12] = 0x5D;
    put32(b, 13, 1u << 16);
    holes = {size / 4 / kSec * kSec, size / 2 / kSec * kSec};
    return b;
}

// A local header at every sector, each entry ending where the next begins;
// no central directory.
Bytes zip_many_locals(size_t size, bool descriptors) {
    Bytes b = random_bytes(size, descriptors ? 7 : 6);
    for (size_t at = 0; at + kSec <= b.size(); at += kSec) {
        put32(b, at, 0x04034b50);
        put16(b, at + 4, 20);
        put16(b, at + 6, descriptors ? 8 : 0);
        put16(b, at + 8, 8);
        put32(b, at + 18, descriptors ? 0 : static_cast<uint32_t>(kSec - 31));
        put32(b, at + 22, 1000);
        put16(b, at + 26, 1);
        put16(b, at + 28, 0);
        b[at + 30] = 'a';
    }
    return b;
}

// A WAV header whose data chunk claims the whole image.
Bytes wav_claim(size_t size, std::vector<size_t>& holes) {
    Bytes b = random_bytes(size, 8);
    put(b, 0, "RIFF");
    put32(b, 4, static_cast<uint32_t>(size - 8));
    put(b, 8, "WAVEfmt ");
    put32(b, 16, 16);
    put16(b, 20, 1);
    put16(b, 22, 2);
    put32(b, 24, 44100);
    put32(b, 28, 44100 * 4);
    put16(b, 32, 4);
    put16(b, 34, 16);
    put(b, 36, "data");
    put32(b, 40, static_cast<uint32_t>(size - 44));
    holes = {size / 4 / kSec * kSec, size / 2 / kSec * kSec};
    return b;
}

std::vector<std::string_view> all_signatures() {
    std::vector<std::string_view> sigs;
    for (const carver::Format* f : carver::all_formats())
        for (std::string_view s : f->signatures) sigs.push_back(s);
    return sigs;
}

// Every format's signature in turn (or only signature `only`) at every
// sector, random bytes after it.
Bytes every_signature(size_t size, size_t only) {
    Bytes b = random_bytes(size, 9);
    std::vector<std::string_view> sigs = all_signatures();
    size_t i = 0;
    for (size_t at = 0; at + kSec <= b.size(); at += kSec, ++i) {
        std::string_view s = sigs[only < sigs.size() ? only : i % sigs.size()];
        std::memcpy(&b[at], s.data(), s.size());
    }
    return b;
}

}  // namespace

HostileImage hostile_image(const std::string& name, size_t size) {
    size = (size + kSec - 1) / kSec * kSec;
    HostileImage h{name, {}, {}};
    if (name == "tiff-subifds") h.data = tiff_subifds(size);
    else if (name == "zip64-wrap") h.data = zip64_wrap(size);
    else if (name == "pdf-no-eof") h.data = pdf_no_eof(size);
    else if (name == "swf-cws-bomb") h.data = swf_cws_bomb(size);
    else if (name == "swf-zws-claim") h.data = swf_zws_claim(size, h.holes);
    else if (name == "zip-many-locals") h.data = zip_many_locals(size, false);
    else if (name == "zip-descriptors") h.data = zip_many_locals(size, true);
    else if (name == "wav-claim") h.data = wav_claim(size, h.holes);
    else if (name == "every-signature") h.data = every_signature(size, SIZE_MAX);
    else if (name.compare(0, 10, "signature-") == 0) h.data = every_signature(size, std::stoul(name.substr(10)));
    else throw std::invalid_argument(name);
    return h;
}

size_t signature_count() { return all_signatures().size(); }

std::vector<HostileImage> hostile_images(size_t size) {
    std::vector<HostileImage> all;
    for (const char* n : {"tiff-subifds", "zip64-wrap", "pdf-no-eof", "swf-cws-bomb", "swf-zws-claim",
                          "zip-many-locals", "zip-descriptors", "wav-claim", "every-signature"})
        all.push_back(hostile_image(n, size));
    return all;
}

}  // namespace carver_test
