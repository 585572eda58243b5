// Where the program finds its engine, data and settings, in the build tree and
// in a tree made by cmake --install from this build.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <iostream>
#include <unistd.h>

#include "EngineInstallation.h"
#include "InstallLayout.h"
#include "ScriptedUiServices.h"
#include "TestUtil.h"

using namespace snapmend;
using snapmend::test::ReadAll;

namespace {

std::string Str(const QString& s) { return s.toStdString(); }

struct ToolRun {
    int exitCode = -1;
    QString output;
};

ToolRun RunTool(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    ToolRun run;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.output = QString::fromLocal8Bit(process.readAll());
    return run;
}

}  // namespace

TEST(InstallLayout, BuildFolderRunsKeepEverythingThereOtherFoldersAreInstalled)
{
    QTemporaryDir root;
    const QString build = root.path() + "/build";
    ASSERT_TRUE(QDir().mkpath(build + "/tests"));
    ASSERT_TRUE(QFile::link(build, root.path() + "/linked-build"));
    const LayoutFacts facts{build, "engine/kestrova", "../lib/x86_64-linux-gnu/snapmend", "../share/snapmend"};
    const QString config = root.path() + "/config";

    struct Case {
        QString executableFolder;
        InstallLayout expected;
    } cases[] = {
        {build + "/", {true, build + "/engine/kestrova", build + "/", build + "/"}},
        {root.path() + "/linked-build", {true, build + "/engine/kestrova", build + "/", build + "/"}},
        // A program elsewhere is an installed one, even inside the build tree.
        {"/usr/bin/",
         {false, "/usr/lib/x86_64-linux-gnu/snapmend", "/usr/share/snapmend/", config + "/snapmend/"}},
        {build + "/tests",
         {false, build + "/lib/x86_64-linux-gnu/snapmend", build + "/share/snapmend/", config + "/snapmend/"}},
    };
    for (const Case& c : cases) {
        const InstallLayout got = LayoutFor(c.executableFolder, facts, config);
        SCOPED_TRACE(Str(c.executableFolder));
        EXPECT_EQ(got.buildTree, c.expected.buildTree);
        EXPECT_EQ(Str(got.engineFolder), Str(c.expected.engineFolder));
        EXPECT_EQ(Str(got.dataFolder), Str(c.expected.dataFolder));
        EXPECT_EQ(Str(got.settingsFolder), Str(c.expected.settingsFolder));
    }
}

TEST(InstallLayout, ConfigHomeFollowsXdgOnlyForAnAbsoluteFolderOfOurOwn)
{
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    QTemporaryDir mine;
    const QString passwdHome = [] {
        qunsetenv("XDG_CONFIG_HOME");
        return UserConfigHome();
    }();
    EXPECT_TRUE(passwdHome.endsWith("/.config")) << Str(passwdHome);

    qputenv("XDG_CONFIG_HOME", mine.path().toLocal8Bit());
    EXPECT_EQ(Str(UserConfigHome()), Str(mine.path()));
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(Str(UserConfigHome()), Str(passwdHome)) << "a relative path is invalid under the XDG rules";
    qputenv("XDG_CONFIG_HOME", (mine.path() + "/missing").toLocal8Bit());
    EXPECT_EQ(Str(UserConfigHome()), Str(passwdHome));
    if (geteuid() == 0) {
        QTemporaryDir theirs;
        ASSERT_EQ(::chown(theirs.path().toLocal8Bit().constData(), 65534, 65534), 0);
        qputenv("XDG_CONFIG_HOME", theirs.path().toLocal8Bit());
        EXPECT_EQ(Str(UserConfigHome()), Str(passwdHome)) << "another user's folder is not ours to write in";
    }
    qputenv("XDG_CONFIG_HOME", old);
}

TEST(InstallLayout, TheBuiltProgramRunsFromTheBuildTreeAndFindsTheStagedEngine)
{
    const QString build = QString::fromLocal8Bit(qgetenv("SNAPMEND_BUILD_DIR"));
    ASSERT_FALSE(build.isEmpty());
    const InstallLayout layout = LayoutFor(build, BuiltInLayoutFacts(), "/nonexistent");
    EXPECT_TRUE(layout.buildTree);
    Notices notices;
    QString enginePath;
    EXPECT_TRUE(CheckEngineInstalled(layout.engineFolder, enginePath, notices)) << Str(layout.engineFolder);
    EXPECT_TRUE(QFileInfo(layout.dataFolder + "help.chm").isFile());
    EXPECT_TRUE(QFileInfo(layout.dataFolder + "icon.png").isFile());
}

// cmake --install puts every piece where the installed program looks for it,
// and the desktop files name the program where the package puts it.
class InstalledTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(stage.isValid());
        const ToolRun install = RunTool(CMAKE_COMMAND_PATH, {"--install", QString::fromLocal8Bit(qgetenv("SNAPMEND_BUILD_DIR")),
                                                        "--prefix", stage.path()});
        ASSERT_EQ(install.exitCode, 0) << Str(install.output);
        binFolder = stage.path() + "/bin/";
    }

    QTemporaryDir stage;
    QString binFolder;
};

