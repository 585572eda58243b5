#include "PictureProbe.h"

#include <mutex>

#include "ScaledJpeg.h"

namespace snapmend {

std::optional<DeclaredPicture> DeclarePicture(QImageReader& reader, int fd)
{
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return std::nullopt;
    const QByteArray format = reader.format();
    DeclaredPicture declared;
    declared.size = size;
    if (format == "gif")
        declared.kind = DeclaredPicture::Kind::Gif;
    if (format != "jpeg")
        return declared;
    const std::optional<JpegHeader> header = ReadJpegHeader(fd);
    if (!header || header->size != size)
        return std::nullopt;
    declared.kind = DeclaredPicture::Kind::Jpeg;
    declared.components = header->components;
    declared.coefficientBytes = header->coefficientBytes;
    return declared;
}

void CapQtImageReaders()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(static_cast<int>(DecodeBudget::kSharedBytes >> 20)); });
}

}  // namespace snapmend
