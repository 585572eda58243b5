#include <QDirIterator>
#include <QListWidget>
#include <QLineEdit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <QTest>
#include <signal.h>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "ChildProcess.h"
#include "FileSystem.h"
#include "ImageCopy.h"
#include "SameDisk.h"
#include "ScanCheckpoint.h"
#include "ScanFixture.h"
#include "ScanWorkspace.h"
#include "TimerService.h"

using namespace snapmend;
using namespace snapmend::test;

namespace {

const QString kCancelQuestion = "Snapmend is currently analyzing disk, are you sure you want to cancel?";
const QString kCloseQuestion = "Snapmend is currently analyzing disk, are you sure you want to exit?";
const QString k1009 =
    "Failed to load engine, error code -1009. Installation may be corrupted, please try to re-install Snapmend";

// An engine folder whose `photo` is a shell script (the process boundary is
// the platform layer here): it records its arguments and SNAPMEND_RESUME in
// $FAKE_ENGINE_LOG and runs `body` with the arguments as $1...
bool InstallFakeEngine(const QString& dataHome, const QString& body)
{
    const QString folder = EngineFolderIn(dataHome);
    if (!QDir().mkpath(folder + "/formats"))
        return false;
    QFile library(folder + "/libcarver.so");
    QFile script(folder + "/photo");
    if (!library.open(QIODevice::WriteOnly) || !script.open(QIODevice::WriteOnly))
        return false;
    script.write(("#!/bin/sh\necho \"$* resume=$SNAPMEND_RESUME\" >> \"$FAKE_ENGINE_LOG\"\n" + body + "\n").toUtf8());
    script.close();
    return script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Writes one progress line or the totals line to the window's progress descriptor.
QString Report(const QString& line) { return "echo '" + line + "' >&$SNAPMEND_PROGRESS_FD"; }

// The files carved below `folder`, without the engine's own records (its ".snapmend" folder).
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

// The engine read the disk to its end with 13 MB unreadable (exit status 3):
// no failure, the count in the message at the end and on the results page.
TEST_F(ScanFixture, UnreadableAreasAreToldAndAreNoFailure)
{
    const QString photo = scratch.path() + "/p.jpg";
    ASSERT_EQ(QProcess::execute("convert", {"-size", "40x30", "xc:red", photo}), 0);
    qputenv("FAKE_PHOTO", photo.toUtf8());
    qputenv("FAKE_ENGINE_LOG", (scratch.path() + "/log").toUtf8());
    ASSERT_TRUE(InstallFakeEngine(dataHome.path(), "cp \"$FAKE_PHOTO\" \"$2/f1.jpg\"\n" + Report("4096 8192 13002342") +
                                                       "\n" + Report("totals 1 0 13002342") + "\nexit 3"));
    auto dialog = OpenOnDrivePage(scratch.path() + "/log");
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return Ctl(*dialog).btnRecover->text() == "Recover"; }, 10000));
    EXPECT_EQ(ui.Texts(), std::vector<QString>{UnreadableScanEndText(13002342)});
    EXPECT_TRUE(ui.Texts().front().contains("12.4 MB of this disk could not be read."));
    EXPECT_TRUE(ui.Texts().front().contains("Copy to an image file...")) << "what to do is suggested";
    EXPECT_EQ(Ctl(*dialog).lblStatus->text(),
              "Press 'Recover' to recover files detected. 12.4 MB of this disk could not be read.");
    EXPECT_GE(Ctl(*dialog).lblStatus->width(), Ctl(*dialog).lblStatus->fontMetrics().horizontalAdvance(
                                                    Ctl(*dialog).lblStatus->text()))
        << "the whole line fits";
    Screenshot("unreadable-ready.png");
    EXPECT_EQ(Ctl(*dialog).lstPhotos->Model().Count(), 1);
}

