#include "CBitmapDialog.h"

#include <QPainter>

#include "Resources.h"

namespace snapmend {

CBitmapDialog::CBitmapDialog(QWidget* parent) : QDialog(parent) {}

int CBitmapDialog::SetBackgroundBitmap(int bitmapId, long long)
{
    m_background = LoadBitmapResource(bitmapId);
    update();
    return 0;
}

void CBitmapDialog::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    if (m_background.isNull())
        return;
    QPainter painter(this);
    for (int y = 0; y < height(); y += m_background.height())
        for (int x = 0; x < width(); x += m_background.width())
            painter.drawImage(x, y, m_background);
}

}  // namespace snapmend
