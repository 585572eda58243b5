#pragma once
#include <QRect>

namespace snapmend {

// Window rectangles as the layout rules state them: right and bottom are
// exclusive edges (left + width, top + height), unlike QRect::right()/bottom().
inline int RightEdge(const QRect& r) { return r.x() + r.width(); }
inline int BottomEdge(const QRect& r) { return r.y() + r.height(); }
inline QRect RectFromEdges(int left, int top, int right, int bottom)
{
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

}  // namespace snapmend
