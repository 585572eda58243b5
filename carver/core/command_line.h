#pragma once
// The engine's command line: /d OUT /cmd DEVICE fileopt,<key>,<enable|disable>,...,search
#include <set>
#include <string>
#include <vector>

namespace carver {

struct Command {
    std::string out_dir;
    std::string device;
    std::set<std::string> enabled;  // keys turned on ("everything" expanded to every key)
};

// Accepts the arguments as a shell splits the line, OUT still wrapped in one pair
// of double quotes, an OUT containing spaces split over several arguments, or the
// whole line as a single argument. Returns false with a one-line reason in err.
bool parse_command_line(const std::vector<std::string>& args, Command& cmd, std::string& err);

}  // namespace carver
