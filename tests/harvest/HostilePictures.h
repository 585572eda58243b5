#pragma once
#include <QByteArray>
#include <QColor>
#include <QString>
#include <vector>

namespace snapmend::test {

// Small files whose headers declare pictures far beyond any decode budget.
QByteArray ProgressiveJpegBomb(int width, int height);
QByteArray PngBomb(int width, int height);
QByteArray GifBomb(int width, int height);
QByteArray TiffBomb(int width, int height);
QByteArray WebpBomb(int width, int height);  // at most 16384 x 16384

struct NamedPicture {
    QString name;
    QByteArray bytes;
    QColor colour;  // the ordinary picture's one colour; invalid for a bomb
};

// Each kind of bomb above, and ordinary one-colour pictures of the same formats.
std::vector<NamedPicture> HostileAndOrdinaryPictures();

}  // namespace snapmend::test
