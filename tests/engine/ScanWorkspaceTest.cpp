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

using namespace snapmend;

namespace {

bool Touch(const QString& path, const QByteArray& data = "x")
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

}  // namespace

TEST(ScanWorkspace, GeneratorDrawsAndBranchesLikeTheCRuntime)
{
    CrtRandom random;
    const int draws[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464, 5705, 28145};
    const bool perUser[] = {true, true, false, false, true, false, false, false, false, false, true, true};
    for (int i = 0; i < 12; ++i) {
        const int draw = random.Next();
        EXPECT_EQ(draw, draws[i]) << "draw " << i;
        EXPECT_EQ(UsesPerUserWorkspace(draw), perUser[i]) << "scan " << i + 1;
    }
}

TEST(ScanWorkspace, TempFolderNameFromLocalTime)
{
    EXPECT_EQ(TempWorkspaceName(QDateTime(QDate(2024, 1, 31), QTime(23, 59, 7))), "tempdata20240131_235907");
    EXPECT_EQ(TempWorkspaceName(QDateTime(QDate(2026, 12, 8), QTime(4, 5, 6))), "tempdata20261208_040506");
}

TEST(ScanWorkspace, FirstScanEmptiesTheLeftOverPerUserRootAndThirdGoesToTemp)
{
    QTemporaryDir appData, temp;
    const QString root = appData.path() + "/kestrova/data";
    ASSERT_TRUE(QDir().mkpath(root + "/temp/sub"));
    ASSERT_TRUE(Touch(root + "/temp/sub/f0000000001.jpg"));
    ASSERT_TRUE(Touch(root + "/stray.txt"));

    Notices notices;
    CrtRandom random;
    const QDateTime now(QDate(2024, 1, 31), QTime(23, 59, 7));
    auto first = PrepareScanWorkspace(random, appData.path(), temp.path() + "/", now, notices);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->root, root);
    EXPECT_EQ(first->engineOutputDir, root + "/temp");
    EXPECT_TRUE(QDir(root).exists());
    EXPECT_TRUE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
        << "results of an earlier run must be gone";

    ASSERT_TRUE(PrepareScanWorkspace(random, appData.path(), temp.path() + "/", now, notices));
    auto third = PrepareScanWorkspace(random, appData.path(), temp.path() + "/", now, notices);
    ASSERT_TRUE(third);
    const QString parent = QFileInfo(third->root).path();
    EXPECT_EQ(QFileInfo(third->root).fileName(), "tempdata20240131_235907");
    EXPECT_TRUE(parent.startsWith(temp.path() + "/snapmend-")) << parent.toStdString();
    EXPECT_TRUE(IsPrivateFolder(parent));
    EXPECT_TRUE(IsPrivateFolder(third->root));
    EXPECT_TRUE(IsPrivateFolder(first->root));
    EXPECT_TRUE(notices.empty());

    // After a crash, the next start removes both, and only what is provably ours.
    const QString foreign = temp.path() + "/snapmend-abcdef";
    ASSERT_TRUE(QDir().mkpath(foreign));
    ASSERT_EQ(chmod(foreign.toLocal8Bit().constData(), 0755), 0);
    RemoveStaleWorkspaces(appData.path(), temp.path() + "/");
    EXPECT_FALSE(QFileInfo::exists(root));
    EXPECT_FALSE(QFileInfo::exists(parent));
    EXPECT_TRUE(QFileInfo::exists(foreign)) << "a folder others could have made is not ours to delete";
}

TEST(ScanWorkspace, UndeletableOldOutputGivesMessage1008AndTheSuffix)
{
    QTemporaryDir appData;
    const QString temp = appData.path() + "/kestrova/data/temp";
    ASSERT_TRUE(QDir().mkpath(temp + "/held"));
    ASSERT_TRUE(Touch(temp + "/held/f1.jpg"));
    // Keep "temp" alive: for root a mount point cannot be removed; for a user
    // a read-only folder keeps its files.
    bool mounted = false;
    if (geteuid() == 0) {
        mounted = QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", temp}) == 0;
        if (!mounted)
            GTEST_SKIP() << "cannot mount a tmpfs here to make the old output folder undeletable";
    } else {
        ASSERT_EQ(chmod((temp + "/held").toLocal8Bit().constData(), 0555), 0);
    }
    Notices notices;
    CrtRandom random;
    auto workspace = PrepareScanWorkspace(random, appData.path(), "/nonexistent/", QDateTime::currentDateTime(), notices);
    if (mounted)
        QProcess::execute("umount", {temp});
    else
        chmod((temp + "/held").toLocal8Bit().constData(), 0755);
    ASSERT_TRUE(workspace);
    EXPECT_EQ(workspace->engineOutputDir, temp + "_1");
    EXPECT_EQ(test::TextsOf(notices), std::vector<QString>({"Internal error, error code: -1008"}));
}

TEST(ScanWorkspace, FailingFolderCreationShowsItsMessage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(Touch(dir.path() + "/blocker"));
    Notices notices;
    CrtRandom random;  // first draw: per-user branch
    auto workspace = PrepareScanWorkspace(random, dir.path() + "/blocker", dir.path() + "/", QDateTime::currentDateTime(), notices);
    EXPECT_FALSE(workspace);
    ASSERT_EQ(test::TextsOf(notices).size(), 1u);
    EXPECT_EQ(test::TextsOf(notices)[0], "Failed to initialize data");
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
