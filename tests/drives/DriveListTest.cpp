// The drive page's list in the main window, with the drive source faked.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QHeaderView>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "CStyledButton.h"
#include "DriveListView.h"
#include "MountPointIntent.h"
#include "DriveSource.h"
#include "FakeSystemInfo.h"
#include "MainDialog.h"
#include "WindowControls.h"
#include "PlatformServices.h"
#include "ScriptedUiServices.h"
#include "TestDrives.h"
#include "TestUtil.h"

using namespace snapmend;
using snapmend::test::Ctl;
using snapmend::test::Drive;

namespace {

// Answers each listing with the next prepared list (the last one repeats) and
// notes what the window looked like while it was asked.
class FakeDriveSource : public DriveSource {
public:
    std::vector<std::vector<DriveRecord>> answers;
    std::function<void()> onList;
    int calls = 0;
    bool attached = true;

    QString fstabPath;  // the file system table, a test's own file

    bool StillAttached(const DriveRecord&) override { return attached; }
    QByteArray FileSystemTable() override
    {
        QFile file(fstabPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::vector<DriveRecord> ListDrives() override
    {
        if (onList)
            onList();
        const size_t i = std::min<size_t>(static_cast<size_t>(calls), answers.size() - 1);
        ++calls;
        return answers[i];
    }
};


class DriveListTest : public ::testing::Test {
protected:
    DriveListTest()
    {
        platform.ui = &ui;
        platform.system = &system;
        platform.drives = &drives;
        DriveRecord stick = Drive("/media/user/My Photos", "/dev/sdb", 1025, "vfat", "USB disk");
        stick.label = "My Photos";
        stick.model = "SanDisk Cruzer Blade";
        DriveRecord wholeStick = Drive("/dev/sdb", "/dev/sdb", 1025, "", "USB disk");
        wholeStick.partitionTable = "gpt";
        wholeStick.model = stick.model;
        drives.answers = {{Drive("/", "/dev/sda", 500107862016LL, "ext4", "Internal disk"),
                           Drive("/boot/efi", "/dev/sda", 500107862016LL, "vfat", "Internal disk"), stick,
                           wholeStick}};
    }

    // Starts the window and waits for the drive page.
    static bool ShowDrivePage(MainDialog& dialog)
    {
        dialog.OnInitDialog();
        dialog.show();
        return test::WaitUntil([&] { return Ctl(dialog).lstDrives->isVisible(); }, 3000);
    }

    static QStringList Row(const QTreeWidget* list, int row)
    {
        QStringList texts;
        for (int column = 0; column < list->columnCount(); ++column)
            texts << list->topLevelItem(row)->text(column);
        return texts;
    }

    test::ScriptedUiServices ui;
    test::FakeSystemInfo system;
    FakeDriveSource drives;
    PlatformServices platform = PlatformServices::Default();
};

}  // namespace

TEST_F(DriveListTest, StartUpListsTheDrivesBeforeShowingTheDrivePage)
{
    MainDialog dialog(platform);
    bool pageVisibleWhileListing = true;
    drives.onList = [&] { pageVisibleWhileListing = Ctl(dialog).lstDrives->isVisible(); };
    dialog.OnInitDialog();
    dialog.show();

    ASSERT_TRUE(test::WaitUntil([&] { return Ctl(dialog).lstDrives->isVisible(); }, 3000));
    EXPECT_EQ(drives.calls, 1);
    EXPECT_FALSE(pageVisibleWhileListing) << "the drives are listed while the loading view shows";

    QTreeWidget* list = Ctl(dialog).lstDrives;
    const QStringList headers{"Drive", "Label", "File System", "Capacity", "Information"};
    ASSERT_EQ(list->columnCount(), headers.size());
    int columnsWidth = 0;
    for (int column = 0; column < headers.size(); ++column) {
        EXPECT_EQ(list->headerItem()->text(column), headers[column]);
        columnsWidth += list->columnWidth(column);
    }
    EXPECT_EQ(columnsWidth, list->viewport()->width()) << "the columns use the width there is, no more";
    const QFontMetrics metrics = list->fontMetrics();
    EXPECT_GE(list->columnWidth(0), metrics.horizontalAdvance("/media/user/My Photos")) << "no name is cut short";
    ASSERT_EQ(list->topLevelItemCount(), 5);
    EXPECT_EQ(Row(list, 0), QStringList({"/", "", "ext4", "465.8 GB", "Internal disk"}));
    EXPECT_EQ(Row(list, 1), QStringList({"/boot/efi", "", "vfat", "465.8 GB", "Internal disk"}));
    EXPECT_EQ(Row(list, 2),
              QStringList({"/media/user/My Photos", "My Photos", "vfat", "1.0 KB", "USB disk, SanDisk Cruzer Blade"}));
    EXPECT_EQ(Row(list, 3), QStringList({"/dev/sdb", "", "GPT partitions", "1.0 KB", "USB disk, SanDisk Cruzer Blade"}));
    EXPECT_EQ(Row(list, 4), QStringList({"Image file...", "", "", "", "Disk image file"}));
    EXPECT_TRUE(list->topLevelItem(2)->toolTip(0).startsWith("/media/user/My Photos\n"))
        << "the full name of a clipped cell";
    EXPECT_EQ(list->textElideMode(), Qt::ElideMiddle) << "rows that differ at their ends stay apart";
    EXPECT_TRUE(list->selectedItems().isEmpty());
}

TEST_F(DriveListTest, RefreshReplacesTheRowsUnderAWaitCursorAndSelectsNothing)
{
    MainDialog dialog(platform);
    ASSERT_TRUE(ShowDrivePage(dialog));
    QTreeWidget* list = Ctl(dialog).lstDrives;
    list->setCurrentItem(list->topLevelItem(2));
    ASSERT_EQ(list->selectedItems().size(), 1);

    // The stick is gone, a card has come.
    drives.answers.push_back({Drive("/", "/dev/sda", 500107862016LL, "ext4", "Internal disk"),
                              Drive("/media/card", "/dev/mmcblk0", 0, "", "")});
    std::optional<Qt::CursorShape> cursorWhileListing;
    drives.onList = [&] {
        if (const QCursor* cursor = QApplication::overrideCursor())
            cursorWhileListing = cursor->shape();
    };
    for (int press = 0; press < 2; ++press) {
        Ctl(dialog).btnRefresh->click();

        ASSERT_EQ(cursorWhileListing, Qt::WaitCursor) << "press " << press;
        EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the normal cursor is back";
        ASSERT_EQ(list->topLevelItemCount(), 3) << "press " << press;
        EXPECT_EQ(Row(list, 0), QStringList({"/", "", "ext4", "465.8 GB", "Internal disk"}));
        EXPECT_EQ(Row(list, 1), QStringList({"/media/card", "", "", "0 bytes", ""}));
        EXPECT_TRUE(list->selectedItems().isEmpty());
        EXPECT_EQ(list->currentItem(), nullptr);
        cursorWhileListing.reset();
    }
    EXPECT_EQ(drives.calls, 3);
}

TEST_F(DriveListTest, AnEmptyListingLeavesAnEmptyList)
{
    drives.answers = {{}};
    MainDialog dialog(platform);
    ASSERT_TRUE(ShowDrivePage(dialog));
    ASSERT_EQ(Ctl(dialog).lstDrives->topLevelItemCount(), 1) << "only the disk image row";
    EXPECT_EQ(Ctl(dialog).lstDrives->topLevelItem(0)->text(0), kDiskImageRowText);
}

TEST_F(DriveListTest, ADiskGoneSinceTheListingIsSaidAndTheListRefreshed)
{
    MainDialog dialog(platform);
    ASSERT_TRUE(ShowDrivePage(dialog));
    QTreeWidget* list = Ctl(dialog).lstDrives;
    list->setCurrentItem(list->topLevelItem(2));
    // The stick was pulled after the list was made.
    drives.attached = false;
    drives.answers.push_back({Drive("/", "/dev/sda", 500107862016LL, "ext4", "Internal disk")});

    Ctl(dialog).btnStart->click();

    ASSERT_EQ(ui.Texts(), std::vector<QString>{kDriveGoneText});
    EXPECT_EQ(drives.calls, 2) << "the list is made again";
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "/");
    EXPECT_TRUE(list->isVisible()) << "no scan starts";
}

TEST(DriveColumnsTest, SpareWidthGoesToTheLastColumnAndTheDriveNameGivesWayFirst)
{
    const struct {
        std::vector<int> wanted;
        int available;
        std::vector<int> widths;
    } cases[] = {
        {{100, 50, 60, 70, 150}, 600, {100, 50, 60, 70, 320}},  // room to spare
        {{100, 50, 60, 70, 150}, 430, {100, 50, 60, 70, 150}},  // exactly
        {{300, 50, 60, 70, 150}, 530, {200, 50, 60, 70, 150}},  // the long name is elided
        {{300, 50, 60, 70, 250}, 430, {90, 50, 60, 70, 160}},   // then the information
        {{300, 50, 60, 70, 250}, 200, {90, 50, 60, 70, 90}},    // never below the minimum
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitColumnWidths(c.wanted, c.available, 0, 90), c.widths) << c.available;
}

TEST_F(DriveListTest, AnOutputFolderMeantForADiskThatIsNotMountedIsAskedAbout)
{
    // The output folder is an empty folder that the file system table names
    // as the mount point of a disk that is not mounted now.
    QTemporaryDir settings;
    QTemporaryDir root;
    const QString mountPoint = root.filePath("backup disk");
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    QFile fstab(root.filePath("fstab"));
    ASSERT_TRUE(fstab.open(QIODevice::WriteOnly));
    fstab.write("UUID=0b1c / ext4 defaults 0 1\nLABEL=BACKUP " + QString(mountPoint).replace(' ', "\\040").toUtf8() +
                " ext4 noauto 0 2\n");
    fstab.close();
    drives.fstabPath = fstab.fileName();
    QFile savedir(settings.filePath("settings.ini"));
    ASSERT_TRUE(savedir.open(QIODevice::WriteOnly));
    savedir.write("savedir=" + mountPoint.toUtf8() + "\n");
    savedir.close();
    platform.programFolder = settings.path() + '/';

    MainDialog dialog(platform);
    ASSERT_TRUE(ShowDrivePage(dialog));
    Ctl(dialog).lstDrives->setCurrentItem(Ctl(dialog).lstDrives->topLevelItem(2));
    ui.QueueAnswer(IDNO);

    Ctl(dialog).btnStart->click();

    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text, UnmountedMountPointQuestion(mountPoint, mountPoint));
    EXPECT_TRUE(ui.Boxes()[0].text.contains("\"" + mountPoint + "\"")) << "the folder is named";
    EXPECT_EQ(ui.Boxes()[0].flags & MB_YESNO, unsigned(MB_YESNO));
    EXPECT_TRUE(Ctl(dialog).lstDrives->isVisible()) << "no scan starts";
    EXPECT_TRUE(QDir(mountPoint).isEmpty()) << "nothing is written there";
}
