#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPainter>

#include "CBitmapDialog.h"
#include "CStyledButton.h"
#include "PixelUtil.h"
#include "Resources.h"
#include "TestUtil.h"

namespace snapmend {
namespace {

using test::ColorBox;
using test::CountColor;

const QColor kHighlight(250, 250, 250);
const QColor kLight(220, 220, 220);
const QColor kShadow(128, 128, 128);
const QColor kDarkShadow(40, 40, 40);
const QColor kFace(200, 200, 200);
const QColor kBtnText(10, 10, 10);

QPalette SystemPalette()
{
    QPalette p;
    p.setColor(QPalette::Button, kFace);
    p.setColor(QPalette::ButtonText, kBtnText);
    p.setColor(QPalette::Light, kHighlight);
    p.setColor(QPalette::Midlight, kLight);
    p.setColor(QPalette::Dark, kShadow);
    p.setColor(QPalette::Shadow, kDarkShadow);
    return p;
}

ButtonPaintState BaseState(const QString& caption = QStringLiteral("Start"))
{
    ButtonPaintState s;
    s.flatLook = false;
    s.system = ButtonSystemColors::FromPalette(SystemPalette());
    s.colors[SlotBackActive] = Rgb(60, 60, 60);
    s.colors[SlotTextActive] = Rgb(255, 0, 255);
    s.colors[SlotBackNormal] = Rgb(70, 70, 70);
    s.colors[SlotTextNormal] = Rgb(0, 255, 255);
    s.colors[SlotBackFocused] = Rgb(80, 80, 80);
    s.colors[SlotTextFocused] = Rgb(255, 255, 0);
    s.caption = caption;
    s.font = test::CrispFont(14);
    return s;
}

QImage Render(const ButtonPaintState& state, QSize size = QSize(75, 23))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    StyledButtonPainter(state).Paint(painter, image.rect());
    return image;
}

QColor Pixel(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)); }

TEST(StyledButtonPainter, CaptionColourAndBackgroundFollowTheState)
{
    struct Case {
        const char* name;
        bool hovered, pressed, focused;
        QColor text, back;
    } const cases[] = {
        {"normal", false, false, false, QColor(0, 255, 255), QColor(70, 70, 70)},
        {"pressed", false, true, false, QColor(255, 0, 255), QColor(60, 60, 60)},
        {"focused", false, false, true, QColor(255, 255, 0), QColor(80, 80, 80)},
        {"focused and pressed", false, true, true, QColor(255, 0, 255), QColor(60, 60, 60)},
        {"hovered (flat)", true, false, true, QColor(255, 0, 255), QColor(60, 60, 60)},
    };
    const QColor allText[] = {QColor(0, 255, 255), QColor(255, 0, 255), QColor(255, 255, 0)};
    for (const Case& c : cases) {
        ButtonPaintState s = BaseState();
        s.flatLook = c.hovered;
        s.hovered = c.hovered;
        s.pressed = c.pressed;
        s.focused = c.focused;
        const QImage image = Render(s);
        EXPECT_GT(CountColor(image, c.text), 10) << c.name;
        for (const QColor& other : allText) {
            if (other != c.text) {
                EXPECT_EQ(CountColor(image, other), 0) << c.name << " shows " << other.name().toStdString();
            }
        }
        EXPECT_EQ(Pixel(image, 6, 11), c.back) << c.name;
    }
}

TEST(StyledButtonPainter, CaptionMovesByThePressShiftExceptInCheckBoxMode)
{
    ButtonPaintState s = BaseState();
    for (ColorRef& color : s.colors)
        color = Rgb(0, 0, 255);
    s.colors[SlotTextActive] = s.colors[SlotTextNormal] = s.colors[SlotTextFocused] = Rgb(255, 0, 0);
    const QColor text(255, 0, 0);

    const QRect normal = ColorBox(Render(s), text);
    ASSERT_FALSE(normal.isEmpty());
    s.pressed = true;
    EXPECT_EQ(ColorBox(Render(s), text), normal.translated(1, 1));
    s.pressShift = QPoint(0, 2);
    EXPECT_EQ(ColorBox(Render(s), text), normal.translated(0, 2));
    s.pressShift = QPoint(1, 1);
    s.checkBoxMode = true;
    EXPECT_EQ(ColorBox(Render(s), text), normal);
}

