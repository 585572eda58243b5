#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

#include "ExifPreview.h"
#include "ExifSample.h"
#include "Thumbnail.h"

using namespace snapmend;

namespace {

QByteArray Jpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

QImage Plain(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(colour);
    return image;
}

std::optional<ExifPreview> Find(const QByteArray& bytes)
{
    return FindExifPreview(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
}

}  // namespace

TEST(ExifPreviewTest, FindsThePreviewInBothByteOrders)
{
    const QByteArray main = Jpeg(Plain(300, 200, Qt::red));
    const QByteArray preview = Jpeg(Plain(150, 100, Qt::blue));
    for (bool little : {true, false}) {
        const QByteArray file = test::WithExifPreview(main, preview, little);
        const auto found = Find(file);
        ASSERT_TRUE(found) << (little ? "II" : "MM");
        EXPECT_EQ(file.mid(static_cast<qsizetype>(found->offset), static_cast<qsizetype>(found->length)), preview);
    }
    EXPECT_FALSE(Find(main)) << "no EXIF block";
}

TEST(ExifPreviewTest, RejectsEveryTruncationAndRandomDamageWithoutReadingOutside)
{
    const QByteArray file = test::WithExifPreview(Jpeg(Plain(64, 64, Qt::red)), Jpeg(Plain(32, 32, Qt::blue)));
    // Every prefix: exact-size copies, so a read past the end is caught by ASan.
    for (qsizetype n = 0; n < file.size(); ++n) {
        std::vector<std::uint8_t> prefix(file.begin(), file.begin() + n);
        const auto found = FindExifPreview(prefix.data(), prefix.size());
        if (found) {
            EXPECT_LE(found->offset + found->length, prefix.size());
        }
    }
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint8_t> damaged(file.begin(), file.begin() + std::min<qsizetype>(file.size(), 400));
        for (int flips = 0; flips < 4; ++flips)
            damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
        const auto found = FindExifPreview(damaged.data(), damaged.size());
        if (found) {
            ASSERT_LE(found->offset + found->length, damaged.size());
        }
    }
}

TEST(ExifPreviewTest, ThumbnailUsesAMatchingPreviewAndIgnoresAMismatchedOne)
{
    QTemporaryDir dir;
    const QByteArray main = Jpeg(Plain(1200, 800, Qt::red));
    struct Case { QSize previewSize; QColor expected; const char* why; };
    const Case cases[] = {
        {{160, 107}, Qt::blue, "same shape: the preview is drawn"},
        {{160, 120}, Qt::red, "4:3 preview of a 3:2 picture: the picture itself"},
        {{48, 32}, Qt::red, "smaller than the drawn 64 x 42: the picture itself"},
    };
    for (const Case& c : cases) {
        const QString path = dir.path() + "/camera.jpg";
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(test::WithExifPreview(main, Jpeg(Plain(c.previewSize.width(), c.previewSize.height(), Qt::blue))));
        file.close();
        const auto picture = DecodeForThumbnail(path);
        ASSERT_TRUE(picture) << c.why;
        EXPECT_EQ(picture->originalSize, QSize(1200, 800)) << "geometry comes from the picture, " << c.why;
        const QImage thumb = RenderThumbnail(*picture);
        const QColor centre = thumb.pixelColor(32, 32);
        EXPECT_LT(std::abs(centre.red() - c.expected.red()) + std::abs(centre.blue() - c.expected.blue()), 40)
            << c.why;
        EXPECT_EQ(thumb.pixelColor(32, 2), QColor(Qt::white)) << "margin above the 64 x 42 picture, " << c.why;
    }
}
