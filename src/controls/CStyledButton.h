#pragma once
#include <QPushButton>

#include "ColorRef.h"

namespace snapmend {

// Owner-drawn push button with six colour slots, a hover cursor, an optional
// flat look and a transparent mode that paints the parent's pixels.
class CStyledButton : public QPushButton {
    Q_OBJECT
public:
    enum ColorSlot { ColorBackActive = 0, ColorTextActive, ColorBackNormal, ColorTextNormal,
                     ColorBackFocused, ColorTextFocused };
    enum Result { ResultOk = 0, ResultNoResource = 1, ResultBadIndex = 3, ResultBadParameter = 5,
                  ResultBadPressStyle = 6 };

    explicit CStyledButton(QWidget* parent = nullptr);
    CStyledButton(const QString& text, QWidget* parent);

    int SetFlatLook(bool flat, bool repaint = true);
    int SetStateColor(int slot, ColorRef color, bool repaint = true);
    int ShiftStateColor(int slot, int offset, bool repaint = true);
    int SetHoverCursor(int cursorId, bool repaint = true);
    void MakeTransparent(bool repaint = false);
    int SetPressShift(int style, bool repaint = true);
    int ResetColors(bool repaint = true);

    ColorRef StateColor(int slot) const;

private:
    ColorRef m_colors[6];
};

}  // namespace snapmend
