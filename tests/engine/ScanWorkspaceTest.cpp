#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "EngineInstallation.h"
#include "Ownership.h"
#include "ScanWorkspace.h"
#include "ScriptedUiServices.h"
#include "ScanCheckpoint.h"

using namespace snapmend;

namespace {

bool Touch(const QString& path, const QByteArray& data = "x")
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

}  // namespace

TEST(ScanWorkspace, TempFolderNameFromLocalTime)
{
    EXPECT_EQ(TempWorkspaceName(QDateTime(QDate(2024, 1, 31), QTime(23, 59, 7))), "tempdata20240131_235907");
    EXPECT_EQ(TempWorkspaceName(QDateTime(QDate(2026, 12, 8), QTime(4, 5, 6))), "tempdata20261208_040506");
}

// A scan's workspace is a fresh private folder in the output folder's private
// scans' folder, reached through a held descriptor: renaming the scans'
// folder away and planting a link in its place changes nothing.
TEST(ScanWorkspace, LivesInThePrivateScansFolderAndSurvivesASwap)
{
    QTemporaryDir output, elsewhere;
    ASSERT_EQ(chmod(output.path().toLocal8Bit().constData(), 0777), 0) << "a folder others may change";
    const QDateTime now(QDate(2024, 1, 31), QTime(23, 59, 7));
    std::optional<ScanArea> area = OpenScanArea(output.path());
    ASSERT_TRUE(area);
    const QString areaPath = output.path() + "/.snapmend-scans";
    EXPECT_TRUE(IsPrivateFolder(areaPath));
    auto first = CreateScanWorkspace(*area, now);
    auto second = CreateScanWorkspace(*area, now);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->location, areaPath + "/tempdata20240131_235907");
    EXPECT_EQ(second->location, areaPath + "/tempdata20240131_235907_1") << "a second scan in the same second";
    EXPECT_TRUE(IsPrivateFolder(first->location));
    EXPECT_TRUE(QFileInfo(first->location + "/temp").isDir()) << "the engine output folder is made";

    ASSERT_TRUE(QDir().rename(areaPath, output.path() + "/moved"));
    ASSERT_TRUE(QFile::link(elsewhere.path(), areaPath));
    EXPECT_TRUE(Touch(first->engineOutputDir + "/f1.jpg"));
    EXPECT_TRUE(QFileInfo::exists(output.path() + "/moved/tempdata20240131_235907/temp/f1.jpg"));
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty()) << "written through the planted link";

    first->handle->Delete();
    EXPECT_FALSE(QFileInfo::exists(output.path() + "/moved/tempdata20240131_235907"));
    EXPECT_TRUE(QFileInfo::exists(output.path() + "/moved/tempdata20240131_235907_1"));
    EXPECT_FALSE(QFileInfo::exists(first->root)) << "the handle reaches nothing after deleting";

    // With the link in place, no scans' folder can be had there.
    ScanAreaProblem problem = ScanAreaProblem::None;
    EXPECT_FALSE(OpenScanArea(output.path(), &problem));
    EXPECT_EQ(problem, ScanAreaProblem::NotPrivate);
}

TEST(ScanWorkspace, ScansFolderThatIsNotOursOrAMissingOutputFolderIsRefused)
{
    QTemporaryDir output;
    ScanAreaProblem problem = ScanAreaProblem::None;
    EXPECT_FALSE(OpenScanArea(output.path() + "/missing", &problem));
    EXPECT_EQ(problem, ScanAreaProblem::NoOutputFolder);
    EXPECT_TRUE(ScanAreaProblemText(problem, output.path() + "/missing").contains("does not exist and cannot be made"));

    ASSERT_TRUE(QDir().mkdir(output.path() + "/.snapmend-scans"));
    ASSERT_EQ(chmod((output.path() + "/.snapmend-scans").toLocal8Bit().constData(), 0777), 0);
    EXPECT_FALSE(OpenScanArea(output.path(), &problem)) << "a scans' folder others can change";
    EXPECT_EQ(problem, ScanAreaProblem::NotPrivate);
    EXPECT_TRUE(ScanAreaProblemText(problem, output.path()).contains(output.path() + "/.snapmend-scans"));
}

namespace {

bool WriteCheckpoint(const ScanWorkspace& workspace, const QByteArray& text)
{
    return QDir().mkpath(workspace.engineOutputDir + "/.snapmend") &&
           Touch(workspace.engineOutputDir + "/.snapmend/checkpoint", text);
}

const QByteArray kScanning = "version=1\nidentity=1048576:-:00112233aabbccdd\ncommand=fileopt,everything,enable,search\n"
                             "position=524288\nstate=scanning\n";

}  // namespace