TEST(StyledButtonPainter, RaisedBorderHasFourEdgeColours)
{
    ButtonPaintState s = BaseState(QString());
    const QImage image = Render(s, QSize(40, 20));
    const int w = 40, h = 20;
    struct Case {
        int x, y;
        QColor color;
    } const cases[] = {
        {0, 10, kHighlight},        {20, 0, kHighlight},       {0, 0, kHighlight},
        {1, 10, kLight},            {20, 1, kLight},           {1, 1, kLight},
        {w - 1, 10, kDarkShadow},   {20, h - 1, kDarkShadow},  {0, h - 1, kDarkShadow},
        {w - 1, 0, kDarkShadow},    {w - 1, h - 1, kDarkShadow},
        {w - 2, 10, kShadow},       {20, h - 2, kShadow},      {1, h - 2, kShadow},
        {w - 2, 1, kShadow},        {1, h - 1, kDarkShadow},
        {2, 2, QColor(70, 70, 70)}, {w - 3, h - 3, QColor(70, 70, 70)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Pixel(image, c.x, c.y), c.color) << c.x << "," << c.y;
}

TEST(StyledButtonPainter, PressedAndFlatBorders)
{
    const int w = 40, h = 20;
    ButtonPaintState s = BaseState(QString());
    s.pressed = true;
    QImage image = Render(s, QSize(w, h));  // raised look pressed: a one-pixel shadow frame
    for (const QPoint& p : {QPoint(0, 0), QPoint(20, 0), QPoint(0, 10), QPoint(w - 1, 10), QPoint(20, h - 1),
                            QPoint(w - 1, h - 1)})
        EXPECT_EQ(Pixel(image, p.x(), p.y()), kShadow) << p.x() << "," << p.y();
    EXPECT_EQ(Pixel(image, 1, 1), QColor(60, 60, 60));

    s.flatLook = true;  // flat look pressed: shadow top-left, highlight bottom-right
    image = Render(s, QSize(w, h));
    EXPECT_EQ(Pixel(image, 0, 10), kShadow);
    EXPECT_EQ(Pixel(image, 20, 0), kShadow);
    EXPECT_EQ(Pixel(image, w - 1, 10), kHighlight);
    EXPECT_EQ(Pixel(image, 20, h - 1), kHighlight);
    EXPECT_EQ(Pixel(image, w - 1, 0), kHighlight);

    s.pressed = false;  // flat look, not hovered: no border at all
    image = Render(s, QSize(w, h));
    EXPECT_EQ(Pixel(image, 0, 10), QColor(70, 70, 70));
    EXPECT_EQ(Pixel(image, w - 1, h - 1), QColor(70, 70, 70));
    s.hovered = true;
    image = Render(s, QSize(w, h));
    EXPECT_EQ(Pixel(image, 0, 10), kHighlight);
    EXPECT_EQ(Pixel(image, w - 1, 10), kShadow);
}

TEST(StyledButtonPainter, FocusedRaisedButtonHasBlackFrameAndDottedFocusRectangle)
{
    ButtonPaintState s = BaseState(QString());
    s.focused = true;
    const QImage image = Render(s, QSize(40, 20));
    const QColor back(80, 80, 80), inverted(255 - 80, 255 - 80, 255 - 80);
    EXPECT_EQ(Pixel(image, 0, 10), Qt::black);  // frame, then the border inside it
    EXPECT_EQ(Pixel(image, 1, 10), kHighlight);
    // The focus rectangle: 3 pixels inside the framed rectangle, every other pixel inverted.
    EXPECT_EQ(Pixel(image, 4, 4), inverted);
    EXPECT_EQ(Pixel(image, 5, 4), back);
    EXPECT_EQ(Pixel(image, 6, 4), inverted);
    EXPECT_EQ(Pixel(image, 10, 10), back);
    EXPECT_EQ(Pixel(image, 2, 4), kLight);
    EXPECT_EQ(Pixel(image, 3, 4), back);

    s.flatLook = true;  // no focus rectangle and no frame in the flat look
    const QImage flat = Render(s, QSize(40, 20));
    EXPECT_EQ(CountColor(flat, inverted), 0);
    EXPECT_EQ(Pixel(flat, 0, 10), back);
}

TEST(StyledButtonPainter, DisabledCaptionIsEngravedInSystemColours)
{
    ButtonPaintState s = BaseState();
    s.disabled = true;
    const QImage image = Render(s);
    const QRect highlight = ColorBox(image.copy(2, 2, 71, 19), kHighlight);
    const QRect shadow = ColorBox(image.copy(2, 2, 71, 19), kShadow);
    ASSERT_FALSE(shadow.isEmpty());
    ASSERT_FALSE(highlight.isEmpty());
    EXPECT_EQ(highlight.bottomRight(), shadow.bottomRight() + QPoint(1, 1));
    for (int slot : {SlotTextActive, SlotTextNormal, SlotTextFocused})
        EXPECT_EQ(CountColor(image, ToQColor(s.colors[slot])), 0) << "text slot " << slot << " used";
}

TEST(StyledButtonPainter, EmptyCaptionDrawsNoTextAndLongCaptionWrapsCentred)
{
    ButtonPaintState s = BaseState(QString());
    EXPECT_EQ(CountColor(Render(s), QColor(0, 255, 255)), 0);

    s.caption = QStringLiteral("Recover all of it");
    const QImage image = Render(s, QSize(70, 60));
    const QRect box = ColorBox(image, QColor(0, 255, 255));
    ASSERT_FALSE(box.isEmpty());
    EXPECT_GT(box.height(), QFontMetrics(s.font).height());  // more than one line
    EXPECT_LE(std::abs(box.left() - (69 - box.right())), 2);  // centred as a block
    EXPECT_LE(std::abs(box.top() - (59 - box.bottom())), 4);
}

class StyledButtonWidget : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog.resize(300, 120);
        start = new CStyledButton(QStringLiteral("Start"), &dialog);
        start->setGeometry(10, 20, 75, 23);
        refresh = new CStyledButton(QStringLiteral("Refresh"), &dialog);
        refresh->setGeometry(100, 20, 75, 23);
        browse = new CStyledButton(QStringLiteral("Browse"), &dialog);
        browse->setGeometry(190, 20, 75, 23);
    }

    QImage Render(CStyledButton* button)
    {
        QImage image(button->size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        button->PaintTo(painter);
        return image;
    }

    CBitmapDialog dialog;
    CStyledButton* start = nullptr;
    CStyledButton* refresh = nullptr;
    CStyledButton* browse = nullptr;
};

