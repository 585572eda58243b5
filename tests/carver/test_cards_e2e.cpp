// Cards as cameras and phones leave them: fragmented deleted photos and clips
// come back whole, or as their own proven head, never with other files' bytes.
#include <gtest/gtest.h>

#include "cards.h"

namespace {

using namespace carver_test;

struct CardCase {
    const char* label;
    bool (*make)(const std::string&, const TempDir&, Card&);
    int min_whole;    // of the fragmented deleted files
    int max_missing;  // neither whole nor a partial head
};

const CardCase kCards[] = {
    {"Camera", make_camera_card, 21, 0},
    {"Phone", make_phone_card, 11, 0},
};

class Cards : public ::testing::TestWithParam<CardCase> {};

TEST_P(Cards, FragmentedFilesComeBackWholeOrAsTheirOwnHead) {
    const CardCase& c = GetParam();
    TempDir tmp;
    Card card;
    if (!c.make(tmp / "card.img", tmp, card)) GTEST_SKIP() << "needs ImageMagick, ffmpeg, mkfs.vfat, mtools, mkfs.exfat";
    ASSERT_GE(card.files.size(), 7u) << "the card holds too few fragmented files to tell anything";
    RunResult r = run_photo({"/d", tmp / "out", "/cmd", tmp / "card.img", "fileopt,everything,enable,search"});
    ASSERT_EQ(r.status, 0) << r.err;
    Tally t = tally(tmp / "out", card);
    EXPECT_GE(t.whole, c.min_whole) << card.label << ": " << t.partial << " partial, " << t.missing << " missing";
    EXPECT_LE(t.missing, c.max_missing);
    EXPECT_EQ(t.foreign, "") << "partial files holding other files' bytes";
    EXPECT_EQ(t.unplayable, "") << "partial clips that do not play";
    std::printf("[%s] %zu fragmented: %d whole, %d partial, %d missing\n", card.label.c_str(), card.files.size(),
                t.whole, t.partial, t.missing);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Cards, ::testing::ValuesIn(kCards),
                         [](const ::testing::TestParamInfo<CardCase>& i) { return std::string(i.param.label); });

}  // namespace
