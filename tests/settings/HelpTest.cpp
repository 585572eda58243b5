#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "Help.h"

namespace snapmend {
namespace {

TEST(HelpTest, FindsTheHelpFileOnlyWhenItIsARegularFile)
{
    enum class Place { File, None, Folder, Link };
    const std::pair<const char*, Place> cases[] = {
        {"present", Place::File}, {"missing", Place::None}, {"a folder of that name", Place::Folder},
        {"a link to a file", Place::Link}};
    for (const auto& [name, place] : cases) {
        SCOPED_TRACE(name);
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        QFile file(place == Place::Link ? folder + "elsewhere.html" : folder + kHelpFileName);
        if (place == Place::File || place == Place::Link) {
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("<html></html>");
            file.close();
        }
        if (place == Place::Link) {
            ASSERT_TRUE(file.link(folder + kHelpFileName));
        } else if (place == Place::Folder) {
            ASSERT_TRUE(QDir(folder).mkdir(kHelpFileName));
        }

        const std::optional<QString> found = FindHelpFile(folder);
        if (place == Place::File)
            EXPECT_EQ(found, std::optional<QString>(folder + QStringLiteral("help.chm")));
        else
            EXPECT_FALSE(found.has_value());
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
