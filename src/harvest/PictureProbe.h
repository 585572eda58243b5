#pragma once
#include <QByteArray>
#include <QImageReader>
#include <optional>

#include "DecodeBudget.h"

namespace snapmend {

// What the header of the picture behind `reader` declares, read without
// decoding: the reader's size, and for a JPEG (open as `fd`) its components and
// coefficient buffers as libjpeg reads them. Nothing when the size is unknown:
// a picture is never decoded without knowing what it will cost.
std::optional<DeclaredPicture> DeclarePicture(QImageReader& reader, int fd);

// Caps what any of Qt's image readers may allocate for one image at the shared
// decode budget (the readers of formats other than JPEG honour it). Idempotent.
void CapQtImageReaders();

}  // namespace snapmend
