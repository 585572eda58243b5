#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTextDocument>

#include "Help.h"
#include "InstallLayout.h"
#include "SettingsFiles.h"
#include "TargetNames.h"

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

// The help page as built, with this installation's facts filled in; its text
// as a reader sees it (entities decoded, tags gone).
QString BuiltHelpText(const HelpFacts& facts)
{
    const QByteArray buildDir = qgetenv("SNAPMEND_BUILD_DIR");
    if (buildDir.isEmpty())
        return {};
    QTextDocument page;
    page.setHtml(ReadHelpPage(QString::fromLocal8Bit(buildDir) + QStringLiteral("/help.chm"), facts));
    return page.toPlainText().simplified();
}

// Every fact the help states is taken from the code that decides it, so the
// page cannot drift from what the program does.
TEST(HelpTest, TheHelpStatesWhatTheProgramDoesHere)
{
    const InstallLayout running = RunningLayout();
    const QString text = BuiltHelpText({running.settingsFolder, running.engineFolder});
    if (text.isEmpty())
        GTEST_SKIP() << "SNAPMEND_BUILD_DIR is not set";
    for (const char* topic : {"Browse", "Settings", "Recover", "formats.ini", "settings.ini"})
        EXPECT_TRUE(text.contains(topic)) << topic;

    // This installation's own folders.
    EXPECT_TRUE(text.contains("On this computer it is " + running.engineFolder + "."));
    EXPECT_TRUE(text.contains("On this computer it is " + running.settingsFolder + "."));

    // Both layouts, as the layout code makes them.
    const LayoutFacts facts = BuiltInLayoutFacts();
    const InstallLayout built = LayoutFor(facts.buildFolder, facts, QStringLiteral("/root/.config"));
    ASSERT_TRUE(built.buildTree);
    EXPECT_EQ(built.settingsFolder, QDir(facts.buildFolder).filePath(QString()) + '/');
    EXPECT_TRUE(text.contains("Started from the build, they lie beside the program."));
    EXPECT_TRUE(text.contains("build/" + QDir::cleanPath(facts.stagedEngine) + "/")) << facts.stagedEngine.toStdString();
    const InstallLayout installed = LayoutFor(QStringLiteral("/usr/bin"), facts, QStringLiteral("/root/.config"));
    ASSERT_FALSE(installed.buildTree);
    EXPECT_TRUE(text.contains(installed.settingsFolder)) << installed.settingsFolder.toStdString();
    EXPECT_TRUE(text.contains("~/.config/snapmend/"));
    QString engineAnyArch = installed.engineFolder + '/';
    engineAnyArch.replace(QRegularExpression(QStringLiteral("^/usr/lib/[^/]+-linux-[^/]+/")), "/usr/lib/<arch>/");
    EXPECT_TRUE(text.contains(engineAnyArch)) << engineAnyArch.toStdString();

    // The types a fresh install looks for, in the order Settings shows them.
    QStringList types;
    for (const QString& type : kDefaultFormats.split(','))
        types << '.' + type;
    const QString listed = types.mid(0, types.size() - 1).join(", ") + " and " + types.last();
    EXPECT_EQ(text.count(listed), 2) << listed.toStdString() << ": the Default button and a scan without formats.ini";
    EXPECT_TRUE(text.contains("formats=" + kDefaultFormats));

    // A name already taken gets a number; nothing is replaced.
    EXPECT_TRUE(text.contains("never replaced"));
    EXPECT_TRUE(text.contains(NumberedFileName(QStringLiteral("name.jpg"), 2)));

    // Nothing of another system.
    for (const char* stale : {"help.chm", ".local/share", "is replaced", "log in as Administrator", "web browser"})
        EXPECT_FALSE(text.contains(stale, Qt::CaseInsensitive)) << stale;
}

TEST(HelpTest, FactsAreFilledInAsText)
{
    const QString page = FillHelpFacts("<p>{{SETTINGS_FOLDER}} and {{ENGINE_FOLDER}}</p>",
                                       {QStringLiteral("/root/.config/snapmend/"), QStringLiteral("/tmp/<b>&x")});
    EXPECT_EQ(page, QStringLiteral("<p>/root/.config/snapmend/ and /tmp/&lt;b&gt;&amp;x</p>"));
}

}  // namespace
}  // namespace snapmend
