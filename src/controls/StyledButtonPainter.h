#pragma once
// Drawing of the owner-drawn button, separate from the widget so that it can
// paint into a QImage in tests. All state comes in through ButtonPaintState.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPalette>
#include <QPoint>
#include <QRect>
#include <QString>

#include "ColorRef.h"

class QPainter;

namespace snapmend {

inline QColor ToQColor(ColorRef c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }
inline ColorRef FromQColor(const QColor& c) { return Rgb(c.red(), c.green(), c.blue()); }

// The system colours a button is drawn with.
struct ButtonSystemColors {
    QColor face;        // button face
    QColor text;        // button text
    QColor highlight;   // outermost light edge
    QColor light;       // inner light edge
    QColor shadow;      // inner shadow edge
    QColor darkShadow;  // outermost dark edge

    static ButtonSystemColors FromPalette(const QPalette& palette);
    bool operator==(const ButtonSystemColors& o) const
    {
        return face == o.face && text == o.text && highlight == o.highlight && light == o.light &&
               shadow == o.shadow && darkShadow == o.darkShadow;
    }
    bool operator!=(const ButtonSystemColors& o) const { return !(*this == o); }
};

// Colour slot indices, shared with CStyledButton.
enum ButtonColorSlot { SlotBackActive = 0, SlotTextActive, SlotBackNormal, SlotTextNormal, SlotBackFocused, SlotTextFocused };

struct ButtonPaintState {
    bool flatLook = true;
    bool hovered = false;
    bool pressed = false;
    bool focused = false;
    bool disabled = false;
    bool defaultButton = false;
    bool checkBoxMode = false;
    QPoint pressShift{1, 1};
    ColorRef colors[6] = {};
    ButtonSystemColors system;
    bool transparent = false;
    QImage parentBackground;  // the parent's pixels under the button (transparent mode)
    QString caption;
    QFont font;
};

class StyledButtonPainter {
public:
    explicit StyledButtonPainter(const ButtonPaintState& state) : m_state(state) {}
    virtual ~StyledButtonPainter() = default;

    // Background, border, caption and focus rectangle into `itemRect`.
    void Paint(QPainter& painter, const QRect& itemRect);

    // May shrink `rect` by one pixel (the frame of a focused or default button).
    virtual int PaintBackground(QPainter& painter, QRect& rect);
    virtual int PaintBorder(QPainter& painter, const QRect& rect);
    // Moves `captionRect` onto the centred text block it drew.
    virtual int PaintCaption(QPainter& painter, const QString& text, const QRect& itemRect, QRect& captionRect,
                             bool pressed, bool disabled);
    virtual void PaintParentBackground(QPainter& painter, const QRect& rect);

    // Background and text colour of the current situation.
    QColor BackColor() const;
    QColor TextColor() const;

protected:
    const ButtonPaintState& m_state;
};

// Draws a dotted one-pixel rectangle by inverting every other pixel.
void DrawFocusRect(QPainter& painter, const QRect& rect);

}  // namespace snapmend
