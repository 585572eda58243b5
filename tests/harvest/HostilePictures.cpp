#include "HostilePictures.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>

namespace snapmend::test {
namespace {

QByteArray Encode(const QImage& image, const char* format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    return writer.write(image) ? bytes : QByteArray();
}

QImage Solid(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(colour);
    return image;
}

void PutBe16(QByteArray& bytes, qsizetype at, int value) { qToBigEndian(static_cast<quint16>(value), bytes.data() + at); }
void PutBe32(QByteArray& bytes, qsizetype at, quint32 value) { qToBigEndian(value, bytes.data() + at); }
void PutLe16(QByteArray& bytes, qsizetype at, int value) { qToLittleEndian(static_cast<quint16>(value), bytes.data() + at); }

QByteArray Le16(int value)
{
    QByteArray bytes(2, 0);
    PutLe16(bytes, 0, value);
    return bytes;
}

QByteArray Le32(quint32 value)
{
    QByteArray bytes(4, 0);
    qToLittleEndian(value, bytes.data());
    return bytes;
}

quint32 Crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A GIF of one w x h image whose pixels are all colour 0 of a two-colour table.
QByteArray Gif(int width, int height, QColor colour)
{
    QByteArray gif("GIF89a");
    gif += Le16(width) + Le16(height);
    gif += QByteArray("\x80\x00\x00", 3);  // a global table of 2 colours
    gif += static_cast<char>(colour.red());
    gif += static_cast<char>(colour.green());
    gif += static_cast<char>(colour.blue());
    gif += QByteArray("\xff\xff\xff", 3);
    gif += QByteArray(",\0\0\0\0", 5) + Le16(width) + Le16(height) + QByteArray(1, '\0');
    gif += QByteArray("\x02\x02\x44\x01\x00;", 6);  // LZW: one pixel of colour 0, then the end
    return gif;
}

}  // namespace

QByteArray ProgressiveJpegBomb(int width, int height)
{
    QByteArray jpeg = Encode(Solid(16, 16, Qt::gray), "jpeg", true);
    const qsizetype sof = jpeg.indexOf("\xff\xc2");
    if (sof < 0)
        return {};
    PutBe16(jpeg, sof + 5, height);
    PutBe16(jpeg, sof + 7, width);
    return jpeg;
}

QByteArray PngBomb(int width, int height)
{
    QByteArray png = Encode(Solid(8, 8, Qt::gray), "png");
    const qsizetype ihdr = png.indexOf("IHDR");
    if (ihdr < 0)
        return {};
    PutBe32(png, ihdr + 4, static_cast<quint32>(width));
    PutBe32(png, ihdr + 8, static_cast<quint32>(height));
    PutBe32(png, ihdr + 17, Crc32(png.mid(ihdr, 17)));  // the chunk's CRC follows its 13 bytes
    return png;
}

QByteArray GifBomb(int width, int height) { return Gif(width, height, Qt::black); }

QByteArray TiffBomb(int width, int height)
{
    // Little-endian, one IFD of 8-bit grey uncompressed in one strip.
    const quint16 tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3}, {273, 4}, {277, 3}, {278, 4}, {279, 4}};
    const quint32 values[] = {static_cast<quint32>(width), static_cast<quint32>(height), 8, 1, 1, 8, 1,
                              static_cast<quint32>(height), static_cast<quint32>(width) * static_cast<quint32>(height)};
    QByteArray tiff("II*\0", 4);
    tiff += Le32(16) + QByteArray(8, '\0');  // the IFD after 8 bytes of pixels
    tiff += Le16(9);
    for (int i = 0; i < 9; ++i)
        tiff += Le16(tags[i][0]) + Le16(tags[i][1]) + Le32(1) + Le32(values[i]);
    tiff += Le32(0);
    return tiff;
}

QByteArray WebpBomb(int width, int height)
{
    // A lossless bitstream header: signature, 14-bit width - 1 and height - 1.
    QByteArray vp8l(1, '\x2f');
    vp8l += Le32(static_cast<quint32>(width - 1) | static_cast<quint32>(height - 1) << 14);
    vp8l += QByteArray(16, '\0');
    QByteArray webp("WEBP");
    webp += QByteArray("VP8L") + Le32(static_cast<quint32>(vp8l.size())) + vp8l;
    return QByteArray("RIFF") + Le32(static_cast<quint32>(webp.size())) + webp;
}

std::vector<NamedPicture> HostileAndOrdinaryPictures()
{
    // Extensions as the engine gives them; the content decides the decoder.
    return {
        {QStringLiteral("bomb-progressive.jpg"), ProgressiveJpegBomb(20000, 20000), QColor()},
        {QStringLiteral("bomb.png"), PngBomb(40000, 40000), QColor()},
        {QStringLiteral("bomb.gif"), GifBomb(65535, 65535), QColor()},
        {QStringLiteral("bomb.tif"), TiffBomb(60000, 60000), QColor()},
        {QStringLiteral("bomb-webp.png"), WebpBomb(16384, 16384), QColor()},
        {QStringLiteral("ordinary.jpg"), Encode(Solid(640, 480, QColor(20, 90, 200)), "jpeg"), QColor(20, 90, 200)},
        {QStringLiteral("ordinary-progressive.jpg"), Encode(Solid(1600, 1200, QColor(200, 40, 30)), "jpeg", true),
         QColor(200, 40, 30)},
        {QStringLiteral("ordinary.png"), Encode(Solid(300, 200, QColor(30, 160, 60)), "png"), QColor(30, 160, 60)},
        {QStringLiteral("ordinary.gif"), Gif(1, 1, QColor(250, 200, 0)), QColor(250, 200, 0)},
        {QStringLiteral("ordinary.tif"), Encode(Solid(120, 90, QColor(90, 0, 160)), "tiff"), QColor(90, 0, 160)},
        {QStringLiteral("ordinary-webp.png"), Encode(Solid(100, 100, QColor(0, 130, 130)), "webp"), QColor(0, 130, 130)},
    };
}

}  // namespace snapmend::test
