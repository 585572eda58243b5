#include "Thumbnail.h"

#include <QFile>
#include <QImageReader>
#include <cerrno>
#include <cmath>
#include <unistd.h>
#include <vector>

#include "DecodeBudget.h"
#include "ExifPreview.h"
#include "PictureProbe.h"
#include "ScaledJpeg.h"
#include "StbResize.h"
#include "ThumbnailGeometry.h"
#include "ThumbnailResample.h"
#include "WorkspaceFile.h"

namespace snapmend {
namespace {

// The EXIF block sits in the first 64 KiB segment, possibly after a JFIF one.
constexpr qint64 kExifSearchBytes = 2 * 65536 + 4;
constexpr double kAspectTolerance = 0.02;
constexpr int kFastDecodeQuality = 25;

QByteArray ReadHead(int fd)
{
    QByteArray head(kExifSearchBytes, Qt::Uninitialized);
    qint64 got = 0;
    while (got < kExifSearchBytes) {
        const ssize_t n = ::pread(fd, head.data() + got, static_cast<size_t>(kExifSearchBytes - got), got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    head.truncate(got);
    return head;
}

// The embedded JPEG decoded within the shared budget, at its own size.
QImage DecodeEmbeddedJpeg(const uchar* data, std::size_t size)
{
    const std::optional<JpegHeader> header = ReadJpegHeader(data, size);
    if (!header)
        return {};
    DeclaredPicture declared{DeclaredPicture::Kind::Jpeg, header->size, header->components, header->coefficientBytes};
    const std::optional<quint64> cost = DecodeCostBytes(declared, header->size);
    if (!cost)
        return {};
    const DecodeGrant grant = DecodeBudget::Shared().Acquire(*cost);
    if (!grant.Granted())
        return {};
    return QImage::fromData(QByteArrayView(data, static_cast<qsizetype>(size)), "JPEG");
}

// A camera's embedded preview, when it shows the same picture at least at the
// thumbnail's drawn size: decoding it costs the same for a 24-megapixel photo
// as for a small one.
QImage DecodeExifPreview(int fd, const QSize& pictureSize)
{
    const QByteArray head = ReadHead(fd);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(head.constData());
    const std::optional<ExifPreview> preview = FindExifPreview(bytes, static_cast<std::size_t>(head.size()));
    if (!preview)
        return {};
    const QImage image = DecodeEmbeddedJpeg(bytes + preview->offset, preview->length);
    if (image.isNull())
        return {};
    const ThumbnailRect drawn = ComputeThumbnailRect(pictureSize.width(), pictureSize.height());
    const double pictureAspect = static_cast<double>(pictureSize.width()) / pictureSize.height();
    const double previewAspect = static_cast<double>(image.width()) / image.height();
    if (image.width() < drawn.width || image.height() < drawn.height ||
        std::abs(previewAspect / pictureAspect - 1.0) > kAspectTolerance)
        return {};
    return image;
}

// The 1/n reduction (8, 4 or 2) that ReducedDecodeSize chose.
int ReductionOf(const QSize& size, const QSize& reduced)
{
    for (int n : {8, 4, 2})
        if ((size.width() + n - 1) / n == reduced.width())
            return n;
    return 1;
}

// A JPEG: its camera preview when good enough, else the picture decoded at
// the reduced size, by our capped decoder or, for what it declines (CMYK),
// Qt's, which then runs within the same grant: what it may allocate follows
// from the header the grant was sized by.
QImage DecodeJpeg(int fd, QImageReader& reader, const DeclaredPicture& declared)
{
    QImage preview = DecodeExifPreview(fd, declared.size);
    if (!preview.isNull())
        return preview;
    const QSize size = declared.size;
    const QSize reduced = ReducedDecodeSize(size.width(), size.height(), ComputeThumbnailRect(size.width(), size.height()));
    const std::optional<quint64> cost = DecodeCostBytes(declared, reduced);
    if (!cost)
        return {};
    const DecodeGrant grant = DecodeBudget::Shared().Acquire(*cost);
    if (!grant.Granted())
        return {};
    QImage scaled = DecodeJpegScaled(fd, ReductionOf(size, reduced), grant.Bytes());
    if (scaled.size() == reduced)
        return scaled;
    if (reduced != size) {
        // Qt's decoder also scales in the DCT; a quality below 50 makes it use
        // the fast integer DCT and plain upsampling too.
        reader.setScaledSize(reduced);
        reader.setQuality(kFastDecodeQuality);
    }
    return reader.read();
}

QImage DecodeOther(QImageReader& reader, const DeclaredPicture& declared)
{
    const std::optional<quint64> cost = DecodeCostBytes(declared, declared.size);
    if (!cost)
        return {};
    const DecodeGrant grant = DecodeBudget::Shared().Acquire(*cost);
    if (!grant.Granted())
        return {};
    return reader.read();
}

}  // namespace

std::optional<DecodedPicture> DecodeForThumbnail(const QString& path)
{
    CapQtImageReaders();
    const UniqueFd fd = OpenWorkspaceFile(path);
    QFile file;
    if (!fd.valid() || !file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return std::nullopt;
    QImageReader reader(&file);
    reader.setAutoTransform(false);
    const std::optional<DeclaredPicture> declared = DeclarePicture(reader, fd.get());
    if (!declared)
        return std::nullopt;
    QImage pixels = declared->kind == DeclaredPicture::Kind::Jpeg ? DecodeJpeg(fd.get(), reader, *declared)
                                                                  : DecodeOther(reader, *declared);
    if (pixels.isNull())
        return std::nullopt;
    return DecodedPicture{std::move(pixels), declared->size};
}

bool IsDecodableImage(const QString& path)
{
    return DecodeForThumbnail(path).has_value();
}

QImage RenderThumbnail(const DecodedPicture& picture)
{
    QImage out(kThumbnailEdge, kThumbnailEdge, QImage::Format_RGB888);
    out.fill(Qt::white);
    const ThumbnailRect r = ComputeThumbnailRect(picture.originalSize.width(), picture.originalSize.height());
    // Truncation can make a side 0 (a 1000 x 1 strip): nothing to draw.
    if (r.width <= 0 || r.height <= 0 || picture.pixels.isNull())
        return out;

    uchar* target = out.bits() + r.y * out.bytesPerLine() + r.x * 3;
    if (!picture.pixels.hasAlphaChannel()) {
        const QImage rgb = picture.pixels.convertToFormat(QImage::Format_RGB888);
        ResampleRgbCatmullRom(rgb.constBits(), rgb.width(), rgb.height(), static_cast<int>(rgb.bytesPerLine()),
                              target, r.width, r.height, static_cast<int>(out.bytesPerLine()));
        return out;
    }
    // With alpha: resample straight RGBA (alpha-weighted), then blend onto white.
    const QImage rgba = picture.pixels.convertToFormat(QImage::Format_RGBA8888);
    std::vector<uchar> scaled(static_cast<size_t>(r.width) * static_cast<size_t>(r.height) * 4);
    ResampleCatmullRom(rgba.constBits(), rgba.width(), rgba.height(), static_cast<int>(rgba.bytesPerLine()),
                       scaled.data(), r.width, r.height, r.width * 4, 4);
    for (int row = 0; row < r.height; ++row) {
        const uchar* src = scaled.data() + static_cast<size_t>(row) * static_cast<size_t>(r.width) * 4;
        uchar* dst = target + row * out.bytesPerLine();
        for (int col = 0; col < r.width; ++col, src += 4, dst += 3) {
            const int a = src[3];
            for (int c = 0; c < 3; ++c)
                dst[c] = static_cast<uchar>((src[c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
    return out;
}

std::optional<QImage> MakeThumbnail(const QString& path)
{
    const std::optional<DecodedPicture> picture = DecodeForThumbnail(path);
    if (!picture)
        return std::nullopt;
    return RenderThumbnail(*picture);
}

}  // namespace snapmend
