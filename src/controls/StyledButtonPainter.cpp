#include "StyledButtonPainter.h"

#include <QFontMetrics>
#include <QPainter>
#include <vector>

#include "SkinMath.h"

namespace snapmend {
namespace {

constexpr int kCaptionFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;

// One-pixel frame around `rect`.
void FrameRect(QPainter& painter, const QRect& rect, const QColor& color)
{
    if (rect.isEmpty())
        return;
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), color);
    painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), color);
    painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height()), color);
    painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), color);
}

// Top and left edges in `topLeft` (one pixel short of the far corner), right and
// bottom edges in `bottomRight` over their full length.
void Draw3dRect(QPainter& painter, const QRect& rect, const QColor& topLeft, const QColor& bottomRight)
{
    const int x = rect.left(), y = rect.top(), w = rect.width(), h = rect.height();
    if (w <= 0 || h <= 0)
        return;
    painter.fillRect(QRect(x, y, w - 1, 1), topLeft);
    painter.fillRect(QRect(x, y, 1, h - 1), topLeft);
    painter.fillRect(QRect(x + w - 1, y, 1, h), bottomRight);
    painter.fillRect(QRect(x, y + h - 1, w, 1), bottomRight);
}

}  // namespace

ButtonSystemColors ButtonSystemColors::FromPalette(const QPalette& palette)
{
    ButtonSystemColors c;
    c.face = palette.color(QPalette::Button);
    c.text = palette.color(QPalette::ButtonText);
    c.highlight = palette.color(QPalette::Light);
    c.light = palette.color(QPalette::Midlight);
    c.shadow = palette.color(QPalette::Dark);
    c.darkShadow = palette.color(QPalette::Shadow);
    return c;
}

QColor StyledButtonPainter::BackColor() const
{
    if (m_state.hovered || m_state.pressed)
        return ToQColor(m_state.colors[SlotBackActive]);
    if (m_state.focused)
        return ToQColor(m_state.colors[SlotBackFocused]);
    return ToQColor(m_state.colors[SlotBackNormal]);
}

QColor StyledButtonPainter::TextColor() const
{
    if (m_state.hovered || m_state.pressed)
        return ToQColor(m_state.colors[SlotTextActive]);
    if (m_state.focused)
        return ToQColor(m_state.colors[SlotTextFocused]);
    return ToQColor(m_state.colors[SlotTextNormal]);
}

void StyledButtonPainter::Paint(QPainter& painter, const QRect& itemRect)
{
    QRect rect = itemRect;
    painter.save();
    painter.setFont(m_state.font);
    if (m_state.transparent)
        PaintParentBackground(painter, rect);
    else
        PaintBackground(painter, rect);
    PaintBorder(painter, rect);
    if (!m_state.caption.isEmpty()) {
        QRect captionRect = itemRect;
        PaintCaption(painter, m_state.caption, itemRect, captionRect, m_state.pressed, m_state.disabled);
    }
    if (!m_state.flatLook && m_state.focused)
        DrawFocusRect(painter, rect.adjusted(3, 3, -3, -3));
    painter.restore();
}

int StyledButtonPainter::PaintBackground(QPainter& painter, QRect& rect)
{
    if (!m_state.flatLook && (m_state.focused || m_state.defaultButton)) {
        FrameRect(painter, rect, Qt::black);
        rect.adjust(1, 1, -1, -1);
    }
    painter.fillRect(rect, BackColor());
    return SkinOk;
}

int StyledButtonPainter::PaintBorder(QPainter& painter, const QRect& rect)
{
    const ButtonSystemColors& sys = m_state.system;
    if (m_state.pressed) {
        if (m_state.flatLook)
            Draw3dRect(painter, rect, sys.shadow, sys.highlight);
        else
            FrameRect(painter, rect, sys.shadow);
        return SkinOk;
    }
    if (m_state.flatLook) {
        if (m_state.hovered)
            Draw3dRect(painter, rect, sys.highlight, sys.shadow);
        return SkinOk;
    }
    const int l = rect.left(), t = rect.top(), w = rect.width(), h = rect.height();
    if (w < 2 || h < 2)
        return SkinOk;
    // Outer highlight: left column and top row.
    painter.fillRect(QRect(l, t, 1, h), sys.highlight);
    painter.fillRect(QRect(l, t, w, 1), sys.highlight);
    // Inner light: second column and second row.
    painter.fillRect(QRect(l + 1, t + 1, 1, h - 1), sys.light);
    painter.fillRect(QRect(l + 1, t + 1, w - 1, 1), sys.light);
    // Outer dark shadow: bottom row and right column.
    painter.fillRect(QRect(l, t + h - 1, w, 1), sys.darkShadow);
    painter.fillRect(QRect(l + w - 1, t, 1, h), sys.darkShadow);
    // Inner shadow: one row and one column inside.
    painter.fillRect(QRect(l + 1, t + h - 2, w - 2, 1), sys.shadow);
    painter.fillRect(QRect(l + w - 2, t + 1, 1, h - 2), sys.shadow);
    return SkinOk;
}

int StyledButtonPainter::PaintCaption(QPainter& painter, const QString& text, const QRect&, QRect& captionRect,
                                      bool pressed, bool disabled)
{
    if (pressed && !m_state.checkBoxMode)
        captionRect.translate(m_state.pressShift);
    const QRect full = captionRect;
    const QRect measured = painter.fontMetrics().boundingRect(full, kCaptionFlags, text);
    captionRect = QRect(full.topLeft(), measured.size());
    captionRect.translate((full.width() - measured.width()) / 2, (full.height() - measured.height()) / 2);
    if (disabled) {
        painter.setPen(m_state.system.highlight);
        painter.drawText(captionRect.translated(1, 1), kCaptionFlags, text);
        painter.setPen(m_state.system.shadow);
        painter.drawText(captionRect, kCaptionFlags, text);
    } else {
        painter.setPen(TextColor());
        painter.drawText(captionRect, kCaptionFlags, text);
    }
    return SkinOk;
}

void StyledButtonPainter::PaintParentBackground(QPainter& painter, const QRect& rect)
{
    if (!m_state.parentBackground.isNull())
        painter.drawImage(rect.topLeft(), m_state.parentBackground);
}

void DrawFocusRect(QPainter& painter, const QRect& rect)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    // The perimeter clockwise from the top-left corner, each pixel once.
    const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    std::vector<QPoint> perimeter;
    for (int x = l; x <= r; ++x)
        perimeter.emplace_back(x, t);
    for (int y = t + 1; y <= b; ++y)
        perimeter.emplace_back(r, y);
    if (b > t)
        for (int x = r - 1; x >= l; --x)
            perimeter.emplace_back(x, b);
    if (r > l)
        for (int y = b - 1; y > t; --y)
            perimeter.emplace_back(l, y);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(Qt::white);
    for (std::size_t i = 0; i < perimeter.size(); i += 2)
        painter.drawPoint(perimeter[i]);
    painter.restore();
}

}  // namespace snapmend