// "Copy to an image file...": the engine's copy runs with Start as Stop, and
// at its end the image can be scanned at once.
TEST_F(ScanFixture, CopyToAnImageFileThenScanIt)
{
    const QString log = scratch.path() + "/log";
    qputenv("FAKE_ENGINE_LOG", log.toUtf8());
    ASSERT_TRUE(InstallFakeEngine(dataHome.path(), "if [ \"$1\" = /image ]; then cp \"$2\" \"$3\"; echo '# map' > "
                                                   "\"$4\"; " + Report("512 1024 512") + "; sleep 1; exit 3; fi"));
    const QString disk = scratch.path() + "/card.img";
    QFile card(disk);
    ASSERT_TRUE(card.open(QIODevice::WriteOnly) && card.write(QByteArray(1024, 'c')) == 1024);
    card.close();
    QTemporaryDir target;
    auto dialog = OpenOnDrivePage(disk);
    const ImageCopyNames names = ImageCopyNamesFor(disk, DeviceIdentity(disk));
    const QString image = target.path() + "/" + names.image;

    ui.QueueFolder(target.path());
    dialog->CopyDiskToImage(disk);
    ASSERT_TRUE(dialog->ImageCopyRunning());
    EXPECT_EQ(Ctl(*dialog).btnStart->text(), "Stop");
    EXPECT_FALSE(Ctl(*dialog).lstDrives->isEnabled());
    EXPECT_TRUE(Ctl(*dialog).lblProgress->text().startsWith("Copying the disk to an image file, please wait"));
    Screenshot("image-copy-progress.png");
    ui.QueueAnswer(IDYES);  // scan the image now
    ASSERT_TRUE(WaitUntil([&] { return !dialog->ImageCopyRunning() && !ui.Texts().empty(); }, 10000));
    EXPECT_EQ(ui.Texts().front(), ImageCopiedQuestion(image, true, 512));
    EXPECT_EQ(ReadAll(image), QByteArray(1024, 'c'));
    EXPECT_TRUE(QFileInfo::exists(target.path() + "/" + names.map));
    EXPECT_EQ(Ctl(*dialog).btnStart->text(), "Start");
    ASSERT_TRUE(WaitUntil([&] { return ReadAll(log).count('\n') == 2; }, 10000));
    const QList<QByteArray> runs = ReadAll(log).split('\n');
    EXPECT_TRUE(runs[0].startsWith("/image " + disk.toUtf8() + " /proc/")) << runs[0].toStdString();
    EXPECT_TRUE(runs[1].contains(" /cmd " + image.toUtf8() + " fileopt,")) << "the image is scanned: " << runs[1].toStdString();

    // The same disk again goes on with the same files; an image without its map is never overwritten.
    ASSERT_TRUE(QFile::remove(target.path() + "/" + names.map));
    EXPECT_EQ(ImageCopyTargetProblem(target.path(), names).has_value(), true);
}

namespace {

// Leaves an unfinished scan of `device` in the output folder, with one carved photo.
std::optional<ScanWorkspace> LeaveUnfinishedScan(const QString& outputFolder, const QString& device,
                                                 const QString& photo)
{
    std::optional<ScanArea> area = OpenScanArea(outputFolder);
    std::optional<ScanWorkspace> workspace = area ? CreateScanWorkspace(*area, QDateTime::currentDateTime())
                                                  : std::nullopt;
    if (!workspace || !QDir().mkpath(workspace->engineOutputDir + "/.snapmend") ||
        !QFile::copy(photo, workspace->engineOutputDir + "/f7.jpg"))
        return std::nullopt;
    QFile checkpoint(workspace->engineOutputDir + "/.snapmend/checkpoint");
    if (!checkpoint.open(QIODevice::WriteOnly))
        return std::nullopt;
    checkpoint.write("version=1\nidentity=" + DeviceIdentity(device).toUtf8() +
                     "\ncommand=fileopt,everything,disable,png,enable,search\nposition=2097152\nstate=scanning\n");
    return workspace;
}

}  // namespace