TEST_F(StyledButtonWidget, StartsWithSystemColoursAndTheSettersValidate)
{
    const ColorRef face = FromQColor(start->palette().color(QPalette::Button));
    const ColorRef text = FromQColor(start->palette().color(QPalette::ButtonText));
    for (int slot = 0; slot < 6; ++slot)
        EXPECT_EQ(start->StateColor(slot), slot % 2 == 0 ? face : text) << slot;
    EXPECT_TRUE(start->IsFlatLook());
    EXPECT_EQ(start->PressShift(), QPoint(1, 1));

    EXPECT_EQ(start->SetStateColor(CStyledButton::ColorTextNormal, Rgb(0, 255, 255)), CStyledButton::ResultOk);
    EXPECT_EQ(start->StateColor(CStyledButton::ColorTextNormal), Rgb(0, 255, 255));
    EXPECT_EQ(start->SetStateColor(6, Rgb(1, 2, 3)), CStyledButton::ResultBadIndex);
    start->SetStateColor(CStyledButton::ColorBackActive, Rgb(212, 208, 200));
    EXPECT_EQ(start->ShiftStateColor(CStyledButton::ColorBackActive, 30), CStyledButton::ResultOk);
    EXPECT_EQ(start->StateColor(CStyledButton::ColorBackActive), Rgb(242, 238, 230));
    EXPECT_EQ(start->ShiftStateColor(CStyledButton::ColorBackActive, 256), CStyledButton::ResultBadParameter);
    EXPECT_EQ(start->ShiftStateColor(6, 300), CStyledButton::ResultBadIndex);
    EXPECT_EQ(start->StateColor(CStyledButton::ColorBackActive), Rgb(242, 238, 230));
    EXPECT_EQ(start->SetPressShift(1), CStyledButton::ResultOk);
    EXPECT_EQ(start->PressShift(), QPoint(0, 2));
    EXPECT_EQ(start->SetPressShift(2), CStyledButton::ResultBadPressStyle);
    EXPECT_EQ(start->PressShift(), QPoint(0, 2));

    EXPECT_EQ(start->ResetColors(), CStyledButton::ResultOk);
    EXPECT_EQ(start->StateColor(CStyledButton::ColorTextNormal), text);
}

