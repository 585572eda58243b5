#include <gtest/gtest.h>

#include <QFile>

#include "Resources.h"

namespace snapmend {
namespace {

TEST(Resources, BackgroundBitmapIsOneColour24BitAtItsSize)
{
    const QImage image = LoadBitmapResource(IDB_BACKGROUND);
    ASSERT_EQ(image.size(), QSize(634, 464));
    int other = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0x7B68EE)
                ++other;
    EXPECT_EQ(other, 0);

    QFile file(QStringLiteral(":/snapmend/background.bmp"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GE(bytes.size(), 54);
    EXPECT_EQ(bytes.left(2), QByteArray("BM"));
    EXPECT_EQ(static_cast<unsigned char>(bytes[28]), 24u);  // bits per pixel
    EXPECT_EQ(static_cast<unsigned char>(bytes[30]), 0u);   // uncompressed
    EXPECT_EQ(bytes.size(), 54 + 1904 * 464);
}

TEST(Resources, IconAndHandCursor)
{
    const QIcon icon = LoadIconResource(IDR_MAINFRAME);
    ASSERT_FALSE(icon.isNull());
    EXPECT_FALSE(icon.pixmap(32, 32).isNull());

    QCursor cursor(Qt::WaitCursor);
    ASSERT_TRUE(LoadCursorResource(IDC_HAND, cursor));
    EXPECT_EQ(cursor.hotSpot(), QPoint(5, 0));
    const QImage hand = cursor.pixmap().toImage();
    ASSERT_EQ(hand.size(), QSize(32, 32));
    EXPECT_EQ(qAlpha(hand.pixel(5, 0)), 255);  // the fingertip is the hot spot
    EXPECT_EQ(qAlpha(hand.pixel(31, 31)), 0);
}

TEST(Resources, UnknownIdsGiveNothing)
{
    EXPECT_TRUE(LoadBitmapResource(IDR_MAINFRAME).isNull());
    EXPECT_TRUE(LoadIconResource(IDB_BACKGROUND).isNull());
    QCursor cursor(Qt::WaitCursor);
    EXPECT_FALSE(LoadCursorResource(IDB_BACKGROUND, cursor));
    EXPECT_EQ(cursor.shape(), Qt::WaitCursor);
}

}  // namespace
}  // namespace snapmend