// Only unfinished scans with a checkpoint the engine can go on with survive
// the clean-up; they are found by the disk's identity.
TEST(ScanWorkspace, UnfinishedScansAreFoundByIdentityAndKeptByTheCleanUp)
{
    QTemporaryDir output;
    std::optional<ScanArea> area = OpenScanArea(output.path());
    ASSERT_TRUE(area);
    const QDateTime now = QDateTime::currentDateTime();
    auto unfinished = CreateScanWorkspace(*area, now);
    auto done = CreateScanWorkspace(*area, now);
    auto bare = CreateScanWorkspace(*area, now);
    ASSERT_TRUE(unfinished && done && bare);
    ASSERT_TRUE(WriteCheckpoint(*unfinished, kScanning));
    ASSERT_TRUE(WriteCheckpoint(*done, QByteArray(kScanning).replace("state=scanning", "state=done")));
    ASSERT_TRUE(Touch(bare->engineOutputDir + "/f1.jpg"));

    EXPECT_FALSE(FindUnfinishedScan(*area, "1048576:-:ffffffffffffffff")) << "another disk";
    std::optional<UnfinishedScan> found = FindUnfinishedScan(*area, "1048576:-:00112233aabbccdd");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, unfinished->handle->Name());
    EXPECT_EQ(found->checkpoint.position, 524288u);
    EXPECT_EQ(found->checkpoint.selection, "fileopt,everything,enable,search");

    RemoveFinishedScans(*area);
    EXPECT_TRUE(QFileInfo::exists(unfinished->location));
    EXPECT_FALSE(QFileInfo::exists(done->location));
    EXPECT_FALSE(QFileInfo::exists(bare->location));
    auto reopened = OpenScanWorkspace(*area, found->name);
    ASSERT_TRUE(reopened);
    EXPECT_TRUE(ReadCheckpoint(reopened->engineOutputDir).has_value());
}

TEST(ScanCheckpoint, ParsesWhatTheWindowNeedsAndRejectsWhatTheEngineCouldNotGoOnWith)
{
    struct Case {
        const char* name;
        QByteArray text;
        bool parsed;
        bool continuable;
    };
    const Case cases[] = {
        {"an unfinished scan", kScanning, true, true},
        {"finished", QByteArray(kScanning).replace("scanning", "done"), true, false},
        {"no version", QByteArray(kScanning).replace("version=1\n", ""), false, false},
        {"a later version", QByteArray(kScanning).replace("version=1", "version=2"), false, false},
        {"no identity", QByteArray(kScanning).replace("identity=", "ident="), true, false},
        {"a selection with a space", QByteArray(kScanning).replace("enable,search", "enable search"), true, false},
        {"a selection with an option", QByteArray(kScanning).replace("command=fileopt", "command=--x,fileopt"), true,
         false},
        {"CR LF lines and other keys", QByteArray(kScanning).replace("\n", "\r\nclaimed=1-2\r\n"), true, true},
        {"binary noise", QByteArray("\0\xff=\n==\nversion=1", 16), true, false},
        {"empty", QByteArray(), false, false},
    };
    for (const Case& c : cases) {
        const std::optional<ScanCheckpoint> checkpoint = ParseCheckpoint(c.text);
        EXPECT_EQ(checkpoint.has_value(), c.parsed) << c.name;
        EXPECT_EQ(checkpoint && checkpoint->Continuable(), c.continuable) << c.name;
    }
}

TEST(ScanWorkspace, DeviceIdentityTellsImagesApartByContentNotByName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(Touch(dir.path() + "/a.img", QByteArray(4096, 'a')));
    ASSERT_TRUE(Touch(dir.path() + "/b.img", QByteArray(4096, 'a')));
    ASSERT_TRUE(Touch(dir.path() + "/c.img", QByteArray(4096, 'c')));
    const QString a = DeviceIdentity(dir.path() + "/a.img");
    EXPECT_TRUE(a.startsWith("4096:-:")) << a.toStdString();
    EXPECT_EQ(a.size(), QString("4096:-:").size() + 16);
    EXPECT_EQ(a, DeviceIdentity(dir.path() + "/b.img")) << "same size and content: the same disk";
    EXPECT_NE(a, DeviceIdentity(dir.path() + "/c.img"));
    EXPECT_TRUE(DeviceIdentity(dir.path() + "/missing.img").isEmpty());
    EXPECT_TRUE(DeviceIdentity(dir.path()).isEmpty()) << "a folder is no disk";
}

