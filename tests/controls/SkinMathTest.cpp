#include <gtest/gtest.h>

#include "SkinMath.h"

namespace snapmend {
namespace {

struct ShiftCase {
    ColorRef color;
    int offset;
    ColorRef expected;
};

TEST(ShiftColor, MovesAllChannelsByTheSameClampedAmount)
{
    const ShiftCase cases[] = {
        {Rgb(212, 208, 200), 30, Rgb(242, 238, 230)},
        {Rgb(255, 224, 224), 30, Rgb(255, 224, 224)},  // a channel at the limit stops the shift
        {Rgb(0, 0, 0), 255, Rgb(255, 255, 255)},
        {Rgb(250, 100, 0), 10, Rgb(255, 105, 5)},      // cut back to the room of the fullest channel
        {Rgb(10, 100, 200), -30, Rgb(0, 90, 190)},     // cut back to the emptiest channel
        {Rgb(255, 255, 255), -255, Rgb(0, 0, 0)},
        {Rgb(0, 50, 50), -1, Rgb(0, 50, 50)},
        {Rgb(12, 34, 56), 0, Rgb(12, 34, 56)},
    };
    for (const ShiftCase& c : cases)
        EXPECT_EQ(ShiftColor(c.color, c.offset), c.expected) << std::hex << c.color << " by " << std::dec << c.offset;
}

TEST(ShiftSlotColor, TestsTheSlotFirstThenTheOffset)
{
    struct Case {
        int slot;
        int offset;
        int result;
        ColorRef slotAfter;  // of slot 2 (or of the named slot when valid)
    } const cases[] = {
        {2, 30, SkinOk, Rgb(242, 238, 230)},
        {2, 256, SkinBadParameter, Rgb(212, 208, 200)},
        {2, -256, SkinBadParameter, Rgb(212, 208, 200)},
        {2, 255, SkinOk, Rgb(255, 251, 243)},
        {6, 30, SkinBadIndex, Rgb(212, 208, 200)},
        {6, 1000, SkinBadIndex, Rgb(212, 208, 200)},   // slot tested before the offset
        {-1, 10, SkinBadIndex, Rgb(212, 208, 200)},    // 255 as an unsigned byte
        {2 + 256, 30, SkinOk, Rgb(242, 238, 230)},     // slot taken as a byte
        {2, 65536 + 30, SkinOk, Rgb(242, 238, 230)},   // offset taken as 16 bits
    };
    for (const Case& c : cases) {
        ColorRef colors[6];
        for (ColorRef& color : colors)
            color = Rgb(212, 208, 200);
        EXPECT_EQ(ShiftSlotColor(colors, c.slot, c.offset), c.result) << c.slot << " " << c.offset;
        EXPECT_EQ(colors[2], c.slotAfter) << c.slot << " " << c.offset;
        for (int other : {0, 1, 3, 4, 5})
            EXPECT_EQ(colors[other], Rgb(212, 208, 200)) << "slot " << other << " touched";
    }
}

TEST(FontHeightForPoints, UsesAFixed96Dpi)
{
    const std::pair<int, int> cases[] = {{8, -10}, {9, -12}, {12, -16}, {14, -18}, {10, -13}, {11, -14}, {1, -1}, {0, 0}};
    for (const auto& [points, height] : cases)
        EXPECT_EQ(FontHeightForPoints(points), height) << points << " points";
}

TEST(BackgroundTiles, TilesFromTheTopLeftAndCutsAtTheEdges)
{
    const std::vector<TilePiece> wide = BackgroundTiles(700, 500, 634, 464);
    const std::vector<TilePiece> expected = {{0, 0, 634, 464}, {634, 0, 66, 464}, {0, 464, 634, 36}, {634, 464, 66, 36}};
    EXPECT_EQ(wide, expected);

    EXPECT_EQ(BackgroundTiles(634, 464, 634, 464), (std::vector<TilePiece>{{0, 0, 634, 464}}));
    EXPECT_EQ(BackgroundTiles(300, 200, 634, 464), (std::vector<TilePiece>{{0, 0, 300, 200}}));
    EXPECT_EQ(BackgroundTiles(25, 10, 10, 10),
              (std::vector<TilePiece>{{0, 0, 10, 10}, {10, 0, 10, 10}, {20, 0, 5, 10}}));
    EXPECT_TRUE(BackgroundTiles(0, 500, 634, 464).empty());
    EXPECT_TRUE(BackgroundTiles(700, 0, 634, 464).empty());
    EXPECT_TRUE(BackgroundTiles(700, 500, 0, 0).empty());
}

TEST(StaticTextFlags, FollowsTheStaticStyle)
{
    const QString oneLine = QStringLiteral("Loading, please wait...");
    const QString twoLines = QStringLiteral("first\r\nsecond");
    struct Case {
        unsigned style;
        QString text;
        int flags;
    } const cases[] = {
        {SS_LEFT, oneLine, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap},
        {SS_CENTER, oneLine, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap},
        {SS_RIGHT, oneLine, Qt::AlignRight | Qt::AlignTop | Qt::TextWordWrap},
        {SS_LEFTNOWORDWRAP, oneLine, Qt::AlignLeft | Qt::AlignTop},
        {0x7, oneLine, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap},  // other types: left, wrapped
        {SS_CENTER | SS_CENTERIMAGE, oneLine, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine},
        {SS_LEFT | SS_CENTERIMAGE, oneLine, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine},
        {SS_CENTER | SS_CENTERIMAGE, twoLines, Qt::AlignHCenter | Qt::AlignTop},
        {SS_CENTER, twoLines, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StaticTextFlags(c.style, c.text), c.flags) << c.style << " " << c.text.toStdString();
}

}  // namespace
}  // namespace snapmend
