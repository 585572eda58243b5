#include "CStyledLabel.h"

#include <QMouseEvent>
#include <QPainter>
#include <cstdlib>

#include "SkinMath.h"
#include "StyledButtonPainter.h"

namespace snapmend {
namespace {

// Faces the program asks for that no system has under that name: map them, like
// a font mapper, to a similar installed face of the same widths rather than to
// the default face (which is much wider and breaks the captions' layout).
void EnsureFaceSubstitutes()
{
    static const bool done = [] {
        // Only faces with Arial's widths and vertical metrics: a taller face
        // (Nimbus Sans) puts the baseline on the bottom edge of a caption and
        // cuts off descenders and underlines.
        QFont::insertSubstitutions(QStringLiteral("Ariel"), {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                                                             QStringLiteral("Arimo")});
        return true;
    }();
    (void)done;
}

}  // namespace

CStyledLabel::CStyledLabel(QWidget* parent) : CStyledLabel(QString(), parent) {}

CStyledLabel::CStyledLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    EnsureFaceSubstitutes();
    setTextFormat(Qt::PlainText);
    m_textColor = FromQColor(palette().color(QPalette::WindowText));
    // A label that is not a link lets mouse input fall through to its parent.
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    // Attach: the dialog's font in the face "Lucida Sans" at 8 points.
    m_font = font();
    SetFontName(QStringLiteral("Lucida Sans"), 0);
    SetFontSize(8);
}

CStyledLabel& CStyledLabel::ApplyFont()
{
    setFont(m_font);
    update();
    return *this;
}

CStyledLabel& CStyledLabel::SetText(const QString& text)
{
    setText(text);
    update();
    return *this;
}

CStyledLabel& CStyledLabel::SetTextColor(ColorRef color)
{
    m_textColor = color;
    update();
    return *this;
}

CStyledLabel& CStyledLabel::SetFontBold(bool bold)
{
    m_font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return ApplyFont();
}

CStyledLabel& CStyledLabel::SetFontItalic(bool italic)
{
    m_font.setItalic(italic);
    return ApplyFont();
}

CStyledLabel& CStyledLabel::SetFontUnderline(bool underline)
{
    m_font.setUnderline(underline);
    return ApplyFont();
}

CStyledLabel& CStyledLabel::SetFontName(const QString& faceName, int)
{
    // A face name holds at most 31 characters.
    m_font.setFamily(faceName.left(31));
    return ApplyFont();
}

CStyledLabel& CStyledLabel::SetFontSize(int points)
{
    // Fixed 96 dpi, whatever the display's resolution; weight, slant and face stay.
    const int height = std::abs(FontHeightForPoints(points));
    if (height > 0)
        m_font.setPixelSize(height);
    return ApplyFont();
}

CStyledLabel& CStyledLabel::SetTransparent(bool transparent)
{
    m_transparent = transparent;
    setAutoFillBackground(false);
    update();
    return *this;
}

CStyledLabel& CStyledLabel::SetLink(bool link, bool notify)
{
    m_link = link;
    m_notify = notify;
    setAttribute(Qt::WA_TransparentForMouseEvents, !link);
    return *this;
}

CStyledLabel& CStyledLabel::SetLinkCursor(const QCursor& cursor)
{
    m_linkCursor = cursor;
    if (isEnabled())
        setCursor(cursor);
    return *this;
}

CStyledLabel& CStyledLabel::SetStaticStyle(unsigned style)
{
    m_staticStyle = style;
    update();
    return *this;
}

unsigned CStyledLabel::StaticStyle() const
{
    if (m_staticStyle)
        return *m_staticStyle;
    const Qt::Alignment a = alignment();
    if ((a & Qt::AlignHCenter) && (a & Qt::AlignVCenter))
        return SS_CENTER | SS_CENTERIMAGE;
    if (a & Qt::AlignHCenter)
        return SS_CENTER;
    if (a & Qt::AlignRight)
        return SS_RIGHT;
    return SS_LEFT;
}

void CStyledLabel::PaintTo(QPainter& painter)
{
    const QRect client = rect();
    if (!m_transparent)
        painter.fillRect(client, palette().color(QPalette::Button));
    painter.save();
    painter.setFont(m_font);
    // A disabled link must not look clickable: greyed, whatever its own colour.
    painter.setPen(isEnabled() ? ToQColor(m_textColor) : kDisabledTextColor);
    const QString content = text();
    painter.drawText(client, StaticTextFlags(StaticStyle(), content), content);
    painter.restore();
}

void CStyledLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintTo(painter);
}

void CStyledLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() != QEvent::EnabledChange || !m_linkCursor)
        return;
    if (isEnabled())
        setCursor(*m_linkCursor);
    else
        unsetCursor();
}

void CStyledLabel::mousePressEvent(QMouseEvent* event)
{
    if (m_link && event->button() == Qt::LeftButton) {
        event->accept();
        emit clicked();
        return;
    }
    QLabel::mousePressEvent(event);
}

void CStyledLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is a double click, not another click.
    if (m_link) {
        event->accept();
        return;
    }
    QLabel::mouseDoubleClickEvent(event);
}

}  // namespace snapmend