TEST_F(StyledButtonWidget, HoverCursorIsTheHandOrNone)
{
    EXPECT_EQ(start->SetHoverCursor(IDC_HAND), CStyledButton::ResultOk);
    ASSERT_TRUE(start->HasHoverCursor());
    EXPECT_EQ(start->cursor().hotSpot(), QPoint(5, 0));
    EXPECT_EQ(start->cursor().pixmap().size(), QSize(32, 32));

    EXPECT_EQ(start->SetHoverCursor(999), CStyledButton::ResultNoResource);
    EXPECT_FALSE(start->HasHoverCursor());
    EXPECT_EQ(start->cursor().shape(), Qt::ArrowCursor);

    start->SetHoverCursor(IDC_HAND);
    EXPECT_EQ(start->SetHoverCursor(0), CStyledButton::ResultOk);
    EXPECT_FALSE(start->HasHoverCursor());
}

TEST_F(StyledButtonWidget, WidgetPaintsItsStateThroughThePainter)
{
    start->setFont(test::CrispFont(14));
    start->SetFlatLook(false);
    start->SetStateColor(CStyledButton::ColorTextNormal, Rgb(0, 255, 255));
    start->SetStateColor(CStyledButton::ColorTextActive, Rgb(255, 0, 255));
    const QRect normal = ColorBox(Render(start), QColor(0, 255, 255));
    ASSERT_FALSE(normal.isEmpty());
    start->setDown(true);
    const QImage pressed = Render(start);
    EXPECT_EQ(CountColor(pressed, QColor(0, 255, 255)), 0);
    EXPECT_EQ(ColorBox(pressed, QColor(255, 0, 255)), normal.translated(1, 1));
    start->setDown(false);

    start->setEnabled(false);
    EXPECT_EQ(CountColor(Render(start), QColor(0, 255, 255)), 0);
}

TEST_F(StyledButtonWidget, TransparentButtonShowsTheParentsPixelsUntilDropped)
{
    const QImage skin = test::GradientImage(300, 120);
    dialog.SetBackgroundImage(skin);
    start->setText(QString());
    start->SetFlatLook(true);
    start->MakeTransparent();
    const QImage first = Render(start);
    EXPECT_EQ(first, skin.copy(start->geometry()));

    // The copy stays until MakeTransparent is called again.
    const QImage other = test::GradientImage(300, 120).mirrored(true, true);
    dialog.SetBackgroundImage(other);
    EXPECT_EQ(Render(start), first);
    start->MakeTransparent();
    EXPECT_EQ(Render(start), other.copy(start->geometry()));
}

TEST_F(StyledButtonWidget, TransparentButtonsOnScreenShowTheSkin)
{
    const QImage skin = test::GradientImage(300, 120);
    dialog.SetBackgroundImage(skin);
    for (CStyledButton* b : {start, refresh, browse}) {
        b->setText(QString());
        b->SetFlatLook(true);
        b->MakeTransparent();
    }
    dialog.show();
    ASSERT_TRUE(test::WaitUntil([&] { return dialog.isVisible() && !start->BackgroundCache().isNull(); }));
    QApplication::processEvents();
    const QImage screen = test::ScreenPixels(&dialog);
    ASSERT_EQ(screen.size(), QSize(300, 120));
    EXPECT_EQ(screen, skin);
}

