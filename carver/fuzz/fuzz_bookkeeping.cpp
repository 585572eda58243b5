// libFuzzer target for the engine's own files read back from an output
// folder or a copy's map: checkpoints and map files are untrusted. What
// parses must survive a round trip through its formatter unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/checkpoint.h"
#include "core/imaging.h"
#include "core/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string err;

    carver::Checkpoint c, again;
    if (carver::parse_checkpoint(text, c, err)) {
        const std::string formatted = carver::format_checkpoint(c);
        if (!carver::parse_checkpoint(formatted, again, err) || carver::format_checkpoint(again) != formatted)
            __builtin_trap();
    }

    std::vector<carver::MapRange> ranges, reparsed;
    if (carver::parse_map(text, ranges, err)) {
        uint64_t end = 0;
        for (const carver::MapRange& r : ranges) {
            if (r.pos < end || r.size == 0 || r.pos + r.size < r.pos) __builtin_trap();
            end = r.pos + r.size;
        }
        if (!carver::parse_map(carver::format_map(ranges, end, false), reparsed, err) || reparsed.size() != ranges.size())
            __builtin_trap();
    }

    // Escaped text never holds markup characters.
    for (char ch : carver::xml_escape(text))
        if (ch == '<' || ch == '>' || ch == '"') __builtin_trap();
    return 0;
}
