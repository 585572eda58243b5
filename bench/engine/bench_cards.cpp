// Cards as cameras and phones leave them: how many of their fragmented
// deleted files a scan gives back whole, partial, or not at all.
//   bench_cards [photo] [--keep=DIR]
#include <cstdio>
#include <string>

#include "cards.h"

using namespace carver_test;

int main(int argc, char** argv) {
    std::string exe = photo_path(), keep;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--keep=", 0) == 0) keep = a.substr(7);
        else exe = a;
    }
    int status = 0;
    for (auto make : {make_camera_card, make_phone_card}) {
        TempDir tmp;
        Card card;
        const std::string img = tmp / "card.img", out = keep.empty() ? tmp / "out" : keep + "/" + std::to_string(status++);
        if (!make(img, tmp, card)) {
            std::printf("card not made (a tool is missing)\n");
            continue;
        }
        if (!keep.empty()) sh("mkdir -p '" + keep + "' && cp '" + img + "' '" + out + ".img'");
        RunResult r = run_photo({"/d", out, "/cmd", img, "fileopt,everything,enable,search"}, exe);
        Tally t = tally(out, card);
        std::printf("%s: %zu fragmented deleted files: %d whole, %d partial, %d missing; exit %d%s%s%s%s\n",
                    card.label.c_str(), card.files.size(), t.whole, t.partial, t.missing, r.status,
                    t.foreign.empty() ? "" : "; foreign bytes in ", t.foreign.c_str(),
                    t.unplayable.empty() ? "" : "; unplayable: ", t.unplayable.c_str());
        if (!t.missed.empty()) std::printf("  not whole: %s\n", t.missed.c_str());
        for (const CardFile& f : card.files) std::printf("  %s %zu bytes, %d pieces\n", f.name.c_str(), f.data.size(), f.pieces);
    }
    return 0;
}
