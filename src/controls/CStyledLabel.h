#pragma once
#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <optional>

#include "ColorRef.h"

namespace snapmend {

// The text colour of a disabled label, readable on the dark skin yet plainly inactive.
inline const QColor kDisabledTextColor = QColor(150, 150, 150);

// Static text and hyperlink label with its own font record and colour.
// Every setter returns the label so calls can be chained.
class CStyledLabel : public QLabel {
    Q_OBJECT
public:
    explicit CStyledLabel(QWidget* parent = nullptr);
    CStyledLabel(const QString& text, QWidget* parent);

    CStyledLabel& SetText(const QString& text);
    CStyledLabel& SetTextColor(ColorRef color);
    CStyledLabel& SetFontBold(bool bold);
    CStyledLabel& SetFontItalic(bool italic);
    CStyledLabel& SetFontUnderline(bool underline);
    CStyledLabel& SetFontName(const QString& faceName, int charSet = 0);
    CStyledLabel& SetFontSize(int points);
    CStyledLabel& SetTransparent(bool transparent);
    CStyledLabel& SetLink(bool link, bool notify);
    CStyledLabel& SetLinkCursor(const QCursor& cursor);

    // Text layout as a static control style (SkinMath.h: SS_LEFT, SS_CENTER,
    // SS_RIGHT, SS_LEFTNOWORDWRAP, optionally | SS_CENTERIMAGE). Without a call
    // the style follows the label's alignment: centred both ways gives
    // SS_CENTER | SS_CENTERIMAGE, horizontally centred SS_CENTER, right SS_RIGHT,
    // anything else SS_LEFT.
    CStyledLabel& SetStaticStyle(unsigned style);
    unsigned StaticStyle() const;

    ColorRef TextColor() const { return m_textColor; }
    const QFont& FontRecord() const { return m_font; }
    bool IsTransparent() const { return m_transparent; }
    bool IsLink() const { return m_link; }
    bool IsNotify() const { return m_notify; }
    bool HasLinkCursor() const { return m_linkCursor.has_value(); }

    // Draws the label into `painter` (its own paintEvent, or an image in tests).
    void PaintTo(QPainter& painter);

signals:
    // A click on a label set up as a link.
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    CStyledLabel& ApplyFont();

    ColorRef m_textColor = 0;
    QFont m_font;
    bool m_transparent = false;
    bool m_link = false;
    bool m_notify = false;
    std::optional<unsigned> m_staticStyle;
    std::optional<QCursor> m_linkCursor;
};

}  // namespace snapmend
