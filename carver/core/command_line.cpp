#include "core/command_line.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "carver/contract.h"
#include "core/format.h"

namespace carver {
namespace {

using namespace contract;

std::string join(std::initializer_list<std::string_view> parts) {
    std::string s;
    for (std::string_view p : parts) s += p;
    return s;
}

// The selection's form, e.g. "fileopt,<key>,<enable|disable>,...,search".
std::string selection_form(std::string_view key) {
    return join({kSelectionStart, ",", key, ",<", kEnable, "|", kDisable, ">,...,", kSelectionEnd});
}

// Splits one line into words; double quotes group words and are removed.
std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::string cur;
    bool quoted = false, any = false;
    for (char ch : line) {
        if (ch == '"') {
            quoted = !quoted;
            any = true;
        } else if (ch == ' ' && !quoted) {
            if (any) words.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += ch;
            any = true;
        }
    }
    if (any) words.push_back(cur);
    return words;
}

std::vector<std::string> split_commas(const std::string& s) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t comma = s.find(',', start);
        out.push_back(s.substr(start, comma - start));
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

bool parse_selection(const std::string& sel, std::set<std::string>& enabled, std::string& err) {
    std::vector<std::string> t = split_commas(sel);
    if (t.size() < 2 || t.front() != kSelectionStart || t.back() != kSelectionEnd || t.size() % 2 != 0) {
        err = "file type selection must be " + selection_form("<key>");
        return false;
    }
    const auto& keys = command_keys();
    for (size_t i = 1; i + 1 < t.size(); i += 2) {
        const std::string& key = t[i];
        const std::string& what = t[i + 1];
        if (what != kEnable && what != kDisable) {
            err = join({"expected ", kEnable, " or ", kDisable, " after ", key, ", got '", what, "'"});
            return false;
        }
        bool on = what == kEnable;
        if (key == kEveryType) {
            enabled.clear();
            if (on) enabled.insert(keys.begin(), keys.end());
        } else if (std::find(keys.begin(), keys.end(), key) != keys.end()) {
            if (on)
                enabled.insert(key);
            else
                enabled.erase(key);
        } else {
            err = "unknown file type '" + key + "'";
            return false;
        }
    }
    return true;
}

}  // namespace

bool parse_command_line(const std::vector<std::string>& in, Command& cmd, std::string& err) {
    std::vector<std::string> args = in.size() == 1 ? split_words(in[0]) : in;
    auto cmd_at = std::find(args.begin(), args.end(), kDeviceSwitch);
    if (args.size() < 5 || args[0] != kOutputSwitch || cmd_at == args.end() || cmd_at - args.begin() < 2 ||
        args.end() - cmd_at != 3) {
        err = join({"usage: ", kProgramName, " ", kOutputSwitch, " \"OUT\" ", kDeviceSwitch, " DEVICE ",
                    selection_form(kEveryType)});
        return false;
    }
    std::string out;
    for (auto it = args.begin() + 1; it != cmd_at; ++it) out += (out.empty() ? "" : " ") + *it;
    if (out.size() >= 2 && out.front() == '"' && out.back() == '"') out = out.substr(1, out.size() - 2);
    if (out.empty()) {
        err = "empty output folder";
        return false;
    }
    cmd.out_dir = out;
    cmd.device = cmd_at[1];
    if (cmd.device.empty()) {
        err = "empty device name";
        return false;
    }
    cmd.enabled.clear();
    return parse_selection(cmd_at[2], cmd.enabled, err);
}

}  // namespace carver
