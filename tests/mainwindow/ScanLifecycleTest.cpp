#include <QDirIterator>
#include <QListWidget>
#include <QTest>
#include <signal.h>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "ChildProcess.h"
#include "ScanFixture.h"
#include "TimerService.h"

using namespace snapmend;
using namespace snapmend::test;

namespace {

const QString kCancelQuestion = "Snapmend is currently analyzing disk, are you sure you want to cancel?";
const QString kCloseQuestion = "Snapmend is currently analyzing disk, are you sure you want to exit?";
const QString k1009 =
    "Failed to load engine, error code -1009. Installation may be corrupted, please try to re-install Snapmend";

// The carved files below `folder`, the engine's own .snapmend bookkeeping left out.
QStringList FilesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.contains(QStringLiteral("/.snapmend/")))
            files << path;
    }
    return files;
}

}  // namespace

TEST_F(ScanFixture, StartWithoutASelectedDriveOnlyExplains)
{
    auto dialog = OpenOnDrivePage("/dev/null");
    Ctl(*dialog).btnStart->click();
    EXPECT_EQ(ui.Texts(), std::vector<QString>({"Please select drive from where to recover photos."}));
    EXPECT_TRUE(dialog->Scan().Workspace().root.isEmpty()) << "no workspace is made";
    EXPECT_FALSE(dialog->Scan().Running());
    EXPECT_TRUE(Ctl(*dialog).btnStart->isVisible());
}

TEST_F(ScanFixture, ScanRunsTheRealEngineToItsEndAndKeepsWhatItCarved)
{
    ASSERT_TRUE(InstallEngine(dataHome.path()));
    const QString image = scratch.path() + "/card.img";
    const auto photos = MakePhotoImage(image, 3, 8 << 20);
    ASSERT_EQ(photos.size(), 3u);
    auto dialog = OpenOnDrivePage(image);
    SelectFirstDrive(*dialog);

    QTest::mouseClick(Ctl(*dialog).btnStart, Qt::LeftButton);
    ASSERT_TRUE(dialog->Scan().Scanning() || dialog->Scan().Running());
    EXPECT_EQ(Ctl(*dialog).btnRecover->text(), "Cancel");
    EXPECT_TRUE(Ctl(*dialog).btnRecover->isVisible());
    EXPECT_FALSE(Ctl(*dialog).btnStart->isVisible());
    EXPECT_FALSE(Ctl(*dialog).lstDrives->isVisible());
    EXPECT_TRUE(Ctl(*dialog).lstPhotos->isVisible());
    EXPECT_TRUE(Ctl(*dialog).lstFiles->isVisible());
    EXPECT_EQ(Ctl(*dialog).lblProgress->geometry(), QRect(94, 432, 588, 23)) << "the tip line";
    EXPECT_GT(Ctl(*dialog).lblProgress->x(), Ctl(*dialog).btnRecover->geometry().right()) << "tip right of the button";
    EXPECT_EQ(Ctl(*dialog).lblProgress->text(), "<- Tips: click \"Cancel\" to stop analyzing and recover detected files.");
    EXPECT_EQ(dialog->Timers().Interval(TIMER_POLL_WORKSPACE), 500);

    // The engine ends by itself: the worker clears the flag and is joined.
    ASSERT_TRUE(WaitUntil([&] { return !dialog->Scan().Scanning() && !dialog->Scan().Running(); }, 20000));
    EXPECT_FALSE(dialog->Scan().Engine());
    const QStringList carved = FilesBelow(dialog->Scan().Workspace().engineOutputDir);
    EXPECT_EQ(carved.size(), 3) << carved.join(", ").toStdString();
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(ScanFixture, CancelAsksAndOnYesStopsTheEngineButKeepsItsResults)
{
    ASSERT_TRUE(InstallEngine(dataHome.path()));
    const QString image = scratch.path() + "/big.img";
    // Photos first, then a long sparse tail the engine needs seconds to read.
    ASSERT_EQ(MakePhotoImage(image, 2, 24LL << 30).size(), 2u);
    auto dialog = OpenOnDrivePage(image);
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return dialog->Scan().Engine() != nullptr; }, 10000));
    const QString output = dialog->Scan().Workspace().engineOutputDir;
    ASSERT_TRUE(WaitUntil([&] { return FilesBelow(output).size() == 2; }, 15000));

    ui.QueueAnswer(IDNO);
    QTest::mouseClick(Ctl(*dialog).btnRecover, Qt::LeftButton);
    EXPECT_EQ(ui.Texts().back(), kCancelQuestion);
    EXPECT_EQ(ui.Boxes().back().caption, "Confirm");
    EXPECT_EQ(ui.Boxes().back().flags, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_TRUE(dialog->Scan().Scanning()) << "No leaves the scan running";
    auto engine = dialog->Scan().Engine();
    ASSERT_TRUE(engine);
    EXPECT_EQ(::kill(engine->Pid(), 0), 0);

    ui.QueueAnswer(IDYES);
    QTest::mouseClick(Ctl(*dialog).btnRecover, Qt::LeftButton);
    EXPECT_FALSE(dialog->Scan().Scanning());
    ASSERT_TRUE(WaitUntil([&] { return !dialog->Scan().Running(); }, 5000)) << "the worker must end and be joined";
    EXPECT_EQ(FilesBelow(output).size(), 2) << "what the engine carved stays";
    EXPECT_TRUE(QDir(dialog->Scan().Workspace().root).exists());
    ASSERT_TRUE(WaitUntil([&] { return Ctl(*dialog).btnRecover->text() == "Recover"; }, 5000));
    EXPECT_EQ(Ctl(*dialog).lstPhotos->Model().Count(), 2) << "and is listed, ready to recover";
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_HARVEST));
}

