// libFuzzer target for the NTFS reader: the input is the start of a 16 MiB
// disk that reads as zeros past it (so a small input can hold a boot sector
// and MFT records that name clusters further on). Compressed files found are
// read through their expansion. The record fixups, the run-list decoder and
// the LZNT1 expander are also fed the input directly.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fs/map.h"
#include "fs/ntfs.h"
#include "fs/scan_hook.h"

namespace {
constexpr uint64_t kDisk = 16u << 20;

class ZeroExtended final : public carver::Source {
public:
    ZeroExtended(const uint8_t* d, size_t n) : d_(d), n_(n) {}
    size_t read(uint64_t off, void* buf, size_t n) override {
        if (off >= kDisk) return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, kDisk - off));
        std::memset(buf, 0, n);
        if (off < n_) std::memcpy(buf, d_ + off, std::min<uint64_t>(n, n_ - off));
        return n;
    }

private:
    const uint8_t* d_;
    size_t n_;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ZeroExtended disk(data, size);
    carver::fs::Map map;
    map.probe([&](uint64_t off, void* buf, size_t n) -> size_t { return disk.read(off, buf, n); }, kDisk);
    for (const carver::fs::Volume& v : map.volumes())
        if (v.end() > kDisk || v.used.size() * 64 < v.clusters) __builtin_trap();
    uint8_t buf[4096];
    for (const carver::fs::DeletedEntry& e : map.entries()) {
        if (e.name.empty() || e.name.find('/') != std::string::npos || e.name == "." || e.name == "..")
            __builtin_trap();
        uint64_t total = 0;
        for (const auto& [at, len] : e.pieces) {
            if (len == 0 || at > kDisk || len > kDisk - at) __builtin_trap();
            total += len;
        }
        if (!e.pieces.empty() && total != e.size) __builtin_trap();
        if (!e.resident.empty() && (e.resident.size() != e.size || !e.pieces.empty())) __builtin_trap();
        carver::fs::PieceSource src(e.pieces, disk);
        if (src.read(0, buf, sizeof buf) > sizeof buf) __builtin_trap();
        if (!e.packed.empty()) {
            if (!e.pieces.empty() || e.unit == 0 || e.unit > 65536) __builtin_trap();
            carver::fs::PackedSource packed(e.packed, e.unit, e.size, disk);
            for (uint64_t off = 0; off < e.size && off < (1u << 20); off += sizeof buf)
                if (packed.read(off, buf, sizeof buf) > sizeof buf) __builtin_trap();
        }
    }
    // The same bytes as a record and as a run list.
    if (size >= 1024) {
        std::vector<uint8_t> rec(data, data + 1024);
        carver::fs::apply_fixups(rec.data(), rec.size());
    }
    // Exactly the room a unit has: AddressSanitizer sees any write past it.
    std::vector<uint8_t> unit(size ? 4096u * (1 + data[0] % 16) - data[0] % 7 : 1);
    size_t made = carver::fs::lznt1_expand(data, size, unit.data(), unit.size());
    if (made != SIZE_MAX && made > unit.size()) __builtin_trap();
    std::vector<carver::fs::Run> runs;
    if (carver::fs::decode_runs(data, size, 1u << 20, runs)) {
        for (const carver::fs::Run& r : runs)
            if (r.length == 0 || (r.lcn != carver::fs::kSparse && r.lcn + r.length > (1u << 20))) __builtin_trap();
    }
    return 0;
}
