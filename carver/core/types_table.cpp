#include "core/types_table.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/format.h"

namespace carver {

bool TypeTable::parse(const std::string& text, std::string& err) {
    types.clear();
    std::istringstream in(text);
    std::string line;
    for (int no = 1; std::getline(in, line); ++no) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream fields(line);
        std::string key, ext, size, extra;
        if (!(fields >> key)) continue;
        bool ok = static_cast<bool>(fields >> ext >> size) && !(fields >> extra);
        uint64_t max = 0;
        if (ok) {
            for (char ch : size) ok = ok && ch >= '0' && ch <= '9';
            ok = ok && !size.empty() && size.size() <= 15;
            if (ok) max = std::stoull(size);
        }
        for (char ch : ext) ok = ok && ch != '/' && ch != '.';
        if (!ok || max == 0) {
            err = "line " + std::to_string(no) + ": expected \"key extension max-bytes\"";
            return false;
        }
        types[key] = TypeInfo{ext, max};
    }
    for (const Format* f : all_formats()) {
        if (!find(f->key)) {
            err = "no entry for " + std::string(f->key);
            return false;
        }
    }
    return true;
}

bool TypeTable::load(const std::string& path, std::string& err) {
    std::ifstream in(path);
    if (!in) {
        err = path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!parse(text.str(), err)) {
        err = path + ": " + err;
        return false;
    }
    return true;
}

const TypeInfo* TypeTable::find(std::string_view key) const {
    auto it = types.find(key);
    return it == types.end() ? nullptr : &it->second;
}

}  // namespace carver
