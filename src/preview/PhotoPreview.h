#pragma once
#include <QImage>
#include <QSize>
#include <QString>

namespace snapmend {

// One photo decoded for a closer look.
struct PhotoPreview {
    QString name;          // the file's name, without its folder
    QImage picture;        // the photo fitted to the bounds, or the fallback picture
    QSize pixelSize;       // the photo's own size, upright; invalid when not decoded
    qint64 fileBytes = -1; // -1 when the file cannot be opened
    bool decoded = false;
    bool tooLarge = false;  // not decoded: the picture declares more than the decode budget
};

// `size` scaled to fit inside `bounds`, proportions kept; never enlarged.
QSize FitPreviewSize(const QSize& size, const QSize& bounds);

// Decodes the photo at `path` at most as large as `bounds` (a large JPEG is
// decoded at the reduced size by the decoder itself), turned upright by its
// orientation tag, within the shared decode budget (DecodeBudget.h). Only a
// regular file is read, never through a link; `path` is a stored workspace
// path (WorkspaceFile.h). A file the decoder rejects, or one whose header
// declares more than the budget, gives `fallbackPicture` instead, with
// decoded false. Safe to call on any thread.
PhotoPreview DecodePhotoPreview(const QString& path, const QSize& bounds, const QString& fallbackPicture);

// The line under the picture: name, pixel size and file size, or that the
// file cannot be shown as a photo, or is too large to show.
QString PreviewCaption(const PhotoPreview& preview);

}  // namespace snapmend
