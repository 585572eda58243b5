#include "PhotoPreview.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include "DecodeBudget.h"
#include "FileSystem.h"
#include "PictureProbe.h"
#include "WorkspaceFile.h"

#include "DriveRecord.h"

namespace snapmend {
namespace {

// Opens `path` for reading when it is a regular file reached without a link.
bool OpenRegularFile(const QString& path, QFile& file, qint64& bytes)
{
    UniqueFd fd = OpenWorkspaceFile(path);
    if (!fd.valid())
        return false;
    const std::optional<FileStatus> status = StatusOf(fd.get());
    if (!status || !file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return false;
    fd.release();  // the QFile closes it now
    bytes = static_cast<qint64>(status->size);
    return true;
}

// What the decoder hands out for a picture fitted into `bounds`: a JPEG
// decoder scales in the DCT by halves, so up to twice the fitted size.
QSize DecoderOutputSize(const DeclaredPicture& declared, const QSize& fitted)
{
    if (declared.kind != DeclaredPicture::Kind::Jpeg)
        return declared.size;
    return (fitted * 2).boundedTo(declared.size);
}

QImage DecodeFitted(QFile& file, const QSize& bounds, PhotoPreview& preview)
{
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    const std::optional<DeclaredPicture> declared = DeclarePicture(reader, static_cast<int>(file.handle()));
    if (!declared)
        return {};
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize stored = declared->size;
    const QSize storedBounds = turned ? bounds.transposed() : bounds;
    const QSize fitted = FitPreviewSize(stored, storedBounds);
    const std::optional<quint64> cost = DecodeCostBytes(*declared, DecoderOutputSize(*declared, fitted));
    const DecodeGrant grant = cost ? DecodeBudget::Shared().Acquire(*cost) : DecodeGrant();
    if (!grant.Granted()) {
        preview.tooLarge = true;
        return {};
    }
    if (fitted != stored)
        reader.setScaledSize(fitted);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    preview.pixelSize = turned ? stored.transposed() : stored;
    // Decoders that ignore the scaled size leave the rest to a smooth scale.
    const QSize shown = FitPreviewSize(image.size(), bounds);
    if (shown != image.size())
        image = image.scaled(shown, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

}  // namespace

QSize FitPreviewSize(const QSize& size, const QSize& bounds)
{
    if (size.isEmpty() || bounds.isEmpty())
        return size;  // nothing to fit
    if (size.width() <= bounds.width() && size.height() <= bounds.height())
        return size;
    return size.scaled(bounds, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

PhotoPreview DecodePhotoPreview(const QString& path, const QSize& bounds, const QString& fallbackPicture)
{
    CapQtImageReaders();
    PhotoPreview preview;
    preview.name = DisplayText(QFileInfo(path).fileName());
    QFile file;
    if (OpenRegularFile(path, file, preview.fileBytes))
        preview.picture = DecodeFitted(file, bounds, preview);
    preview.decoded = !preview.picture.isNull();
    if (!preview.decoded) {
        preview.pixelSize = QSize();
        preview.picture = QImage(fallbackPicture);
    }
    return preview;
}

QString PreviewCaption(const PhotoPreview& preview)
{
    // Sizes read as everywhere else in the window ("12 bytes", "2.4 MB").
    const QString size = preview.fileBytes < 0 ? QString() : FormatSize(preview.fileBytes);
    if (preview.tooLarge)
        return QStringLiteral("%1 is too large to show.").arg(preview.name);
    if (!preview.decoded) {
        QString text = QStringLiteral("%1: this file cannot be shown as a photo").arg(preview.name);
        if (!size.isEmpty())
            text += QStringLiteral(" (%1)").arg(size);
        return text + QLatin1Char('.');
    }
    return QStringLiteral("%1    %2 x %3 pixels    %4")
        .arg(preview.name)
        .arg(preview.pixelSize.width())
        .arg(preview.pixelSize.height())
        .arg(size);
}

}  // namespace snapmend
