// libFuzzer target for the file system readers: the input is a whole disk
// image (boot sector, FAT, folders); the map built from it is then used the
// way the scan uses it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fs/iso_cut.h"
#include "fs/map.h"
#include "fs/stitch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto read = [&](uint64_t off, void* buf, size_t n) -> size_t {
        if (off >= size || n > size - off) return 0;
        std::memcpy(buf, data + off, n);
        return n;
    };
    carver::fs::Map map;
    map.probe(read, size);
    carver::BufferSource disk(data, size);
    uint8_t buf[4096];
    for (const carver::fs::Volume& v : map.volumes()) {
        uint64_t c = v.next_free(0);
        if (c >= v.clusters) continue;
        carver::fs::FreeStream s(v, c, disk);
        s.read(0, buf, sizeof buf);
        s.read(sizeof buf / 2, buf, sizeof buf);
        s.for_each_piece(100, 3 * sizeof buf, [](uint64_t from, uint64_t to) {
            if (to <= from) __builtin_trap();
        });
    }
    for (const carver::fs::DeletedEntry& e : map.entries()) {
        if (e.name.empty() || e.name.find('/') != std::string::npos || e.name == "." || e.name == "..")
            __builtin_trap();
        map.entry_for(e.start, e.size, "jpg");
    }
    for (const carver::fs::Volume& v : map.volumes()) {
        uint64_t c = v.next_free(0);
        if (c < v.clusters) carver::fs::deleted_skips(map, v, c, disk, 1u << 20);
    }
    // The stitchers over the input as a volume of 512-byte clusters whose
    // in-use bits come from the input's last bytes; freed ext4 extent nodes
    // left out when the first byte is odd, and a few skips from the second.
    if (size >= 1024) {
        carver::fs::Volume v;
        v.cluster_size = 512;
        v.clusters = size / 512;
        v.used.assign((v.clusters + 63) / 64, 0);
        v.skip_extent_nodes = data[0] & 1;
        for (uint64_t c = 1; c < v.clusters; ++c)
            if (data[size - 1 - (c % 64)] & (1u << (c % 8))) v.set_used(c);
        std::vector<carver::fs::Skip> skips;
        for (uint64_t k = 1 + data[1] % 4; k < v.clusters && skips.size() < 8; k += 1 + data[k] % 8)
            skips.push_back({k, 1u + data[k * 512 % size] % 4});
        using Stitcher = carver::fs::Stitched (*)(const carver::fs::Volume&, uint64_t, carver::Source&, uint64_t);
        const Stitcher stitchers[] = {
            [](const carver::fs::Volume& vol, uint64_t first, carver::Source& src, uint64_t max) {
                carver::fs::WholeFiles whole;  // the gap search passing over files lying whole
                return carver::fs::stitch_jpeg(vol, first, src, max, &whole);
            },
            [](const carver::fs::Volume& vol, uint64_t first, carver::Source& src, uint64_t max) {
                return carver::fs::stitch_png(vol, first, src, max);
            },
            [](const carver::fs::Volume& vol, uint64_t first, carver::Source& src, uint64_t max) {
                return carver::fs::stitch_zip(vol, first, src, max);
            },
            [](const carver::fs::Volume& vol, uint64_t first, carver::Source& src, uint64_t max) {
                return carver::fs::stitch_pdf(vol, first, src, max);
            },
            [](const carver::fs::Volume& vol, uint64_t first, carver::Source& src, uint64_t max) {
                return carver::fs::stitch_gif(vol, first, src, max);
            },
            [](const carver::fs::Volume& vol, uint64_t first, carver::Source& src, uint64_t max) {
                return carver::fs::stitch_iso(vol, first, src, max);
            },
            [](const carver::fs::Volume& vol, uint64_t first, carver::Source& src, uint64_t max) {
                return carver::fs::stitch_mp3(vol, first, src, max);
            },
            [](const carver::fs::Volume& vol, uint64_t first, carver::Source& src, uint64_t max) {
                return carver::fs::stitch_riff(vol, first, src, max);
            },
        };
        std::vector<carver::fs::Stitched> results;
        for (Stitcher st : stitchers) results.push_back(st(v, 0, disk, 1u << 20));
        results.push_back(carver::fs::stitch_png(v, 0, disk, 1u << 20, skips));
        results.push_back(carver::fs::stitch_zip(v, 0, disk, 1u << 20, skips));
        results.push_back(carver::fs::stitch_pdf(v, 0, disk, 1u << 20, skips));
        results.push_back(carver::fs::stitch_gif(v, 0, disk, 1u << 20, skips));
        results.push_back(carver::fs::stitch_iso(v, 0, disk, 1u << 20, skips));
        results.push_back(carver::fs::stitch_mp3(v, 0, disk, 1u << 20, skips));
        results.push_back(carver::fs::stitch_riff(v, 0, disk, 1u << 20, skips));
        carver::fs::WholeFiles models;
        results.push_back(carver::fs::stitch_jpeg(v, 0, disk, 1u << 20, &models, skips));
        // A clip whose movie box is lost, with a model movie box taken from the input:
        // its first box as the file type, the first box typed moov as the model.
        const uint8_t* moov = static_cast<const uint8_t*>(memmem(data + 4, size - 4, "moov", 4));
        if (moov && moov - data >= 4) {
            const size_t at = static_cast<size_t>(moov - data) - 4;
            const size_t n = std::min<size_t>(carver::rd_be32(data + at), size - at);
            const size_t ftyp = std::min<size_t>(carver::rd_be32(data), size);
            if (n >= 8) {
                models.keep_movie({data, data + ftyp}, {data + at, data + at + n});
                results.push_back(carver::fs::stitch_iso(v, 0, disk, 1u << 20, skips, &models));
                std::vector<carver::fs::FoundSample> found;
                for (size_t i = 0; i + 8 <= std::min<size_t>(size, 256); i += 8)
                    found.push_back({carver::rd_be32(data + i), data[i + 4] * 512u, (data[i + 5] & 1) != 0});
                carver::fs::model_moov({data + at, data + at + n}, found);
            }
        }
        for (carver::fs::Stitched& st : results) {
            if (!st.stream) continue;
            std::vector<uint8_t> all(static_cast<size_t>(st.length));
            if (st.stream->read(0, all.data(), all.size()) != all.size() && !st.partial) __builtin_trap();
            st.stream->for_each_piece(st.length, [](uint64_t from, uint64_t to) {
                if (to <= from) __builtin_trap();
            });
        }
        carver::fs::FreeStream fs(v, 0, disk);
        fs.read(0, buf, sizeof buf);
        fs.crosses_used(size);
    }
    if (carver::fs::jpeg_scans_head(disk, size, size / 2) > size) __builtin_trap();
    return 0;
}