// An unfinished scan of the same disk is offered: Yes continues it (the
// engine told to resume, with the selection it had, what it found listed at
// once), No discards it and starts over, Cancel does nothing.
TEST_F(ScanFixture, AnUnfinishedScanOfTheSameDiskIsOfferedToContinue)
{
    const QString photo = scratch.path() + "/p.jpg";
    ASSERT_EQ(QProcess::execute("convert", {"-size", "40x30", "xc:blue", photo}), 0);
    const QString log = scratch.path() + "/log";
    qputenv("FAKE_ENGINE_LOG", log.toUtf8());
    ASSERT_TRUE(InstallFakeEngine(dataHome.path(), "sleep 2"));
    const QString disk = scratch.path() + "/card.img";
    ASSERT_EQ(MakePhotoImage(disk, 1, 4 << 20).size(), 1u);
    const auto unfinished = LeaveUnfinishedScan(outputFolder.path(), disk, photo);
    ASSERT_TRUE(unfinished);
    auto dialog = OpenOnDrivePage(disk);
    SelectFirstDrive(*dialog);

    ui.QueueAnswer(IDCANCEL);
    Ctl(*dialog).btnStart->click();
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].flags, unsigned(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(ui.Texts()[0], ContinueScanQuestion(2097152));
    EXPECT_FALSE(dialog->Scan().Running()) << "Cancel starts nothing";
    EXPECT_TRUE(DrivePageShown(*dialog));

    ui.QueueAnswer(IDYES);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(dialog->Scan().Running());
    EXPECT_EQ(dialog->Scan().Workspace().location, unfinished->location);
    EXPECT_EQ(dialog->Timers().Interval(TIMER_POLL_WORKSPACE), 0) << "the carried-over results at once";
    ASSERT_TRUE(WaitUntil([&] { return Ctl(*dialog).lstPhotos->Model().Count() == 1; }, 5000));
    ASSERT_TRUE(WaitUntil([&] { return ReadAll(log).contains("\n"); }, 5000));
    EXPECT_TRUE(ReadAll(log).endsWith(" fileopt,everything,disable,png,enable,search resume=1\n"))
        << ReadAll(log).toStdString();
    ASSERT_TRUE(WaitUntil([&] { return !dialog->Scan().Running(); }, 10000));
    dialog.reset();
    ASSERT_TRUE(QFile::remove(log));
    ASSERT_TRUE(QDir(outputFolder.path() + "/.snapmend-scans").removeRecursively());

    // Discarded: a fresh workspace, the engine not told to resume.
    ASSERT_TRUE(LeaveUnfinishedScan(outputFolder.path(), disk, photo));
    dialog = OpenOnDrivePage(disk);
    SelectFirstDrive(*dialog);
    ui.Clear();
    ui.QueueAnswer(IDNO);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(dialog->Scan().Running());
    EXPECT_EQ(QDir(outputFolder.path() + "/.snapmend-scans").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1)
        << "only the new scan's workspace";
    ASSERT_TRUE(WaitUntil([&] { return ReadAll(log).contains("\n"); }, 5000));
    EXPECT_TRUE(ReadAll(log).endsWith(" resume=\n")) << ReadAll(log).toStdString();
}

// Closing during a scan leaves a scan the engine can continue; a scan that
// cannot be continued goes as before.
TEST_F(ScanFixture, ClosingDuringAScanKeepsAContinuableWorkspace)
{
    qputenv("FAKE_ENGINE_LOG", (scratch.path() + "/log").toUtf8());
    ASSERT_TRUE(InstallFakeEngine(dataHome.path(), "mkdir \"$2/.snapmend\"; printf 'version=1\\nidentity=1:-:00\\n"
                                                   "command=fileopt,everything,enable,search\\nstate=scanning\\n' > "
                                                   "\"$2/.snapmend/checkpoint\"; exec sleep 30"));
    auto dialog = OpenOnDrivePage("/dev/null");
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    const QString location = dialog->Scan().Workspace().location;
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo::exists(location + "/temp/.snapmend/checkpoint"); }, 5000));
    ui.QueueAnswer(IDYES);
    dialog->close();
    ASSERT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }, 5000));
    EXPECT_TRUE(QFileInfo::exists(location + "/temp/.snapmend/checkpoint")) << "the unfinished scan is kept";
}