TEST(ScanWorkspace, StaleWorkspacesOfEarlierVersionsAreRemovedWhenProvablyOurs)
{
    QTemporaryDir appData, temp;
    const QString root = appData.path() + "/kestrova/data";
    ASSERT_TRUE(QDir().mkpath(root + "/temp/sub"));
    ASSERT_EQ(chmod((appData.path() + "/kestrova").toLocal8Bit().constData(), 0700), 0);
    const QString ours = temp.path() + "/snapmend-abc123";
    const QString foreign = temp.path() + "/snapmend-abcdef";
    ASSERT_TRUE(QDir().mkpath(ours + "/tempdata1") && QDir().mkpath(foreign));
    ASSERT_EQ(chmod(ours.toLocal8Bit().constData(), 0700), 0);
    ASSERT_EQ(chmod(foreign.toLocal8Bit().constData(), 0755), 0);
    RemoveStaleWorkspaces(appData.path(), temp.path() + "/");
    EXPECT_FALSE(QFileInfo::exists(root));
    EXPECT_FALSE(QFileInfo::exists(ours));
    EXPECT_TRUE(QFileInfo::exists(foreign)) << "a folder others could have made is not ours to delete";
}

TEST(EngineInstallation, ReportsTheFirstMissingPieceAndFillsThePathAnyway)
{
    QTemporaryDir root;
    const QString folder = root.path() + "/engine";
    Notices notices;
    QString enginePath;
    auto message = [](int code) {
        return QStringLiteral("Failed to load engine, error code %1. Installation may be corrupted, please try to "
                              "re-install Snapmend").arg(code);
    };

    EXPECT_FALSE(CheckEngineInstalled(folder, enginePath, notices));
    EXPECT_FALSE(QFileInfo::exists(folder)) << "the installation's folder is never created";
    ASSERT_TRUE(Touch(folder)) << "a file where the folder should be";
    EXPECT_FALSE(CheckEngineInstalled(folder, enginePath, notices));
    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QDir().mkpath(folder));

    EXPECT_FALSE(CheckEngineInstalled(folder, enginePath, notices));
    EXPECT_EQ(enginePath, folder + "/photo");
    ASSERT_TRUE(Touch(folder + "/photo"));
    EXPECT_FALSE(CheckEngineInstalled(folder, enginePath, notices));
    ASSERT_TRUE(Touch(folder + "/libcarver.so"));
    EXPECT_FALSE(CheckEngineInstalled(folder, enginePath, notices));
    ASSERT_TRUE(QDir().mkpath(folder + "/formats"));
    EXPECT_TRUE(CheckEngineInstalled(folder, enginePath, notices));

    const QString noFolder = QStringLiteral("Failed to load engine, error code -1007");
    EXPECT_EQ(test::TextsOf(notices), std::vector<QString>({noFolder, noFolder, message(-1003), message(-1004), message(-1005)}));
    for (const auto& box : notices)
        EXPECT_EQ(box.caption, "Snapmend");
}

// A FAT stick mounted for the person who asked: every file is theirs by the
// mount, and there are no links. The scan data may go there.
TEST(ScanWorkspace, AFatOutputFolderMountedForAnotherUserTakesTheScanData)
{
    QTemporaryDir dir;
    const QString image = dir.path() + "/stick.img", mount = dir.path() + "/mnt";
    QString loop;
    if (geteuid() != 0 || QProcess::execute("mkfs.vfat", {"-C", image, "8192"}) != 0 || !QDir().mkpath(mount))
        GTEST_SKIP() << "needs root and mkfs.vfat";
    QProcess losetup;
    losetup.start("losetup", {"-f", "--show", image});
    losetup.waitForFinished();
    loop = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
    if (!loop.startsWith("/dev/loop") ||
        QProcess::execute("mount", {"-o", "uid=65534,gid=65534,dmask=0022", loop, mount}) != 0) {
        if (loop.startsWith("/dev/loop"))
            QProcess::execute("losetup", {"-d", loop});
        GTEST_SKIP() << "cannot mount a FAT loop disk here";
    }
    std::optional<ScanArea> area = OpenScanArea(mount);
    const bool made = area && CreateScanWorkspace(*area, QDateTime::currentDateTime()).has_value();
    area.reset();
    QProcess::execute("umount", {mount});
    QProcess::execute("losetup", {"-d", loop});
    EXPECT_TRUE(made);
}
