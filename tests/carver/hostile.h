#pragma once
// Disk images built to stall or blind the engine, one per known trap, shared
// by the tests and the hostile-image benchmark. Each holds `size` bytes
// (rounded to whole sectors) of hostile structure over random data.
#include <string>
#include <vector>

#include "helpers.h"

namespace carver_test {

struct HostileImage {
    std::string name;
    Bytes data;
    // Offsets left open for files that must still be found (empty: none).
    std::vector<size_t> holes;
};

// Every image below; `size` is about the image's length in bytes.
std::vector<HostileImage> hostile_images(size_t size);

// One by name ("tiff-subifds", "zip64-wrap", "pdf-no-eof", "swf-cws-bomb",
// "swf-zws-claim", "zip-many-locals", "zip-descriptors", "wav-claim",
// "every-signature"), or "signature-N": the N-th of all formats' signatures
// at every sector.
HostileImage hostile_image(const std::string& name, size_t size);
size_t signature_count();

}  // namespace carver_test