namespace {

// A second disk for the output folder: an ext4 loop disk whose backing file
// lies in a tmpfs of its own, so nothing written to it reaches a real disk.
// Made whole at once and mounted without access times, so that the kernel
// itself writes nothing to it later.
class SecondDisk {
public:
    explicit SecondDisk(int megabytes)
    {
        const QString base = m_scratch.path();
        m_ready = Bash("mkdir '" + base + "/ram' '" + base + "/mnt' && mount -t tmpfs -o size=" +
                       QString::number(megabytes + 16) + "m tmpfs '" + base + "/ram' && truncate -s " +
                       QString::number(megabytes) + "M '" + base + "/ram/disk.img'") &&
                  Bash("losetup -f --show '" + base + "/ram/disk.img'", &m_loop) && m_loop.startsWith("/dev/loop") &&
                  Bash("mkfs.ext4 -q -E lazy_itable_init=0,lazy_journal_init=0 '" + m_loop + "' && mount -o noatime '" +
                       m_loop + "' '" + base + "/mnt' && mkdir '" +
                       base + "/mnt/out'");
    }
    ~SecondDisk()
    {
        const QString base = m_scratch.path();
        Bash("umount '" + base + "/mnt' || true");
        if (m_loop.startsWith("/dev/loop"))
            Bash("losetup -d '" + m_loop + "' || true");
        Bash("umount '" + base + "/ram' || true");
    }
    bool Ready() const { return m_ready; }
    QString OutputFolder() const { return m_scratch.path() + "/mnt/out"; }
    const QString& Loop() const { return m_loop; }

private:
    QTemporaryDir m_scratch;
    QString m_loop;
    bool m_ready = false;
};

// The whole disk that holds the root file system, e.g. /dev/vda; empty when it has none of its own.
QString SystemDisk()
{
    for (const QString& name : QDir("/sys/block").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (name.startsWith("loop") || name.startsWith("zram") || name.startsWith("ram"))
            continue;
        if (FolderOnScannedDisk("/dev/" + name, "/"))
            return "/dev/" + name;
    }
    return {};
}

// Writes completed and sectors written of a whole disk, from its sysfs counters.
std::pair<quint64, quint64> WriteCounters(const QString& disk)
{
    const QList<QByteArray> fields =
        ReadAll("/sys/block/" + QFileInfo(disk).fileName() + "/stat").simplified().split(' ');
    if (fields.size() < 7)
        return {0, 0};
    return {fields[4].toULongLong(), fields[6].toULongLong()};
}

bool SaveOutputFolder(const QString& programFolder, const QString& folder)
{
    QFile settings(programFolder + "/settings.ini");
    return settings.open(QIODevice::WriteOnly) && settings.write("savedir=" + folder.toUtf8() + "\n") > 0;
}

constexpr int kMeasureMs = 5000;

// Scans whole disks from the window with the output folder on another disk.
class DiskScan : public ScanFixture {
protected:
    // Scans `disk` for a few seconds with the output folder `output`, then
    // stops; returns the writes completed and sectors written to `disk` meanwhile.
    std::pair<quint64, quint64> MeasureScan(const QString& disk, const QString& output)
    {
        EXPECT_TRUE(InstallEngine(dataHome.path()));
        EXPECT_TRUE(ChooseFormats("jpg"));
        EXPECT_TRUE(SaveOutputFolder(programFolder.path(), output));
        auto dialog = OpenOnDrivePage(disk);
        SelectFirstDrive(*dialog);
        Bash("sync");  // what was written before the scan is on the disk now
        const auto before = WriteCounters(disk);
        Ctl(*dialog).btnStart->click();
        EXPECT_TRUE(dialog->Scan().Running()) << (ui.Texts().empty() ? "" : ui.Texts().back().toStdString());
        EXPECT_TRUE(dialog->Scan().Workspace().location.startsWith(output + "/.snapmend-scans/"));
        WaitUntil([&] { return !dialog->Scan().Scanning(); }, kMeasureMs);
        if (dialog->Scan().Scanning()) {
            ui.QueueAnswer(IDYES);
            QTest::mouseClick(Ctl(*dialog).btnRecover, Qt::LeftButton);
        }
        EXPECT_TRUE(WaitUntil([&] { return !dialog->Scan().Running(); }, 10000));
        EXPECT_FALSE(dialog->Scan().EndedWithMessage()) << "the engine refused: " << ui.Texts().back().toStdString();
        const auto after = WriteCounters(disk);
        dialog.reset();
        return {after.first - before.first, after.second - before.second};
    }
};

}  // namespace

// The disk that holds the system is scanned while the output folder (and so
// the scan data) lies on a second disk. The system disk's write counters are
// printed for the same span idle and scanning: the system's own writes go on.
TEST_F(DiskScan, TheSystemDiskIsScannedWithTheOutputOnASecondDisk)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "reading the system disk and making a loop disk need root";
    const QString system = SystemDisk();
    if (system.isEmpty())
        GTEST_SKIP() << "the root file system has no disk of its own here";
    if (!OpenForReading(system).valid())
        GTEST_SKIP() << "the system disk " << system.toStdString() << " cannot be opened here: " << std::strerror(errno);
    SecondDisk second(512);
    if (!second.Ready())
        GTEST_SKIP() << "no loop disk with a tmpfs behind it can be made here";
    const auto idleBefore = WriteCounters(system);
    WaitUntil([] { return false; }, kMeasureMs);
    const auto idleAfter = WriteCounters(system);
    const auto scanning = MeasureScan(system, second.OutputFolder());
    std::printf("system disk %s, writes completed / sectors written over %d ms: idle %llu / %llu, scanning "
                "%llu / %llu\n",
                qPrintable(system), kMeasureMs, idleAfter.first - idleBefore.first,
                idleAfter.second - idleBefore.second, scanning.first, scanning.second);
}

