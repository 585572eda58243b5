#include "PhotoPreview.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include "FileSystem.h"

#include "DriveRecord.h"

namespace snapmend {
namespace {

// Opens `path` for reading when it is a regular file reached without a link.
bool OpenRegularFile(const QString& path, QFile& file, qint64& bytes)
{
    UniqueFd fd = OpenForReading(path);
    if (!fd.valid())
        return false;
    const std::optional<FileStatus> status = StatusOf(fd.get());
    if (!status || status->kind != FileKind::Regular ||
        !file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return false;
    fd.release();  // the QFile closes it now
    bytes = static_cast<qint64>(status->size);
    return true;
}

QImage DecodeFitted(QFile& file, const QSize& bounds, QSize& pixelSize)
{
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize stored = reader.size();
    const QSize storedBounds = turned ? bounds.transposed() : bounds;
    if (stored.isValid() && (stored.width() > storedBounds.width() || stored.height() > storedBounds.height()))
        reader.setScaledSize(FitPreviewSize(stored, storedBounds));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    const QSize own = stored.isValid() ? stored : image.size();
    pixelSize = turned ? own.transposed() : own;
    // Decoders that ignore the scaled size leave the rest to a smooth scale.
    const QSize fitted = FitPreviewSize(image.size(), bounds);
    if (fitted != image.size())
        image = image.scaled(fitted, Qt::KeepAspectRatio, Qt::SmoothTransformation);
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
    PhotoPreview preview;
    preview.name = QFileInfo(path).fileName();
    QFile file;
    if (OpenRegularFile(path, file, preview.fileBytes))
        preview.picture = DecodeFitted(file, bounds, preview.pixelSize);
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
