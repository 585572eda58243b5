#pragma once
#include <QImage>
#include <QString>

namespace snapmend {

// Decodes the JPEG file at 1/`denominator` of its size (1, 2, 4 or 8) for a
// thumbnail: the decoder scales in the DCT, with the fast integer DCT and
// plain upsampling. A progressive file reduced to 1/8 is decoded from its
// first scan alone when that scan carries every component's DC
// coefficients, which is all a 1/8 picture needs. A null image when the file
// cannot be decoded this way (then the caller decodes it otherwise).
QImage DecodeJpegScaled(const QString& path, int denominator);

}  // namespace snapmend