// The disk that holds the running user's data folder (where scan data used
// to go) is scanned, mounted, with the output folder on a second disk: not
// one sector is written to it.
TEST_F(DiskScan, TheDiskOfTheDataFolderIsScannedWithoutAWriteToIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "making and mounting loop disks needs root";
    SecondDisk dataDisk(256);
    SecondDisk second(256);
    if (!dataDisk.Ready() || !second.Ready())
        GTEST_SKIP() << "no loop disk with a tmpfs behind it can be made here";
    MakePhotoImage(dataDisk.OutputFolder() + "/photos.bin", 2, 1 << 20);
    Bash("sync");
    qputenv("XDG_DATA_HOME", dataDisk.OutputFolder().toLocal8Bit());
    const auto written = MeasureScan(dataDisk.Loop(), second.OutputFolder());
    std::printf("data folder's disk %s, writes completed / sectors written while scanning: %llu / %llu\n",
                qPrintable(dataDisk.Loop()), written.first, written.second);
    EXPECT_EQ(written.second, 0u) << "sectors written to the scanned disk";
}

namespace {

// A sparse card image of `bytes` with a JPEG every `bytes / photos` bytes.
bool MakeSpreadPhotoImage(const QString& path, int photos, qint64 bytes)
{
    QTemporaryDir scratch;
    QFile image(path);
    if (!image.open(QIODevice::WriteOnly) || !image.resize(bytes))
        return false;
    for (int i = 0; i < photos; ++i) {
        const QString jpeg = scratch.path() + QStringLiteral("/p%1.jpg").arg(i);
        if (QProcess::execute("convert", {"-size", QStringLiteral("%1x48").arg(64 + 8 * i),
                                          "plasma:fractal", "-quality", "90", jpeg}) != 0)
            return false;
        image.seek(bytes / photos * i);
        image.write(ReadAll(jpeg));
    }
    return true;
}

// The carved files below `folder` by their relative path and content, the engine's bookkeeping left out.
std::map<QString, QByteArray> CarvedFiles(const QString& folder)
{
    std::map<QString, QByteArray> files;
    for (const QString& path : FilesBelow(folder)) {
        const QString relative = path.mid(folder.size() + 1);
        if (!relative.startsWith(".snapmend/"))
            files[relative] = ReadAll(path);
    }
    return files;
}

}  // namespace

namespace {

// The card of the resume road test: 24 GiB, or SNAPMEND_RESUME_CARD_GIB.
qint64 ResumeCardBytes()
{
    const int gib = qEnvironmentVariableIntValue("SNAPMEND_RESUME_CARD_GIB");
    return qint64(gib > 0 ? gib : 24) << 30;
}

// The bytes a running engine has read so far (its largest sample): rchar of /proc/PID/io.
struct EngineReads {
    quint64 bytes = 0;
    void Sample(pid_t engine)
    {
        const QByteArray io = engine ? ReadAll(QStringLiteral("/proc/%1/io").arg(engine)) : QByteArray();
        const qsizetype at = io.indexOf("rchar: ");
        if (at >= 0)
            bytes = std::max(bytes, io.mid(at + 7, io.indexOf('\n', at) - at - 7).toULongLong());
    }
};

// The engine output folder of the one scan workspace below `output`.
QString EngineOutputBelow(const QString& output)
{
    const QStringList scans = QDir(output + "/.snapmend-scans").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return scans.size() == 1 ? output + "/.snapmend-scans/" + scans[0] + "/temp" : QString();
}

double Gib(quint64 bytes) { return double(bytes) / (1 << 30); }

}  // namespace

// Run only as the window that the road test below starts and kills: it
// scans the card it is given with that test's settings and engine.
TEST_F(ScanFixture, WindowScanningUntilKilled)
{
    const QString card = qEnvironmentVariable("SNAPMEND_WINDOW_TO_KILL");
    if (card.isEmpty())
        GTEST_SKIP() << "only as the window a road test starts and kills";
    platform.programFolder = qEnvironmentVariable("SNAPMEND_KILLED_PROGRAM_FOLDER") + "/";
    platform.engineFolder = qEnvironmentVariable("SNAPMEND_KILLED_ENGINE_FOLDER");
    auto dialog = OpenOnDrivePage(card);
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(dialog->Scan().Running());
    WaitUntil([] { return false; }, 3600000);
}