TEST_F(StyledButtonWidget, DoubleClickGivesTwoClicksAndCheckBoxModeToggles)
{
    int clicks = 0;
    QObject::connect(start, &QAbstractButton::clicked, [&] { ++clicks; });
    const QPoint centre(30, 10);
    test::SendMouse(start, QEvent::MouseButtonPress, centre);
    test::SendMouse(start, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
    test::SendMouse(start, QEvent::MouseButtonDblClick, centre);
    test::SendMouse(start, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(dialog.focusWidget(), start);

    browse->SetCheckBoxMode(true);
    EXPECT_EQ(browse->GetCheckState(), 0);
    browse->click();
    EXPECT_EQ(browse->GetCheckState(), 1);
    EXPECT_TRUE(browse->PaintState().pressed);
    browse->click();
    EXPECT_EQ(browse->GetCheckState(), 0);
    browse->SetCheckState(5);
    EXPECT_EQ(browse->GetCheckState(), 1);
    start->SetCheckState(1);  // not in check-box mode: no state
    EXPECT_EQ(start->GetCheckState(), 0);
}

TEST_F(StyledButtonWidget, DisablingMovesTheFocusToTheNextTabStop)
{
    dialog.show();
    ASSERT_TRUE(test::WaitUntil([&] { return dialog.isVisible(); }));
    browse->setFocus();
    ASSERT_EQ(dialog.focusWidget(), browse);
    start->setEnabled(false);  // did not have the focus, still moves it on
    EXPECT_EQ(dialog.focusWidget(), refresh);

    refresh->setEnabled(false);
    EXPECT_EQ(dialog.focusWidget(), browse);
}

TEST_F(StyledButtonWidget, HoverOnlyInTheFlatLookAndNotWhenEnteredWithTheButtonDown)
{
    start->SetFlatLook(false);
    test::SendMouse(start, QEvent::MouseMove, QPoint(5, 5), Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(start->IsHovered());

    start->SetFlatLook(true);
    test::SendMouse(start, QEvent::MouseMove, QPoint(5, 5), Qt::NoButton, Qt::LeftButton);
    EXPECT_FALSE(start->IsHovered());
    test::SendMouse(start, QEvent::MouseMove, QPoint(5, 5), Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(start->IsHovered());
    EXPECT_TRUE(start->PaintState().hovered);
    test::SendMouse(start, QEvent::MouseMove, QPoint(5, 5), Qt::NoButton, Qt::LeftButton);
    EXPECT_TRUE(start->IsHovered());  // already hovered: dragging keeps it
    test::SendMouse(start, QEvent::MouseMove, QPoint(-5, 5), Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(start->IsHovered());

    test::SendMouse(start, QEvent::MouseMove, QPoint(5, 5), Qt::NoButton, Qt::NoButton);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(start, &leave);
    EXPECT_FALSE(start->IsHovered());
}

TEST_F(StyledButtonWidget, SystemColourChangeRestoresSystemColours)
{
    const QPalette original = QApplication::palette();
    start->SetStateColor(CStyledButton::ColorTextNormal, Rgb(0, 255, 255));
    start->MakeTransparent();
    (void)Render(start);
    ASSERT_FALSE(start->BackgroundCache().isNull());

    QPalette changed = original;
    changed.setColor(QPalette::Button, QColor(1, 2, 3));
    changed.setColor(QPalette::ButtonText, QColor(4, 5, 6));
    QApplication::setPalette(changed);
    QApplication::processEvents();
    EXPECT_EQ(start->StateColor(CStyledButton::ColorTextNormal), Rgb(4, 5, 6));
    EXPECT_EQ(start->StateColor(CStyledButton::ColorBackNormal), Rgb(1, 2, 3));
    EXPECT_TRUE(start->BackgroundCache().isNull());
    QApplication::setPalette(original);
    QApplication::processEvents();

    // A palette change that leaves the system colours alone keeps the owner's colours.
    start->SetStateColor(CStyledButton::ColorTextNormal, Rgb(0, 255, 255));
    QPalette same = start->palette();
    same.setColor(QPalette::ToolTipBase, QColor(9, 9, 9));
    dialog.setPalette(same);
    QApplication::processEvents();
    EXPECT_EQ(start->StateColor(CStyledButton::ColorTextNormal), Rgb(0, 255, 255));
}

}  // namespace
}  // namespace snapmend
