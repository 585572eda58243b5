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
#include "WindowControls.h"

using namespace snapmend;
using snapmend::test::Ctl;

namespace {

class MainDialogTest : public ::testing::Test {
protected:
    MainDialogTest()
    {
        platform.ui = &ui;
        platform.system = &system;
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
    EXPECT_TRUE(Ctl(dialog).lblLoading->isVisible());
    EXPECT_FALSE(test::DrivePageShown(dialog));
    EXPECT_TRUE(Ctl(dialog).lnkHelp->isVisible());
    EXPECT_TRUE(Ctl(dialog).lnkSettings->isVisible());
    for (QWidget* hidden : std::initializer_list<QWidget*>{Ctl(dialog).btnRecover, Ctl(dialog).lblStatus, Ctl(dialog).lstPhotos,
                                                            Ctl(dialog).lstFiles, Ctl(dialog).progress, Ctl(dialog).lblProgress,
                                                            Ctl(dialog).lnkSelectPhotos, Ctl(dialog).lnkSelectFiles})
        EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
    EXPECT_EQ(dialog.Timers().Interval(TIMER_STARTUP), 100);

    ASSERT_TRUE(test::WaitUntil([&] { return test::DrivePageShown(dialog); }, 3000));
    EXPECT_FALSE(Ctl(dialog).lblLoading->isVisible());
    EXPECT_FALSE(dialog.Timers().IsActive(TIMER_STARTUP)) << "the start-up timer fires once";
    EXPECT_FALSE(Ctl(dialog).btnRecover->isVisible());
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(MainDialogTest, LaysOutTheTemplateInPixelsAndComputesTheHiddenViews)
{
    MainDialog dialog(platform);
    dialog.OnInitDialog();

    EXPECT_EQ(dialog.size(), QSize(704, 499));
    // Start: 9, 266, 50, 14 dialog units; output box 9, 247, 392, 12.
    const QRect start = Ctl(dialog).btnStart->geometry();
    EXPECT_EQ(start, QRect(14, 432, 75, 23));
    EXPECT_EQ(Ctl(dialog).edtOutputDir->width(), 588);
    EXPECT_EQ(Ctl(dialog).btnRecover->geometry(), start) << "Recover stands exactly on Start";

    const QRect bar = Ctl(dialog).progress->geometry();
    EXPECT_EQ(bar.x(), start.x());
    EXPECT_EQ(bar.width(), 588);
    EXPECT_EQ(Bottom(bar), Bottom(start) + 15);

    // The progress text stands above the bar outside a scan (the tip line is checked by the scan tests).
    EXPECT_EQ(Ctl(dialog).lblProgress->geometry(), QRect(QPoint(14, bar.y() - 25), QSize(588, 20)));

    const QRect selectDrive = Ctl(dialog).lblSelectDrive->geometry();
    const QRect status = Ctl(dialog).lblStatus->geometry();
    EXPECT_EQ(status.topLeft(), QPoint(selectDrive.x(), 5));
    EXPECT_EQ(status.size(), QSize(458, selectDrive.height() + 5)) << "template width 305 units";

    const QRect loading = Ctl(dialog).lblLoading->geometry();
    EXPECT_EQ(loading.size(), QSize(selectDrive.width() + 30, selectDrive.height() + 10));
    EXPECT_EQ(loading.x(), (dialog.frameGeometry().width() - loading.width()) / 2);
    EXPECT_EQ(loading.y(), (dialog.frameGeometry().height() - loading.height()) / 2);

    EXPECT_EQ(Ctl(dialog).lstPhotos->Model().Count(), 0);
    EXPECT_EQ(Ctl(dialog).lstPhotos->iconSize(), QSize(64, 64));
    EXPECT_EQ(Ctl(dialog).lstDrives->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(Ctl(dialog).lstDrives->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(Ctl(dialog).lstFiles->selectionBehavior(), QAbstractItemView::SelectRows);

    // Their widths follow the rows (tests/drives).
    const QStringList driveColumns = {"Drive", "Label", "File System", "Capacity", "Information"};
    ASSERT_EQ(Ctl(dialog).lstDrives->columnCount(), driveColumns.size());
    for (int c = 0; c < driveColumns.size(); ++c)
        EXPECT_EQ(Ctl(dialog).lstDrives->headerItem()->text(c), driveColumns[c]);
    const QStringList fileColumns = {"Name", "Size", "Extension", "State"};
    ASSERT_EQ(Ctl(dialog).lstFiles->model()->columnCount(), 4);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(Ctl(dialog).lstFiles->model()->headerData(c, Qt::Horizontal).toString(), fileColumns[c]);
        EXPECT_EQ(Ctl(dialog).lstFiles->columnWidth(c), 150);
    }
}

TEST_F(MainDialogTest, StartAndRecoverAreNeverVisibleTogether)
{
    MainDialog dialog(platform);
    dialog.OnInitDialog();
    dialog.show();
    auto neverBoth = [&] { return !(Ctl(dialog).btnStart->isVisible() && Ctl(dialog).btnRecover->isVisible()); };
    EXPECT_TRUE(neverBoth());
    dialog.OnTimer(TIMER_STARTUP);
    EXPECT_TRUE(Ctl(dialog).btnStart->isVisible());
    EXPECT_TRUE(neverBoth());
}

TEST_F(MainDialogTest, WithoutAdministratorRightsExplainsHidesAndEndsWithCode18)
{
    system.admin = false;
    MainDialog dialog(platform);
    EXPECT_EQ(dialog.DoModal(), 18);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_TRUE(ui.Boxes()[0].text.contains("pkexec snapmend"));
    EXPECT_EQ(ui.Boxes()[0].caption, "Snapmend");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.Timers().IsActive(TIMER_STARTUP)) << "no start-up timer without rights";
    QCoreApplication::processEvents();
    EXPECT_FALSE(Ctl(dialog).lstDrives->isVisible());
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
    QTest::keyClick(Ctl(dialog).lstDrives, Qt::Key_Enter);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible()) << "Enter must not end the window";
    EXPECT_EQ(finished, -1);

    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(test::WaitUntil([&] { return !dialog.isVisible(); }, 2000));
    EXPECT_EQ(finished, 0) << "Escape ends the window through the close path";
}
