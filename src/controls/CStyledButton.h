#pragma once
#include <QCursor>
#include <QImage>
#include <QPushButton>
#include <optional>

#include "ColorRef.h"
#include "StyledButtonPainter.h"

namespace snapmend {

// Owner-drawn push button with six colour slots, a hover cursor, an optional
// flat look and a transparent mode that paints the parent's pixels.
// State lives in fields; setters only request a repaint; drawing is done by
// StyledButtonPainter.
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

    // Check-box mode: every click toggles the check state, the button shows
    // pressed while checked and its caption never moves.
    void SetCheckBoxMode(bool on);
    bool IsCheckBoxMode() const { return m_checkBoxMode; }
    int SetCheckState(int check, bool repaint = true);
    int GetCheckState() const { return m_checkState; }

    // Leaves the hovered state (flat look only).
    void EndHover();

    ColorRef StateColor(int slot) const;
    bool IsFlatLook() const { return m_flatLook; }
    bool IsHovered() const { return m_hovered; }
    bool IsTransparent() const { return m_transparent; }
    bool HasHoverCursor() const { return m_hoverCursor.has_value(); }
    QPoint PressShift() const { return m_pressShift; }
    // The cached copy of the parent's pixels (null until the first transparent draw).
    const QImage& BackgroundCache() const { return m_backgroundCache; }

    // Everything the painter needs for the current state.
    ButtonPaintState PaintState() const;
    // Draws the button into `painter` (its own paintEvent, or an image in tests).
    void PaintTo(QPainter& painter);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

    // Takes the parent's pixels under the button into the cache.
    virtual QImage GrabParentBackground() const;

private:
    void OnOwnClick();
    void MoveFocusOn();
    void TrackHover(const QPoint& pos, bool leftButtonDown);
    void Repaint(bool repaint);

    bool m_flatLook = true;
    bool m_hovered = false;
    bool m_checkBoxMode = false;
    int m_checkState = 0;
    ColorRef m_colors[6] = {};
    QPoint m_pressShift{1, 1};
    std::optional<QCursor> m_hoverCursor;
    bool m_transparent = false;
    QImage m_backgroundCache;
    ButtonSystemColors m_systemColors;  // as of the last ResetColors
};

}  // namespace snapmend
