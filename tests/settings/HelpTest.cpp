#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "Help.h"
#include "ScriptedUiServices.h"

namespace snapmend {
namespace {

TEST(HelpTest, OpensTheProgramFoldersHelpFileOrSaysItIsNotFound)
{
    enum class Place { File, None, Folder };
    struct Case {
        const char* name;
        Place help;
        bool handlerOpens;
        bool opened;
    };
    const Case cases[] = {
        {"present and opened", Place::File, true, true},
        {"present, nothing can open it", Place::File, false, false},
        {"missing", Place::None, true, false},
        {"a folder of that name", Place::Folder, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        if (c.help == Place::File) {
            QFile file(folder + kHelpFileName);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("<html></html>");
        } else if (c.help == Place::Folder) {
            ASSERT_TRUE(QDir(folder).mkdir(kHelpFileName));
        }
        test::ScriptedUiServices ui;
        ui.SetOpenResult(c.handlerOpens);

        EXPECT_EQ(OpenHelpFile(folder, ui, nullptr), c.opened);

        if (c.help == Place::File)
            EXPECT_EQ(ui.OpenedPaths(), std::vector<QString>({folder + QStringLiteral("help.chm")}));
        else
            EXPECT_TRUE(ui.OpenedPaths().empty());
        if (c.opened) {
            EXPECT_TRUE(ui.Boxes().empty());
        } else {
            ASSERT_EQ(ui.Boxes().size(), 1u);
            EXPECT_EQ(ui.Boxes()[0].text, QStringLiteral("Help file is not found."));
            EXPECT_EQ(ui.Boxes()[0].caption, QStringLiteral("Snapmend"));
            EXPECT_EQ(ui.Boxes()[0].flags, unsigned(MB_OK));
        }
    }
}

TEST(HelpTest, TheBuildPutsTheHelpFileBesideTheProgram)
{
    const QByteArray buildDir = qgetenv("SNAPMEND_BUILD_DIR");
    if (buildDir.isEmpty())
        GTEST_SKIP() << "SNAPMEND_BUILD_DIR is not set";
    QFile help(QString::fromLocal8Bit(buildDir) + QStringLiteral("/help.chm"));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly)) << help.fileName().toStdString();
    const QByteArray text = help.readAll();
    EXPECT_TRUE(text.startsWith("<!DOCTYPE html>"));
    for (const char* topic : {"Browse", "Settings", "Recover", "formats.ini", "settings.ini"})
        EXPECT_TRUE(text.contains(topic)) << topic;
}

}  // namespace
}  // namespace snapmend
