#include "CStyledLabel.h"

#include <QMouseEvent>

namespace snapmend {

CStyledLabel::CStyledLabel(QWidget* parent) : CStyledLabel(QString(), parent) {}
CStyledLabel::CStyledLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

CStyledLabel& CStyledLabel::SetText(const QString& text) { setText(text); return *this; }

CStyledLabel& CStyledLabel::SetTextColor(ColorRef color)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, QColor(RedOf(color), GreenOf(color), BlueOf(color)));
    setPalette(p);
    return *this;
}

CStyledLabel& CStyledLabel::SetFontBold(bool bold) { QFont f = font(); f.setBold(bold); setFont(f); return *this; }
CStyledLabel& CStyledLabel::SetFontItalic(bool italic) { QFont f = font(); f.setItalic(italic); setFont(f); return *this; }
CStyledLabel& CStyledLabel::SetFontUnderline(bool u) { QFont f = font(); f.setUnderline(u); setFont(f); return *this; }
CStyledLabel& CStyledLabel::SetFontName(const QString& name, int) { QFont f = font(); f.setFamily(name); setFont(f); return *this; }
CStyledLabel& CStyledLabel::SetFontSize(int points) { QFont f = font(); f.setPixelSize(points * 4 / 3); setFont(f); return *this; }
CStyledLabel& CStyledLabel::SetTransparent(bool) { return *this; }
CStyledLabel& CStyledLabel::SetLink(bool link, bool notify) { m_link = link; m_notify = notify; return *this; }
CStyledLabel& CStyledLabel::SetLinkCursor(const QCursor& cursor) { setCursor(cursor); return *this; }

void CStyledLabel::mousePressEvent(QMouseEvent* event)
{
    QLabel::mousePressEvent(event);
    if (m_link && m_notify && event->button() == Qt::LeftButton)
        emit clicked();
}

}  // namespace snapmend