TEST_F(InstalledTree, TheInstalledProgramFindsTheEngineHelpAndIcon)
{
    ASSERT_TRUE(QFileInfo(binFolder + "snapmend").isExecutable());
    const InstallLayout layout = LayoutFor(binFolder, BuiltInLayoutFacts(), stage.path() + "/config");
    EXPECT_FALSE(layout.buildTree);
    EXPECT_TRUE(layout.engineFolder.startsWith(stage.path() + "/lib")) << Str(layout.engineFolder);
    Notices notices;
    QString enginePath;
    EXPECT_TRUE(CheckEngineInstalled(layout.engineFolder, enginePath, notices)) << Str(layout.engineFolder);
    EXPECT_TRUE(QFileInfo(layout.engineFolder + "/formats/types.tsv").isFile());
    EXPECT_TRUE(QFileInfo(layout.dataFolder + "help.chm").isFile());
    EXPECT_TRUE(QFileInfo(layout.dataFolder + "icon.png").isFile());

    // The installed engine loads its library from its own folder: a bad
    // command line gets its usage message, not a loader error.
    const ToolRun engine = RunTool(enginePath, {});
    EXPECT_NE(engine.exitCode, 127) << Str(engine.output);
    EXPECT_FALSE(engine.output.contains("error while loading shared libraries")) << Str(engine.output);
    EXPECT_TRUE(engine.output.contains("usage", Qt::CaseInsensitive)) << Str(engine.output);
}

TEST_F(InstalledTree, MenuEntryPolkitActionMetainfoAndIconsAgree)
{
    const QString id = QStringLiteral(SNAPMEND_APP_ID);
    const QString program = QStringLiteral(SNAPMEND_INSTALLED_PROGRAM);
    const QString desktop = stage.path() + "/share/applications/" + id + ".desktop";
    const QString policy = stage.path() + "/share/polkit-1/actions/" + id + ".policy";
    const QString metainfo = stage.path() + "/share/metainfo/" + id + ".metainfo.xml";

    const QByteArray entry = ReadAll(desktop);
    EXPECT_TRUE(entry.contains("\nExec=pkexec " + program.toLocal8Bit() + "\n")) << entry.constData();
    EXPECT_TRUE(entry.contains("\nIcon=" + id.toLocal8Bit() + "\n")) << entry.constData();
    const QByteArray action = ReadAll(policy);
    EXPECT_TRUE(action.contains("\"org.freedesktop.policykit.exec.path\">" + program.toLocal8Bit() + "<"))
        << action.constData();
    EXPECT_TRUE(action.contains("\"org.freedesktop.policykit.exec.allow_gui\">true<")) << action.constData();
    EXPECT_TRUE(ReadAll(metainfo).contains("<launchable type=\"desktop-id\">" + id.toLocal8Bit() + ".desktop<"));

    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString icon = stage.path() + QStringLiteral("/share/icons/hicolor/%1x%1/apps/").arg(size) + id + ".png";
        EXPECT_EQ(QImage(icon).size(), QSize(size, size)) << Str(icon);
    }

    // The freedesktop validators, where installed (scripts/install-deps.sh installs them).
    struct Check {
        QString tool;
        QStringList args;
    };
    for (const Check& check : {Check{"desktop-file-validate", {desktop}},
                               Check{"appstreamcli", {"validate", "--no-net", "--explain", metainfo}}}) {
        if (QStandardPaths::findExecutable(check.tool).isEmpty()) {
            std::cout << "[  SKIPPED ] " << Str(check.tool) << " is not installed\n";
            continue;
        }
        const ToolRun run = RunTool(check.tool, check.args);
        EXPECT_EQ(run.exitCode, 0) << Str(check.tool) << ": " << Str(run.output);
    }
}

// Run by scripts/package-smoke.sh with the installed package's program folder.
TEST(InstalledPackage, TheInstalledProgramsLayoutHoldsAWorkingEngine)
{
    const QString bin = QString::fromLocal8Bit(qgetenv("SNAPMEND_INSTALLED_BIN"));
    if (bin.isEmpty())
        GTEST_SKIP() << "SNAPMEND_INSTALLED_BIN names no installed program folder";
    ASSERT_TRUE(QFileInfo(bin + "/snapmend").isExecutable());
    const InstallLayout layout = LayoutFor(bin, BuiltInLayoutFacts(), "/nonexistent");
    EXPECT_FALSE(layout.buildTree);
    Notices notices;
    QString enginePath;
    ASSERT_TRUE(CheckEngineInstalled(layout.engineFolder, enginePath, notices)) << Str(layout.engineFolder);
    const ToolRun engine = RunTool(enginePath, {});
    EXPECT_TRUE(engine.output.contains("usage", Qt::CaseInsensitive)) << Str(engine.output);
    EXPECT_TRUE(QFileInfo(layout.dataFolder + "help.chm").isFile());
    std::cout << "engine folder: " << Str(layout.engineFolder) << "\n";
}
