#include "CBitmapDialog.h"

#include <QPaintEvent>
#include <QPainter>

#include "Resources.h"
#include "SkinMath.h"

namespace snapmend {

CBitmapDialog::CBitmapDialog(QWidget* parent) : QDialog(parent) {}

int CBitmapDialog::SetBackgroundBitmap(int bitmapId, long long)
{
    return SetBackgroundImage(LoadBitmapResource(bitmapId));
}

int CBitmapDialog::SetBackgroundImage(const QImage& image)
{
    m_background = QImage();
    if (!image.isNull()) {
        if (image.width() <= 0 || image.height() <= 0)
            return 1;
        m_background = image.convertToFormat(QImage::Format_RGB32);
    }
    update();
    return 0;
}

QImage CBitmapDialog::ComposeBackground(const QSize& size) const
{
    return ComposeBackgroundArea(size, QRect(QPoint(0, 0), size));
}

QImage CBitmapDialog::ComposeBackgroundArea(const QSize& size, const QRect& area) const
{
    const QRect clipped = area.intersected(QRect(QPoint(0, 0), size));
    if (clipped.isEmpty())
        return {};
    QImage composed(clipped.size(), QImage::Format_RGB32);
    composed.fill(palette().color(backgroundRole()));
    QPainter painter(&composed);
    painter.translate(-clipped.topLeft());
    for (const TilePiece& piece : BackgroundTiles(size.width(), size.height(), m_background.width(),
                                                  m_background.height()))
        painter.drawImage(QPoint(piece.x, piece.y), m_background, QRect(0, 0, piece.width, piece.height));
    return composed;
}

void CBitmapDialog::paintEvent(QPaintEvent* event)
{
    if (m_background.isNull()) {
        QDialog::paintEvent(event);
        return;
    }
    // Composed off-screen and copied in one transfer, so nothing flickers.
    const QRect area = event->rect().intersected(rect());
    const QImage composed = ComposeBackgroundArea(size(), area);
    QPainter painter(this);
    painter.drawImage(area.topLeft(), composed);
}

void CBitmapDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    if (!m_background.isNull())
        update();
}

}  // namespace snapmend
