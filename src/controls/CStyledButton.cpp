#include "CStyledButton.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include "Resources.h"
#include "SkinMath.h"

namespace snapmend {

CStyledButton::CStyledButton(QWidget* parent) : CStyledButton(QString(), parent) {}

CStyledButton::CStyledButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    setAutoDefault(false);
    setMouseTracking(true);
    SetPressShift(0, false);
    ResetColors(false);
    // Connected first, so the button's own click handling runs before the parent's.
    connect(this, &QAbstractButton::clicked, this, &CStyledButton::OnOwnClick);
}

void CStyledButton::Repaint(bool repaint)
{
    if (repaint)
        update();
}

int CStyledButton::SetFlatLook(bool flat, bool repaint)
{
    m_flatLook = flat;
    if (!flat)
        m_hovered = false;
    Repaint(repaint);
    return ResultOk;
}

int CStyledButton::SetStateColor(int slot, ColorRef color, bool repaint)
{
    const auto index = static_cast<unsigned char>(slot);
    if (index > 5)
        return ResultBadIndex;
    m_colors[index] = color;
    Repaint(repaint);
    return ResultOk;
}

int CStyledButton::ShiftStateColor(int slot, int offset, bool repaint)
{
    const int result = ShiftSlotColor(m_colors, slot, offset);
    if (result == SkinOk)
        Repaint(repaint);
    return result;
}

int CStyledButton::SetHoverCursor(int cursorId, bool repaint)
{
    m_hoverCursor.reset();
    unsetCursor();
    if (cursorId == 0)
        return ResultOk;
    QCursor cursor;
    int result = ResultNoResource;
    if (LoadCursorResource(cursorId & 0xFFFF, cursor)) {
        m_hoverCursor = cursor;
        setCursor(cursor);
        result = ResultOk;
    }
    Repaint(repaint);
    return result;
}

void CStyledButton::MakeTransparent(bool repaint)
{
    m_transparent = true;
    m_backgroundCache = QImage();
    Repaint(repaint);
}

int CStyledButton::SetPressShift(int style, bool repaint)
{
    if (style == 0)
        m_pressShift = QPoint(1, 1);
    else if (style == 1)
        m_pressShift = QPoint(0, 2);
    else
        return ResultBadPressStyle;
    Repaint(repaint);
    return ResultOk;
}

int CStyledButton::ResetColors(bool repaint)
{
    m_systemColors = ButtonSystemColors::FromPalette(palette());
    const ColorRef face = FromQColor(palette().color(QPalette::Button));
    const ColorRef text = FromQColor(palette().color(QPalette::ButtonText));
    for (int i = 0; i < 6; ++i)
        m_colors[i] = i % 2 == 0 ? face : text;
    Repaint(repaint);
    return ResultOk;
}

void CStyledButton::SetCheckBoxMode(bool on)
{
    m_checkBoxMode = on;
    if (!on)
        m_checkState = 0;
    update();
}

int CStyledButton::SetCheckState(int check, bool repaint)
{
    if (m_checkBoxMode) {
        m_checkState = check != 0 ? 1 : 0;
        Repaint(repaint);
    }
    return ResultOk;
}

void CStyledButton::EndHover()
{
    if (m_flatLook && m_hovered) {
        m_hovered = false;
        update();
    }
}

ColorRef CStyledButton::StateColor(int slot) const { return slot >= 0 && slot < 6 ? m_colors[slot] : 0; }

ButtonPaintState CStyledButton::PaintState() const
{
    ButtonPaintState s;
    s.flatLook = m_flatLook;
    s.hovered = m_flatLook && m_hovered;
    s.pressed = isDown() || (m_checkBoxMode && m_checkState == 1);
    s.focused = hasFocus();
    s.disabled = !isEnabled();
    s.defaultButton = isDefault();
    s.checkBoxMode = m_checkBoxMode;
    s.pressShift = m_pressShift;
    for (int i = 0; i < 6; ++i)
        s.colors[i] = m_colors[i];
    s.system = ButtonSystemColors::FromPalette(palette());
    s.transparent = m_transparent;
    s.parentBackground = m_backgroundCache;
    s.caption = text();
    s.font = font();
    return s;
}

void CStyledButton::PaintTo(QPainter& painter)
{
    if (m_transparent && m_backgroundCache.isNull())
        m_backgroundCache = GrabParentBackground();
    const ButtonPaintState state = PaintState();
    StyledButtonPainter(state).Paint(painter, rect());
}

QImage CStyledButton::GrabParentBackground() const
{
    QWidget* parent = parentWidget();
    if (!parent || width() <= 0 || height() <= 0)
        return {};
    QImage image(size(), QImage::Format_RGB32);
    image.fill(parent->palette().color(parent->backgroundRole()));
    // The parent's own background and painting, without any of its children.
    parent->render(&image, QPoint(0, 0), QRegion(geometry()), QWidget::DrawWindowBackground);
    return image;
}

void CStyledButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintTo(painter);
}

void CStyledButton::TrackHover(const QPoint& pos, bool leftButtonDown)
{
    // Entering with the mouse button held does not light the button.
    if (leftButtonDown && !m_hovered)
        return;
    if (!m_flatLook)
        return;
    if (rect().contains(pos)) {
        if (!m_hovered) {
            m_hovered = true;
            update();
        }
    } else {
        EndHover();
    }
}

void CStyledButton::mouseMoveEvent(QMouseEvent* event)
{
    QPushButton::mouseMoveEvent(event);
    TrackHover(event->position().toPoint(), event->buttons() & Qt::LeftButton);
}

void CStyledButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click is an ordinary press, so a double
    // click gives two clicks.
    if (isDown()) {
        event->accept();
        return;
    }
    QPushButton::mousePressEvent(event);
}

void CStyledButton::leaveEvent(QEvent* event)
{
    QPushButton::leaveEvent(event);
    EndHover();
}

void CStyledButton::focusOutEvent(QFocusEvent* event)
{
    QPushButton::focusOutEvent(event);
    EndHover();
}

void CStyledButton::changeEvent(QEvent* event)
{
    QPushButton::changeEvent(event);
    switch (event->type()) {
    case QEvent::ActivationChange:
        if (!isActiveWindow())
            EndHover();
        break;
    case QEvent::EnabledChange:
        // Only when this button itself is disabled, not when an ancestor is.
        if (!isEnabled() && testAttribute(Qt::WA_ForceDisabled)) {
            MoveFocusOn();
            EndHover();
        }
        break;
    default:
        break;
    }
}

bool CStyledButton::event(QEvent* event)
{
    const bool handled = QPushButton::event(event);
    if (event->type() == QEvent::UngrabMouse) {
        EndHover();  // cancel mode
    } else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        // System colours changed: take the parent's pixels anew and use the new
        // system colours, also in place of colours the owner had set.
        if (ButtonSystemColors::FromPalette(palette()) != m_systemColors) {
            m_backgroundCache = QImage();
            ResetColors(true);
        }
    }
    return handled;
}

void CStyledButton::OnOwnClick()
{
    setFocus(Qt::MouseFocusReason);
    if (m_checkBoxMode) {
        m_checkState = m_checkState ? 0 : 1;
        update();
    }
}

void CStyledButton::MoveFocusOn()
{
    // The next tab stop after this button in its window, else the parent.
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (w->window() == window() && w != window() && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
            w->isVisible()) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
    if (QWidget* parent = parentWidget())
        parent->setFocus(Qt::OtherFocusReason);
}

}  // namespace snapmend
