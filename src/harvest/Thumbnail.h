#pragma once
#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

namespace snapmend {

// A picture decoded for a thumbnail: the pixels (possibly decoded at a reduced
// size) and the picture's own size, which the geometry is computed from.
struct DecodedPicture {
    QImage pixels;
    QSize originalSize;
};

// Decodes a picture file. A JPEG with an embedded camera preview of the same
// shape, at least as large as the drawn thumbnail, gives that preview; another
// JPEG much larger than the thumbnail is decoded at 1/2, 1/4 or 1/8 of its size
// by the decoder itself. Every decode first obtains its share of the shared
// decode budget from what the header declares; nothing when the picture
// cannot be read or would need more than the whole budget. `path` is a
// stored workspace path (WorkspaceFile.h).
std::optional<DecodedPicture> DecodeForThumbnail(const QString& path);

// True when the picture decoder can read the file.
bool IsDecodableImage(const QString& path);

// The 64 x 64 RGB888 thumbnail: white, with the picture resampled (Catmull-Rom,
// in sRGB) into the rectangle of ComputeThumbnailRect(original size).
// Transparent parts show the white background.
QImage RenderThumbnail(const DecodedPicture& picture);

// Decodes and renders; nothing when the file cannot be decoded.
std::optional<QImage> MakeThumbnail(const QString& path);

}  // namespace snapmend
