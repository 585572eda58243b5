// The copy-first map file: what is written reads back, and text that is no
// map is refused.
#include <gtest/gtest.h>

#include "core/imaging.h"

using namespace carver;

namespace {

TEST(MapFile, ReadsBackWhatItWritesAndRefusesWhatIsNoMap) {
    const std::vector<MapRange> ranges = {{0, 0x7800000, '+'}, {0x7800000, 0xA00000, '-'}, {0x8200000, 0x200, '?'}};
    std::vector<MapRange> back;
    std::string err;
    ASSERT_TRUE(parse_map(format_map(ranges, 0x8200000, false), back, err)) << err;
    ASSERT_EQ(back.size(), ranges.size());
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].pos, ranges[i].pos);
        EXPECT_EQ(back[i].size, ranges[i].size);
        EXPECT_EQ(back[i].status, ranges[i].status);
    }
    // Decimal numbers, comments and a status line without the pass are fine.
    ASSERT_TRUE(parse_map("# c\n0 ?\n0 512 +\n512 0x200 *\n", back, err)) << err;
    EXPECT_EQ(back.size(), 2u);

    const char* refused[] = {
        "",                                          // no status line
        "# only comments\n",
        "0x0 + 1\n0x0 0x0 +\n",                      // empty range
        "0x0 + 1\n0x0 0x200 x\n",                    // unknown status
        "0x0 + 1\n0x400 0x200 +\n0x200 0x200 +\n",   // out of order
        "0x0 + 1\n0x0 0x400 +\n0x200 0x200 +\n",     // overlapping
        "0x0 + 1\n0xFFFFFFFFFFFFFF00 0x200 +\n",     // past 2^64
        "zz + 1\n",
        "0x0 + 1\n0x0 +\n",                          // no size
        "0x0 + 1\n0x0 0x99999999999999999999 +\n",   // too large a number
    };
    for (const char* text : refused) EXPECT_FALSE(parse_map(text, back, err)) << "'" << text << "'";
}

}  // namespace
