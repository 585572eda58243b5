#pragma once
#include <QCursor>
#include <QLabel>

#include "ColorRef.h"

namespace snapmend {

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

signals:
    // A click on a label set up as a notifying link.
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool m_link = false;
    bool m_notify = false;
};

}  // namespace snapmend
