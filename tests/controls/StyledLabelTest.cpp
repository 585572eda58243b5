#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>

#include "CBitmapDialog.h"
#include "CStyledLabel.h"
#include "PixelUtil.h"
#include "Resources.h"
#include "SkinMath.h"
#include "StyledButtonPainter.h"
#include "TestUtil.h"

namespace snapmend {
namespace {

TEST(StyledLabel, AttachGivesLucidaSansAtEightPointsKeepingTheDialogFont)
{
    QWidget dialog;
    QFont dialogFont(QStringLiteral("DejaVu Sans"));
    dialogFont.setBold(true);
    dialogFont.setItalic(true);
    dialog.setFont(dialogFont);
    CStyledLabel label(QStringLiteral("Help"), &dialog);
    EXPECT_EQ(label.FontRecord().family(), QStringLiteral("Lucida Sans"));
    EXPECT_EQ(label.FontRecord().pixelSize(), 10);
    EXPECT_TRUE(label.FontRecord().bold());
    EXPECT_TRUE(label.FontRecord().italic());
    EXPECT_EQ(label.font(), label.FontRecord());
    EXPECT_EQ(label.TextColor(), FromQColor(label.palette().color(QPalette::WindowText)));
}

TEST(StyledLabel, SettersChangeOnlyTheirPartOfTheFont)
{
    QWidget dialog;
    CStyledLabel label(QStringLiteral("Recovering data, please wait"), &dialog);
    label.SetTransparent(true)
        .SetFontName(QStringLiteral("Ariel"))
        .SetFontSize(12)
        .SetFontBold(true)
        .SetFontItalic(true)
        .SetFontUnderline(true)
        .SetTextColor(Rgb(255, 105, 180));
    const QFont& f = label.FontRecord();
    EXPECT_EQ(f.family(), QStringLiteral("Ariel"));
    EXPECT_EQ(f.pixelSize(), 16);
    EXPECT_EQ(f.weight(), QFont::Bold);
    EXPECT_TRUE(f.italic());
    EXPECT_TRUE(f.underline());
    EXPECT_EQ(label.TextColor(), Rgb(255, 105, 180));

    label.SetFontSize(14);  // size keeps weight, slant, underline and face
    EXPECT_EQ(label.FontRecord().pixelSize(), 18);
    EXPECT_EQ(label.FontRecord().weight(), QFont::Bold);
    EXPECT_TRUE(label.FontRecord().italic());
    EXPECT_EQ(label.FontRecord().family(), QStringLiteral("Ariel"));

    label.SetFontBold(false).SetFontUnderline(false).SetFontSize(9);
    EXPECT_EQ(label.FontRecord().weight(), QFont::Normal);
    EXPECT_FALSE(label.FontRecord().underline());
    EXPECT_EQ(label.FontRecord().pixelSize(), 12);
}

TEST(StyledLabel, UnknownFaceNamesMapToASimilarFace)
{
    CStyledLabel label(QStringLiteral("Select drive"), nullptr);
    label.SetFontName(QStringLiteral("Ariel"));
    EXPECT_EQ(label.FontRecord().family(), QStringLiteral("Ariel"));  // the record keeps the name asked for
    const QStringList substitutes = QFont::substitutes(QStringLiteral("Ariel"));
    ASSERT_FALSE(substitutes.isEmpty());
    EXPECT_EQ(substitutes.first().compare(QStringLiteral("Arial"), Qt::CaseInsensitive), 0);
    // Whatever is installed, the face drawn is one of the list (with a foundry
    // suffix, "Nimbus Sans [urw]") or, with none of them, the default.
    const QString drawn = QFontInfo(label.font()).family().section(QStringLiteral(" ["), 0, 0);
    const bool listed = substitutes.contains(drawn, Qt::CaseInsensitive);
    EXPECT_TRUE(listed || drawn == QFontInfo(QFont()).family()) << drawn.toStdString();
}

TEST(StyledLabel, PaintsTextInItsColourWithNoBackgroundWhenTransparent)
{
    CStyledLabel label(QStringLiteral("Select drive"), nullptr);
    label.resize(150, 20);
    label.SetFontSize(12).SetTextColor(Rgb(0, 255, 0)).SetTransparent(true);
    QFont crisp = label.FontRecord();
    crisp.setStyleStrategy(QFont::NoAntialias);
    label.setFont(crisp);

    QImage image(label.size(), QImage::Format_RGB32);
    image.fill(QColor(123, 104, 238));
    {
        QPainter painter(&image);
        label.PaintTo(painter);
    }
    EXPECT_GT(test::CountColor(image, QColor(0, 255, 0)), 0);
    EXPECT_EQ(QColor(image.pixel(149, 19)), QColor(123, 104, 238));
    const QRect box = test::ColorBox(image, QColor(0, 255, 0));
    EXPECT_LT(box.left(), 3);  // left-aligned

    label.SetTransparent(false);  // opaque: the button face behind the text
    image.fill(QColor(123, 104, 238));
    {
        QPainter painter(&image);
        label.PaintTo(painter);
    }
    EXPECT_EQ(QColor(image.pixel(149, 19)), label.palette().color(QPalette::Button));
}

TEST(StyledLabel, CentreImageStyleCentresOneLineBothWays)
{
    CStyledLabel label(QStringLiteral("Loading"), nullptr);
    label.resize(200, 60);
    label.setAlignment(Qt::AlignCenter);
    EXPECT_EQ(label.StaticStyle(), SS_CENTER | SS_CENTERIMAGE);
    label.SetFontSize(14).SetTextColor(Rgb(255, 0, 0)).SetTransparent(true);
    QFont crisp = label.FontRecord();
    crisp.setStyleStrategy(QFont::NoAntialias);
    label.setFont(crisp);
    QImage image(label.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    {
        QPainter painter(&image);
        label.PaintTo(painter);
    }
    const QRect box = test::ColorBox(image, QColor(255, 0, 0));
    ASSERT_FALSE(box.isEmpty());
    EXPECT_LE(std::abs(box.left() - (199 - box.right())), 3);
    EXPECT_LE(std::abs(box.top() - (59 - box.bottom())), 6);
    EXPECT_GT(box.top(), 10);
}

TEST(StyledLabel, NewTextOverTheBitmapLeavesNoTraceOfTheOldText)
{
    CBitmapDialog dialog;
    dialog.resize(400, 100);
    dialog.SetBackgroundBitmap(IDB_BACKGROUND);
    CStyledLabel* label = new CStyledLabel(QStringLiteral("Analyzing disk, please wait......"), &dialog);
    label->setGeometry(10, 10, 380, 30);
    label->SetTransparent(true).SetFontSize(14).SetFontBold(true).SetTextColor(Rgb(255, 255, 255));
    dialog.show();
    const QColor skin(123, 104, 238);
    ASSERT_TRUE(test::WaitUntil([&] {
        return test::CountColor(test::ScreenPixels(&dialog).copy(label->geometry()), Qt::white) > 50;
    }));

    label->SetText(QStringLiteral("Done"));
    ASSERT_TRUE(test::WaitUntil([&] {
        const QImage area = test::ScreenPixels(&dialog).copy(label->geometry());
        return test::ColorBox(area, Qt::white).right() < 100;
    }));
    const QImage area = test::ScreenPixels(&dialog).copy(label->geometry());
    // Right of the short new text there is nothing but the skin.
    const QImage right = area.copy(120, 0, 260, 30);
    EXPECT_EQ(test::CountColor(right, skin), 260 * 30);

    label->SetText(QString());
    ASSERT_TRUE(test::WaitUntil([&] {
        return test::CountColor(test::ScreenPixels(&dialog).copy(label->geometry()), skin) == 380 * 30;
    }));
}

TEST(StyledLabel, ClickOnALinkReachesTheOwnerOnce)
{
    QWidget dialog;
    CStyledLabel* link = new CStyledLabel(QStringLiteral("Settings"), &dialog);
    link->setGeometry(10, 10, 60, 15);
    int clicks = 0;
    QObject::connect(link, &CStyledLabel::clicked, [&] { ++clicks; });

    // Not yet a link: the mouse falls through to the parent.
    EXPECT_TRUE(link->testAttribute(Qt::WA_TransparentForMouseEvents));
    QCursor hand;
    ASSERT_TRUE(LoadCursorResource(IDC_HAND, hand));
    link->SetLink(true, true).SetLinkCursor(hand);
    EXPECT_FALSE(link->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(link->cursor().hotSpot(), QPoint(5, 0));

    test::SendMouse(link, QEvent::MouseButtonPress, QPoint(5, 5));
    test::SendMouse(link, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(clicks, 1);
    test::SendMouse(link, QEvent::MouseButtonPress, QPoint(5, 5), Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(clicks, 1);
    test::SendMouse(link, QEvent::MouseButtonDblClick, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);  // the second press of a double click is not another click

    link->SetLink(false, false);
    test::SendMouse(link, QEvent::MouseButtonPress, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);
}

}  // namespace
}  // namespace snapmend