// The window is killed (SIGKILL) at about 60 % of a card; its engine ends with
// it; the next start offers to continue, reads little twice, and ends with
// the files of an uninterrupted scan.
TEST_F(ScanFixture, AWindowKilledMidScanIsContinuedToTheFilesOfAnUninterruptedOne)
{
    ASSERT_TRUE(InstallEngine(dataHome.path()));
    const qint64 cardBytes = ResumeCardBytes();
    const QString card = scratch.path() + "/card.img";
    ASSERT_TRUE(MakeSpreadPhotoImage(card, 8, cardBytes));
    QElapsedTimer clock;
    clock.start();
    auto dialog = OpenOnDrivePage(card);
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    EngineReads whole;
    ASSERT_TRUE(WaitUntil([&] { return whole.Sample(EngineChild()), !dialog->Scan().Running(); }, 1800000));
    const double wholeSeconds = clock.restart() / 1000.0;
    const std::map<QString, QByteArray> uninterrupted = CarvedFiles(dialog->Scan().Workspace().engineOutputDir);
    ASSERT_EQ(uninterrupted.size(), 8u);
    dialog.reset();
    QTemporaryDir output;
    ASSERT_TRUE(SaveOutputFolder(programFolder.path(), output.path()));

    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SNAPMEND_WINDOW_TO_KILL", card);
    env.insert("SNAPMEND_KILLED_PROGRAM_FOLDER", programFolder.path());
    env.insert("SNAPMEND_KILLED_ENGINE_FOLDER", EngineFolderIn(dataHome.path()));
    window.setProcessEnvironment(env);
    window.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=ScanFixture.WindowScanningUntilKilled"});
    ASSERT_TRUE(window.waitForStarted());
    EngineReads killed;
    pid_t engine = 0;
    const auto past60 = [&] {
        engine = engine ? engine : EngineChild(pid_t(window.processId()));
        killed.Sample(engine);
        const auto checkpoint = ReadCheckpoint(EngineOutputBelow(output.path()));
        return (checkpoint && checkpoint->position >= quint64(cardBytes) * 6 / 10) ||
               window.state() == QProcess::NotRunning;
    };
    ASSERT_TRUE(WaitUntil(past60, 1800000));
    ASSERT_EQ(window.state(), QProcess::Running) << window.readAllStandardOutput().toStdString();
    killed.Sample(engine);
    ::kill(pid_t(window.processId()), SIGKILL);
    window.waitForFinished();
    EXPECT_TRUE(WaitUntil([&] { return ::kill(engine, 0) != 0; }, 10000)) << "the engine outlived its window";
    const double killedSeconds = clock.restart() / 1000.0;
    const auto checkpoint = ReadCheckpoint(EngineOutputBelow(output.path()));
    ASSERT_TRUE(checkpoint && checkpoint->Continuable());

    ui.Clear();
    dialog = OpenOnDrivePage(card);
    SelectFirstDrive(*dialog);
    ui.QueueAnswer(IDYES);
    Ctl(*dialog).btnStart->click();
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].flags, unsigned(MB_YESNOCANCEL | MB_ICONQUESTION));
    ASSERT_TRUE(dialog->Scan().Resumed());
    EngineReads resumed;
    ASSERT_TRUE(WaitUntil([&] { return resumed.Sample(EngineChild()), !dialog->Scan().Running(); }, 1800000));
    EXPECT_EQ(CarvedFiles(dialog->Scan().Workspace().engineOutputDir), uninterrupted);
    ASSERT_TRUE(WaitUntil([&] { return Ctl(*dialog).btnRecover->text() == "Recover"; }, 10000));
    EXPECT_EQ(Ctl(*dialog).lstPhotos->Model().Count(), 8);

    const quint64 oneScan = std::max<quint64>(whole.bytes, quint64(cardBytes));
    std::printf("card %.0f GiB: one scan read %.2f GiB in %.1f s; window killed at %.1f %% (checkpoint %.1f %%) "
                "after %.1f s; continued: read %.2f GiB in %.1f s; both runs %.1f %% of one scan\n",
                Gib(cardBytes), Gib(whole.bytes), wholeSeconds, 100.0 * killed.bytes / cardBytes,
                100.0 * checkpoint->position / cardBytes, killedSeconds, Gib(resumed.bytes), clock.elapsed() / 1000.0,
                100.0 * (killed.bytes + resumed.bytes) / oneScan);
    EXPECT_LE(killed.bytes + resumed.bytes, oneScan + oneScan / 20) << "read more than 105 % of one scan";
}