TEST_F(ScanFixture, ClosingDuringAScanAsksThenStopsTheEngineAndDeletesTheWorkspace)
{
    ASSERT_TRUE(InstallEngine(dataHome.path()));
    const QString image = scratch.path() + "/big.img";
    ASSERT_EQ(MakePhotoImage(image, 1, 24LL << 30).size(), 1u);
    auto dialog = OpenOnDrivePage(image);
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return dialog->Scan().Engine() != nullptr; }, 10000));
    const pid_t pid = dialog->Scan().Engine()->Pid();
    const QString root = dialog->Scan().Workspace().root;

    ui.QueueAnswer(IDNO);
    EXPECT_FALSE(dialog->close());
    EXPECT_EQ(ui.Texts().back(), kCloseQuestion);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->Scan().Scanning());

    // Yes: the timers stop at once and the window ends when the scan reports its end.
    ui.QueueAnswer(IDYES);
    EXPECT_FALSE(dialog->close()) << "the window waits for the engine without blocking";
    for (int timer : {TIMER_POLL_WORKSPACE, TIMER_HARVEST, TIMER_COPY_OUT, TIMER_STARTUP})
        EXPECT_FALSE(dialog->Timers().IsActive(timer)) << timer;
    const size_t boxes = ui.Boxes().size();
    EXPECT_FALSE(dialog->close()) << "a second close while closing";
    EXPECT_EQ(ui.Boxes().size(), boxes) << "asks nothing";
    ASSERT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }, 5000));
    EXPECT_FALSE(dialog->Scan().Running());
    EXPECT_NE(::kill(pid, 0), 0) << "the engine must be gone";
    EXPECT_FALSE(QFileInfo::exists(root)) << "the workspace is deleted on close";
}

TEST_F(ScanFixture, MissingEnginePiecesGiveTheirMessageThen1009AndNoScan)
{
    struct Case { QString missing; int code; };
    for (const Case& c : {Case{"photo", -1003}, Case{"libcarver.so", -1004}, Case{"formats", -1005}}) {
        QTemporaryDir home;
        qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
        platform.engineFolder = EngineFolderIn(home.path());
        ASSERT_TRUE(InstallEngine(home.path(), {c.missing}));
        ui.Clear();
        auto dialog = OpenOnDrivePage("/dev/null");
        SelectFirstDrive(*dialog);
        Ctl(*dialog).btnStart->click();
        ASSERT_TRUE(WaitUntil([&] { return !dialog->Scan().Running(); }, 5000));
        const QString expected = QStringLiteral("Failed to load engine, error code %1. Installation may be corrupted, "
                                                "please try to re-install Snapmend").arg(c.code);
        EXPECT_EQ(ui.Texts(), std::vector<QString>({expected, k1009})) << c.missing.toStdString();
        EXPECT_FALSE(dialog->Scan().Scanning()) << "the scan state is cleared";
        dialog->close();
    }
}

TEST_F(ScanFixture, NoEnabledTypeExplainsAndClearsTheScanState)
{
    ASSERT_TRUE(InstallEngine(dataHome.path()));
    ASSERT_TRUE(ChooseFormats(""));
    auto dialog = OpenOnDrivePage("/dev/null");
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return !dialog->Scan().Running(); }, 5000));
    EXPECT_EQ(ui.Texts(), std::vector<QString>({"No file formats enabled.\n\nPlease go to 'Settings' to enable the "
                                                "type of file you wish to recover.", k1009}));
    EXPECT_FALSE(dialog->Scan().Scanning()) << "no scan runs, so the window can drain to the ready view";
}

TEST_F(ScanFixture, AnEngineThatRefusesTheDeviceIsReportedNotTakenForAnEmptyScan)
{
    ASSERT_TRUE(InstallEngine(dataHome.path()));
    auto dialog = OpenOnDrivePage(scratch.path() + "/no-such-disk");
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return !dialog->Scan().Running(); }, 10000));
    EXPECT_EQ(ui.Texts(), std::vector<QString>({"Failed to analyze disk. The disk cannot be read: it may have been "
                                                "removed, or it is damaged.\n\nCheck that it is attached, press "
                                                "Refresh and try again."}));
    EXPECT_FALSE(dialog->Scan().Scanning());
    EXPECT_TRUE(WaitUntil([&] { return DrivePageShown(*dialog); }, 5000)) << "no dead end: back to the drives";
    EXPECT_EQ(ui.Texts().size(), 1u) << "one message, the failure's own";
}
