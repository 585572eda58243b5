#pragma once
// Builds a JPEG the way cameras store them: an APP1 "Exif" segment right after
// SOI, with IFD1 pointing at an embedded preview JPEG.
#include <QByteArray>
#include <QtEndian>

namespace snapmend::test {

inline QByteArray WithExifPreview(const QByteArray& jpeg, const QByteArray& preview, bool littleEndian = true)
{
    auto u16 = [&](quint16 v) {
        QByteArray b(2, '\0');
        littleEndian ? qToLittleEndian(v, b.data()) : qToBigEndian(v, b.data());
        return b;
    };
    auto u32 = [&](quint32 v) {
        QByteArray b(4, '\0');
        littleEndian ? qToLittleEndian(v, b.data()) : qToBigEndian(v, b.data());
        return b;
    };
    auto entry = [&](quint16 tag, quint32 value) { return u16(tag) + u16(4) + u32(1) + u32(value); };

    QByteArray tiff = littleEndian ? QByteArray("II*\0", 4) : QByteArray("MM\0*", 4);
    tiff += u32(8);                      // IFD0 at 8
    tiff += u16(0) + u32(14);            // IFD0: no entries, IFD1 at 14
    const quint32 previewOffset = 14 + 2 + 2 * 12 + 4;
    tiff += u16(2) + entry(0x0201, previewOffset) + entry(0x0202, static_cast<quint32>(preview.size())) + u32(0);
    tiff += preview;

    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    segment += char((body.size() + 2) >> 8);
    segment += char((body.size() + 2) & 0xFF);
    segment += body;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

}  // namespace snapmend::test
