// libFuzzer target for the file system readers: the input is a whole disk
// image (boot sector, FAT, folders); the map built from it is then used the
// way the scan uses it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fs/map.h"

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
    return 0;
}
