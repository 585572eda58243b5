#include "Resources.h"

namespace snapmend {

QImage LoadBitmapResource(int id)
{
    if (id != IDB_BACKGROUND)
        return {};
    QImage image(634, 464, QImage::Format_RGB888);
    image.fill(QColor(123, 104, 238));
    return image;
}

QIcon LoadIconResource(int) { return {}; }

bool LoadCursorResource(int id, QCursor& cursor)
{
    if (id != IDC_HAND)
        return false;
    cursor = QCursor(Qt::PointingHandCursor);
    return true;
}

}  // namespace snapmend
