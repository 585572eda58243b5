// The carve report's text and its folder: names are bytes from a disk, and
// the folder lies below an output folder others may reach.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include <fcntl.h>
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
    std::string back;  // read back: only what xml_escape writes
    for (const char* bad : {"&#47;", "a&b", "&amp", "<x>"}) EXPECT_FALSE(xml_unescape(bad, back)) << bad;
}

// A resumed scan goes on with the report a checkpoint names, cut to the
// length it recorded; anything else in its place is not taken up.
TEST(CarveReportResume, GoesOnOnlyWithTheReportTheCheckpointNames) {
    struct Case {
        const char* what;
        std::function<void(const std::string& part, uint64_t& bytes)> change;
        bool taken;
    };
    const Case cases[] = {
        {"as written", [](const std::string&, uint64_t&) {}, true},
        {"shorter than recorded", [](const std::string& p, uint64_t& n) { EXPECT_EQ(::truncate(p.c_str(), n - 1), 0); }, false},
        {"cut inside a line", [](const std::string&, uint64_t& n) { n -= 3; }, false},
        {"a link", [](const std::string& p, uint64_t&) { EXPECT_EQ(::rename(p.c_str(), (p + ".x").c_str()) || ::symlink((p + ".x").c_str(), p.c_str()), 0); }, false},
        {"a second name", [](const std::string& p, uint64_t&) { EXPECT_EQ(::link(p.c_str(), (p + ".x").c_str()), 0); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ASSERT_EQ(::mkdir((dir / "out").c_str(), 0700), 0);
        const int out = ::open((dir / "out").c_str(), O_RDONLY | O_DIRECTORY);
        const std::string part = dir / "out/.snapmend/report.xml.part";
        uint64_t bytes = 0, later = 0;
        std::string err;
        {
            CarveReport report;  // left as a scan killed after a checkpoint leaves it
            ASSERT_TRUE(report.open(out, "/dev/card", err)) << err;
            report.add({"DCIM/A&B.JPG", 10, true, "fat", "", {{0, 512, 10}}});
            ASSERT_TRUE(report.sync(bytes));
            report.add({"f0000000009.jpg", 20, false, "carved", "", {}});
            ASSERT_TRUE(report.sync(later));
            ASSERT_EQ(::link(part.c_str(), (dir / "killed").c_str()), 0);
        }
        ASSERT_EQ(::rename((dir / "killed").c_str(), part.c_str()), 0);
        c.change(part, bytes);
        CarveReport again;
        ReportedFiles files;
        EXPECT_EQ(again.reopen(out, bytes, files, err), c.taken) << err;
        EXPECT_EQ(files.names, c.taken ? std::set<std::string>{"DCIM/A&B.JPG"} : std::set<std::string>{});
        EXPECT_EQ(files.partial, c.taken ? 1u : 0u);
        if (c.taken) {
            EXPECT_EQ(read_file(part).size(), bytes);  // the file written after the checkpoint is gone
        }
        ::close(out);
    }
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
