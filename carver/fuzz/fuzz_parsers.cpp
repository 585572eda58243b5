// libFuzzer target for every parser: the first input byte picks the format
// (its index in the registry), the rest is the candidate's bytes.
#include <cstddef>
#include <cstdint>

#include "core/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto& formats = carver::all_formats();
    const carver::Format* f = formats[data[0] % formats.size()];
    const uint8_t* body = data + 1;
    size_t n = size - 1;
    if (f->check) f->check(body, n);
    carver::BufferSource src(body, n);
    // A small maximum as well as a large one, so that limits are crossed too.
    uint64_t max = (data[0] & 0x80) ? n / 2 + 1 : 1ull << 30;
    carver::Carve c = f->walk(src, max);
    if (c.length > max || c.length > n) __builtin_trap();
    return 0;
}
