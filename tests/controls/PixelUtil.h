#pragma once
// Helpers for the pixel tests of the skinned controls.
#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace snapmend::test {

// Bounding box of the pixels of exactly `color`; empty when there are none.
inline QRect ColorBox(const QImage& image, const QColor& color)
{
    const QRgb wanted = color.rgb();
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (wanted & 0xFFFFFF))
                box |= QRect(x, y, 1, 1);
    return box;
}

inline int CountColor(const QImage& image, const QColor& color)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (color.rgb() & 0xFFFFFF))
                ++count;
    return count;
}

// A gradient no two pixels of which share a colour within 256 x 256.
inline QImage GradientImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, ((x >> 8) * 40 + (y >> 8) * 80 + 30) & 0xFF));
    return image;
}

// What is on the (offscreen) screen for `widget`'s window, in window coordinates.
inline QImage ScreenPixels(QWidget* window)
{
    QScreen* screen = window->screen();
    return screen->grabWindow(window->winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

inline void SendMouse(QWidget* widget, QEvent::Type type, const QPoint& pos,
                      Qt::MouseButton button = Qt::LeftButton,
                      Qt::MouseButtons buttons = Qt::LeftButton)
{
    QMouseEvent event(type, QPointF(pos), QPointF(widget->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// A font that draws without antialiasing, so text pixels have the exact pen colour.
inline QFont CrispFont(int pixelSize, bool bold = true)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

}  // namespace snapmend::test
