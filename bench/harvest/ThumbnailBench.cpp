// Prints the cost of one thumbnail for a 24-megapixel JPEG against a 640 x 480
// one (decode at a reduced size + Catmull-Rom resampling).
#include <QCoreApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "DecodeBudget.h"
#include "ExifSample.h"
#include "ScaledJpeg.h"
#include "StbResize.h"
#include "ThumbnailResample.h"
#include "Thumbnail.h"
#include "WorkspaceFile.h"

using namespace snapmend;

namespace {

// A photo-like picture: gradients and shapes, so the JPEG is not trivially small.
QImage Scene(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB888);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(40, 90, 200));
    sky.setColorAt(1, QColor(240, 200, 120));
    p.fillRect(image.rect(), sky);
    for (int i = 0; i < 40; ++i) {
        p.setBrush(QColor::fromHsv((i * 37) % 360, 180, 200));
        p.drawEllipse(QPointF(w * ((i * 53) % 100) / 100.0, h * ((i * 29) % 100) / 100.0), w / 12.0, h / 10.0);
    }
    return image;
}

double MedianMs(const QString& path, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        const std::optional<QImage> thumb = MakeThumbnail(path);
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (!thumb)
            return -1;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A plain full-size decode, for comparison with the reduced one.
double FullDecodeMs(const QString& path, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        QImageReader reader(path);
        const QImage image = reader.read();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (image.isNull())
            return -1;
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

template <typename Work>
double MedianOf(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Where a small photo's thumbnail spends its time: the whole decode, the
// scaled decode alone, and the resampling into the thumbnail.
void PrintPhases(const QString& path, int runs)
{
    const std::optional<DecodedPicture> picture = DecodeForThumbnail(path);
    if (!picture)
        return;
    const int denominator = picture->originalSize.width() / std::max(picture->pixels.width(), 1);
    const double decode = MedianOf(runs, [&] { DecodeForThumbnail(path); });
    const UniqueFd fd = OpenWorkspaceFile(path);
    const double scaled = MedianOf(runs, [&] { DecodeJpegScaled(fd.get(), denominator, DecodeBudget::kSharedBytes); });
    const double render = MedianOf(runs, [&] { RenderThumbnail(*picture); });
    const QImage rgb = picture->pixels.convertToFormat(QImage::Format_RGB888);
    QImage out(64, 48, QImage::Format_RGB888);
    const double own = MedianOf(runs, [&] {
        ResampleRgbCatmullRom(rgb.constBits(), rgb.width(), rgb.height(), static_cast<int>(rgb.bytesPerLine()),
                              out.bits(), 64, 48, static_cast<int>(out.bytesPerLine()));
    });
    const double library = MedianOf(runs, [&] {
        ResampleCatmullRom(rgb.constBits(), rgb.width(), rgb.height(), static_cast<int>(rgb.bytesPerLine()),
                           out.bits(), 64, 48, static_cast<int>(out.bytesPerLine()), 3);
    });
    std::printf("  resampling to 64x48: own %.3f ms, stb_image_resize %.3f ms\n", own, library);
    std::printf("  phases: DecodeForThumbnail %.3f ms (scaled decode 1/%d alone %.3f ms), render %.3f ms from %dx%d\n",
                decode, denominator, scaled, render, picture->pixels.width(), picture->pixels.height());
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    const QString big = dir.path() + "/24mp.jpg";
    const QString small = dir.path() + "/vga.jpg";
    if (!Scene(6000, 4000).save(big, "JPEG", 90) || !Scene(640, 480).save(small, "JPEG", 90)) {
        std::fprintf(stderr, "cannot write the sample pictures\n");
        return 1;
    }
    // A camera's photo: the same 24 MP picture with its 160 x 107 preview in EXIF.
    const QString camera = dir.path() + "/camera.jpg";
    {
        QByteArray jpeg, preview;
        QBuffer jpegBuffer(&jpeg), previewBuffer(&preview);
        jpegBuffer.open(QIODevice::WriteOnly);
        previewBuffer.open(QIODevice::WriteOnly);
        const QImage scene = Scene(6000, 4000);
        scene.save(&jpegBuffer, "JPEG", 90);
        scene.scaled(160, 107, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(&previewBuffer, "JPEG", 85);
        QFile file(camera);
        if (!file.open(QIODevice::WriteOnly) || file.write(test::WithExifPreview(jpeg, preview)) <= 0) {
            std::fprintf(stderr, "cannot write the camera sample\n");
            return 1;
        }
    }
    // The same picture written progressive: a 1/8 decode reads its first (DC) scan only.
    const QString progressive = dir.path() + "/24mp-progressive.jpg";
    {
        QImageWriter writer(progressive, "jpeg");
        writer.setQuality(90);
        writer.setProgressiveScanWrite(true);
        if (!writer.write(Scene(6000, 4000))) {
            std::fprintf(stderr, "cannot write the progressive sample\n");
            return 1;
        }
    }
    const double bigMs = MedianMs(big, 9);
    const double progressiveMs = MedianMs(progressive, 9);
    const double cameraMs = MedianMs(camera, 9);
    const double smallMs = MedianMs(small, 9);
    std::printf("thumbnail 640x480 JPEG:                       %.2f ms (median of 9)\n", smallMs);
    PrintPhases(small, 51);
    std::printf("thumbnail 24 MP camera JPEG (EXIF preview):   %.2f ms, %.2fx (target < 5x)\n", cameraMs,
                cameraMs / smallMs);
    std::printf("thumbnail 24 MP JPEG without preview (1/8 decode): %.2f ms, %.2fx\n", bigMs, bigMs / smallMs);
    std::printf("thumbnail 24 MP progressive JPEG (DC scan only): %.2f ms, %.2fx\n", progressiveMs,
                progressiveMs / smallMs);
    std::printf("for comparison, a full-size decode of the 24 MP JPEG alone: %.2f ms\n", FullDecodeMs(big, 5));
    return 0;
}
