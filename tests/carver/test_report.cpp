// The carve report's text and its folder: names are bytes from a disk, and
// the folder lies below an output folder others may reach.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "core/report.h"
#include "core/scan.h"
#include "core/types_table.h"
#include "helpers.h"

using namespace carver;
using namespace carver_test;

TEST(CarveReportText, EscapesMarkupAndReplacesWhatXmlCannotHold) {
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"DSC_0412.JPG", "DSC_0412.JPG"},
        {"a&b<c>\"d'", "a&amp;b&lt;c&gt;&quot;d&apos;"},
        {"Caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x93\xB7", "Caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x93\xB7"},
        {std::string("nul\0bell\x07", 9), "nul" + r + "bell" + r},
        {"latin1 \xE9t\xE9", "latin1 " + r + "t" + r},
        {"cut \xE6\x97", "cut " + r + r},
        {"overlong \xC0\xAF", "overlong " + r + r},
        {"surrogate \xED\xA0\x80", "surrogate " + r + r + r},
        {"beyond \xF4\x90\x80\x80", "beyond " + r + r + r + r},
        {"tab\tand\nline", "tab\tand\nline"},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(xml_escape(in), want) << in;
}

TEST(CarveReportFolder, ALinkInItsPlaceIsRefusedAndNothingIsWrittenThroughIt) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "out").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "elsewhere").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "out/.snapmend").c_str()), 0);
    write_file(dir / "img", random_bytes(1 << 20, 5));
    TypeTable table;
    std::string err;
    ASSERT_TRUE(table.load(SNAPMEND_TYPES_TSV, err)) << err;
    ScanOptions o;
    o.device = dir / "img";
    o.out_dir = dir / "out";
    o.enabled = {"jpg"};
    o.table = &table;
    std::atomic<bool> stop{false};
    ScanResult res = run_scan(o, stop);
    EXPECT_EQ(res.status, ScanStatus::BadInput);
    EXPECT_NE(res.message.find(".snapmend"), std::string::npos) << res.message;
    EXPECT_TRUE(list_dir(dir / "elsewhere").empty());
}
