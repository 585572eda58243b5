#include <gtest/gtest.h>

#include <QApplication>

#include "CBitmapDialog.h"
#include "PixelUtil.h"
#include "Resources.h"
#include "TestUtil.h"

namespace snapmend {
namespace {

TEST(BitmapDialog, SetBackgroundBitmapInstallsOrClears)
{
    CBitmapDialog dialog;
    EXPECT_TRUE(dialog.BackgroundBitmap().isNull());
    EXPECT_EQ(dialog.SetBackgroundBitmap(IDB_BACKGROUND, -1), 0);
    EXPECT_EQ(dialog.BackgroundBitmap().size(), QSize(634, 464));
    // A missing resource: still 0, and the previous bitmap is gone.
    EXPECT_EQ(dialog.SetBackgroundBitmap(4242, -1), 0);
    EXPECT_TRUE(dialog.BackgroundBitmap().isNull());
}

TEST(BitmapDialog, ComposesTheBitmapTiledFromTheTopLeft)
{
    CBitmapDialog dialog;
    const QImage tile = test::GradientImage(634, 464);
    dialog.SetBackgroundImage(tile);
    const QImage composed = dialog.ComposeBackground(QSize(700, 500));
    ASSERT_EQ(composed.size(), QSize(700, 500));
    struct Case {
        QPoint at, inTile;
    } const cases[] = {
        {{0, 0}, {0, 0}},       {{633, 463}, {633, 463}}, {{634, 0}, {0, 0}},  {{699, 463}, {65, 463}},
        {{0, 464}, {0, 0}},     {{633, 499}, {633, 35}},  {{634, 464}, {0, 0}}, {{699, 499}, {65, 35}},
        {{650, 470}, {16, 6}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(composed.pixel(c.at), tile.pixel(c.inTile)) << c.at.x() << "," << c.at.y();

    const QImage part = dialog.ComposeBackgroundArea(QSize(700, 500), QRect(600, 450, 60, 30));
    EXPECT_EQ(part, composed.copy(600, 450, 60, 30));
}

TEST(BitmapDialog, WithoutABitmapPaintsPlainly)
{
    CBitmapDialog dialog;
    dialog.resize(100, 80);
    dialog.SetBackgroundBitmap(4242);
    dialog.show();
    ASSERT_TRUE(test::WaitUntil([&] { return dialog.isVisible(); }));
    QApplication::processEvents();
    const QImage screen = test::ScreenPixels(&dialog);
    EXPECT_EQ(QColor(screen.pixel(50, 40)), dialog.palette().color(QPalette::Window));
}

TEST(BitmapDialog, ResizeRepaintsTheWholeBackground)
{
    CBitmapDialog dialog;
    const QImage tile = test::GradientImage(100, 80);
    dialog.SetBackgroundImage(tile);
    dialog.resize(100, 80);
    dialog.show();
    ASSERT_TRUE(test::WaitUntil([&] { return test::ScreenPixels(&dialog).size() == QSize(100, 80); }));
    dialog.resize(250, 170);
    const QImage expected = dialog.ComposeBackground(QSize(250, 170));
    EXPECT_TRUE(test::WaitUntil([&] { return test::ScreenPixels(&dialog) == expected; }));
    EXPECT_EQ(QColor(expected.pixel(210, 165)), QColor(tile.pixel(10, 5)));
}

}  // namespace
}  // namespace snapmend
