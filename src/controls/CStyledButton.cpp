#include "CStyledButton.h"

namespace snapmend {

CStyledButton::CStyledButton(QWidget* parent) : CStyledButton(QString(), parent) {}

CStyledButton::CStyledButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    setAutoDefault(false);
    ResetColors(false);
}

int CStyledButton::SetFlatLook(bool, bool) { return ResultOk; }

int CStyledButton::SetStateColor(int slot, ColorRef color, bool repaint)
{
    if (slot < 0 || slot > 5)
        return ResultBadIndex;
    m_colors[slot] = color;
    if (repaint)
        update();
    return ResultOk;
}

int CStyledButton::ShiftStateColor(int slot, int, bool) { return slot < 0 || slot > 5 ? ResultBadIndex : ResultOk; }
int CStyledButton::SetHoverCursor(int, bool) { return ResultOk; }
void CStyledButton::MakeTransparent(bool) {}
int CStyledButton::SetPressShift(int style, bool) { return style == 0 || style == 1 ? ResultOk : ResultBadPressStyle; }

int CStyledButton::ResetColors(bool repaint)
{
    for (int i = 0; i < 6; ++i)
        m_colors[i] = i % 2 == 0 ? Rgb(240, 240, 240) : Rgb(0, 0, 0);
    if (repaint)
        update();
    return ResultOk;
}

ColorRef CStyledButton::StateColor(int slot) const { return slot >= 0 && slot < 6 ? m_colors[slot] : 0; }

}  // namespace snapmend
