#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "FakeSystemInfo.h"
#include "MainDialog.h"
#include "PlatformServices.h"
#include "ScriptedUiServices.h"
#include "TestUtil.h"
#include "TimerIds.h"
#include "TimerService.h"

using namespace snapmend;

namespace {

class MainDialogTest : public ::testing::Test {
protected:
    MainDialogTest()
    {
        platform.ui = &ui;
        platform.system = &system;
    }

    bool DrivePageVisible(const MainDialog& dialog)
    {
        for (QWidget* w : std::initializer_list<QWidget*>{dialog.m_btnBrowse, dialog.m_btnStart, dialog.m_btnRefresh,
                                                          dialog.m_lstDrives, dialog.m_lblSelectDrive,
                                                          dialog.m_lblOutputDir, dialog.m_edtOutputDir})
            if (!w->isVisible())
                return false;
        return true;
    }

    test::ScriptedUiServices ui;
    test::FakeSystemInfo system;
    PlatformServices platform = PlatformServices::Default();
};

int Bottom(const QRect& r) { return r.y() + r.height(); }

}  // namespace

TEST_F(MainDialogTest, OpensOnTheLoadingViewAndShowsTheDrivePage100MsLater)
{
    MainDialog dialog(platform);
    dialog.OnInitDialog();
    dialog.show();

    EXPECT_EQ(dialog.windowTitle(), "Kestrova Snapmend");
    EXPECT_TRUE(dialog.m_lblLoading->isVisible());
    EXPECT_FALSE(DrivePageVisible(dialog));
    EXPECT_TRUE(dialog.m_lnkHelp->isVisible());
    EXPECT_TRUE(dialog.m_lnkSettings->isVisible());
    for (QWidget* hidden : std::initializer_list<QWidget*>{dialog.m_btnRecover, dialog.m_lblStatus, dialog.m_lstPhotos,
                                                            dialog.m_lstFiles, dialog.m_progress, dialog.m_lblProgress,
                                                            dialog.m_lnkSelectPhotos, dialog.m_lnkSelectFiles})
        EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
    EXPECT_EQ(dialog.Timers().Interval(TIMER_STARTUP), 100);

    ASSERT_TRUE(test::WaitUntil([&] { return DrivePageVisible(dialog); }, 3000));
    EXPECT_FALSE(dialog.m_lblLoading->isVisible());
    EXPECT_FALSE(dialog.Timers().IsActive(TIMER_STARTUP)) << "the start-up timer fires once";
    EXPECT_FALSE(dialog.m_btnRecover->isVisible());
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(MainDialogTest, LaysOutTheTemplateInPixelsAndComputesTheHiddenViews)
{
    MainDialog dialog(platform);
    dialog.OnInitDialog();

    EXPECT_EQ(dialog.size(), QSize(704, 499));
    // Start: 9, 266, 50, 14 dialog units; output box 9, 247, 392, 12.
    const QRect start = dialog.m_btnStart->geometry();
    EXPECT_EQ(start, QRect(14, 432, 75, 23));
    EXPECT_EQ(dialog.m_edtOutputDir->width(), 588);
    EXPECT_EQ(dialog.m_btnRecover->geometry(), start) << "Recover stands exactly on Start";

    const QRect bar = dialog.m_progress->geometry();
    EXPECT_EQ(bar.x(), start.x());
    EXPECT_EQ(bar.width(), 588);
    EXPECT_EQ(Bottom(bar), Bottom(start) + 15);

    EXPECT_EQ(dialog.m_rcProgressLine, QRect(QPoint(14, bar.y() - 25), QSize(588, 20)));
    EXPECT_EQ(dialog.m_rcTipLine, QRect(QPoint(14 + 75 + 5, 432), QSize(14 + 588 + 80 - (14 + 75 + 5), 23)));
    EXPECT_EQ(dialog.m_lblProgress->geometry(), dialog.m_rcProgressLine);

    const QRect selectDrive = dialog.m_lblSelectDrive->geometry();
    const QRect status = dialog.m_lblStatus->geometry();
    EXPECT_EQ(status.topLeft(), QPoint(selectDrive.x(), 5));
    EXPECT_EQ(status.size(), QSize(458, selectDrive.height() + 5)) << "template width 305 units";

    const QRect loading = dialog.m_lblLoading->geometry();
    EXPECT_EQ(loading.size(), QSize(selectDrive.width() + 30, selectDrive.height() + 10));
    EXPECT_EQ(loading.x(), (dialog.frameGeometry().width() - loading.width()) / 2);
    EXPECT_EQ(loading.y(), (dialog.frameGeometry().height() - loading.height()) / 2);

    EXPECT_EQ(dialog.m_thumbnails.CellSize(), QSize(64, 64));
    EXPECT_EQ(dialog.m_thumbnails.Background(), QColor(Qt::white));
    EXPECT_EQ(dialog.m_thumbnails.GetImageCount(), 0);
    EXPECT_EQ(dialog.m_lstPhotos->iconSize(), QSize(64, 64));
    EXPECT_EQ(dialog.m_lstDrives->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(dialog.m_lstDrives->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(dialog.m_lstFiles->selectionBehavior(), QAbstractItemView::SelectRows);

    const QStringList driveColumns = {"Drive", "File System", "Capacity", "Information"};
    const int driveWidths[] = {80, 80, 120, 180};
    ASSERT_EQ(dialog.m_lstDrives->columnCount(), 4);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(dialog.m_lstDrives->headerItem()->text(c), driveColumns[c]);
        EXPECT_EQ(dialog.m_lstDrives->columnWidth(c), driveWidths[c]);
    }
    const QStringList fileColumns = {"Name", "Size", "Extension"};
    ASSERT_EQ(dialog.m_lstFiles->columnCount(), 3);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(dialog.m_lstFiles->headerItem()->text(c), fileColumns[c]);
        EXPECT_EQ(dialog.m_lstFiles->columnWidth(c), 150);
    }
}

TEST_F(MainDialogTest, StartAndRecoverAreNeverVisibleTogether)
{
    MainDialog dialog(platform);
    dialog.OnInitDialog();
    dialog.show();
    auto neverBoth = [&] { return !(dialog.m_btnStart->isVisible() && dialog.m_btnRecover->isVisible()); };
    EXPECT_TRUE(neverBoth());
    dialog.OnTimer(TIMER_STARTUP);
    EXPECT_TRUE(dialog.m_btnStart->isVisible());
    EXPECT_TRUE(neverBoth());
    dialog.ShowLoading();
    EXPECT_TRUE(neverBoth());
    dialog.ShowDrivePage();
    EXPECT_TRUE(neverBoth());
}

TEST_F(MainDialogTest, WithoutAdministratorRightsExplainsHidesAndEndsWithCode18)
{
    system.admin = false;
    MainDialog dialog(platform);
    EXPECT_EQ(dialog.DoModal(), 18);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_TRUE(ui.Boxes()[0].text.startsWith("Your need to be administrator to use Kestrova Snapmend"));
    EXPECT_EQ(ui.Boxes()[0].caption, "Snapmend");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.Timers().IsActive(TIMER_STARTUP)) << "no start-up timer without rights";
    QCoreApplication::processEvents();
    EXPECT_FALSE(dialog.m_lstDrives->isVisible());
}

TEST_F(MainDialogTest, EnterIsIgnoredAndEscapeGoesThroughTheClosePath)
{
    MainDialog dialog(platform);
    dialog.OnInitDialog();
    dialog.show();
    dialog.OnTimer(TIMER_STARTUP);
    int finished = -1;
    QObject::connect(&dialog, &QDialog::finished, [&](int code) { finished = code; });

    QTest::keyClick(&dialog, Qt::Key_Return);
    QTest::keyClick(dialog.m_lstDrives, Qt::Key_Enter);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible()) << "Enter must not end the window";
    EXPECT_EQ(finished, -1);

    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(test::WaitUntil([&] { return !dialog.isVisible(); }, 2000));
    EXPECT_EQ(finished, 0) << "Escape ends the window through the close path";
}
