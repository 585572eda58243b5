#pragma once
// The runtime types table (formats/types.tsv): key, extension, maximum size.
#include <cstdint>
#include <map>
#include <string>

namespace carver {

struct TypeInfo {
    std::string ext;
    uint64_t max_size = 0;
};

struct TypeTable {
    std::map<std::string, TypeInfo, std::less<>> types;

    // Parses the table text. Lines: "key<ws>ext<ws>max_size"; '#' starts a
    // comment. On a malformed line returns false with a message in err.
    bool parse(const std::string& text, std::string& err);
    // Reads and parses a table file; every format with a parser must be listed.
    bool load(const std::string& path, std::string& err);
    const TypeInfo* find(std::string_view key) const;
};

}  // namespace carver
