// libFuzzer target for the command line and the types table parsers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/types_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string err;
    carver::TypeTable table;
    table.parse(text, err);

    // Arguments separated by NUL bytes; a single argument is a whole line.
    std::vector<std::string> args;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\0') {
            args.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    carver::Command cmd;
    if (carver::parse_command_line(args, cmd, err) && cmd.out_dir.empty()) __builtin_trap();
    return 0;
}
