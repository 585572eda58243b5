#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "FakeSystemInfo.h"
#include "Help.h"
#include "HelpWindow.h"
#include "FileTypesDialog.h"
#include "FileTypesTemplate.h"
#include "MainDialog.h"
#include "WindowControls.h"
#include "PlatformServices.h"
#include "ScriptedUiServices.h"
#include "SettingsFiles.h"
#include "TestUtil.h"

namespace snapmend {
namespace {
using test::Ctl;

class MainDialogSettingsTest : public ::testing::Test {
protected:
    MainDialogSettingsTest()
    {
        platform.ui = &ui;
        platform.system = &system;
        platform.programFolder = Folder();
    }

    QString Folder() const { return m_dir.path() + QLatin1Char('/'); }

    void Put(const QString& name, const QByteArray& bytes) const
    {
        QFile file(Folder() + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    std::optional<QByteArray> Contents(const QString& name) const
    {
        QFile file(Folder() + name);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }

    // Opens the window and waits for the start-up timer to fill the drive page.
    void Start(MainDialog& dialog)
    {
        dialog.OnInitDialog();
        dialog.show();
        ASSERT_TRUE(test::WaitUntil([&] { return Ctl(dialog).edtOutputDir->isVisible(); }, 3000));
    }

    QTemporaryDir m_dir;
    test::ScriptedUiServices ui;
    test::FakeSystemInfo system;
    PlatformServices platform = PlatformServices::Default();
};

TEST_F(MainDialogSettingsTest, StartUpLoadsTheOutputFolderAndWritesNothing)
{
    {
        MainDialog dialog(platform);
        Start(dialog);
        EXPECT_EQ(Ctl(dialog).edtOutputDir->text(), GetDefaultOutputFolder());
        EXPECT_FALSE(Ctl(dialog).edtOutputDir->isEnabled());
        EXPECT_FALSE(QFile::exists(Folder() + kSettingsFileName));
    }
    const QString longFolder = QStringLiteral("/media/backup/") + QString(290, QLatin1Char('p'));
    Put(kSettingsFileName, "savedir=/first\r\nsavedir=" + longFolder.toUtf8() + "\r\n");
    MainDialog dialog(platform);
    Start(dialog);
    EXPECT_EQ(Ctl(dialog).edtOutputDir->text(), longFolder);
}

TEST_F(MainDialogSettingsTest, BrowseUpdatesTheBoxThenTheFile)
{
    struct Case {
        const char* name;
        std::optional<QString> picked;
        bool writable;
        QString box;
        std::optional<QByteArray> file;
    };
    const std::vector<Case> cases = {
        {"cancel", std::nullopt, true, QStringLiteral("/start"), "savedir=/start\n"},
        {"a folder", QStringLiteral("/media/usb/Recovered"), true, QStringLiteral("/media/usb/Recovered"),
         "savedir=/media/usb/Recovered\n"},
        {"trailing separator", QStringLiteral("/media/usb/"), true, QStringLiteral("/media/usb"),
         "savedir=/media/usb\n"},
        {"the root stays whole", QStringLiteral("/"), true, QStringLiteral("/"), "savedir=/\n"},
        {"unwritable settings file", QStringLiteral("/srv/photos"), false, QStringLiteral("/srv/photos"),
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(Folder() + kSettingsFileName);
        QDir(Folder()).rmdir(kSettingsFileName);
        if (c.writable)
            Put(kSettingsFileName, "savedir=/start\n");
        else
            ASSERT_TRUE(QDir(Folder()).mkdir(kSettingsFileName));  // a folder cannot be replaced
        MainDialog dialog(platform);
        Start(dialog);
        const QString before = Ctl(dialog).edtOutputDir->text();
        ui.QueueFolder(c.picked);
        Ctl(dialog).btnBrowse->click();
        EXPECT_EQ(Ctl(dialog).edtOutputDir->text(), c.picked ? c.box : before);
        EXPECT_EQ(Contents(kSettingsFileName), c.file);
        EXPECT_TRUE(ui.Boxes().empty());
    }
}

TEST_F(MainDialogSettingsTest, SettingsLinkRunsTheFileTypesDialogModally)
{
    Put(kFormatsFileName, "formats=raw,jpg\n");
    MainDialog dialog(platform);
    Start(dialog);
    QPointer<FileTypesDialog> seen;
    QStringList ticked;
    QTimer::singleShot(0, [&] {
        seen = qobject_cast<FileTypesDialog*>(QApplication::activeModalWidget());
        if (!seen)
            return;
        for (const TemplateItem& item : FileTypeCheckBoxes()) {
            if (seen->CheckBox(item.id)->isChecked())
                ticked << QString::fromLatin1(item.key);
        }
        seen->CheckBox(1038)->setChecked(true);
        static_cast<QPushButton*>(seen->Control(IDOK_BUTTON))->click();
    });
    emit Ctl(dialog).lnkSettings->clicked();  // returns when the dialog has ended
    EXPECT_EQ(ticked, QStringList({"jpg", "raw"}));
    EXPECT_TRUE(seen.isNull()) << "the dialog lives for one click only";
    EXPECT_EQ(Contents(kFormatsFileName), QByteArray("formats=jpg,rar,raw\n"));
}

TEST_F(MainDialogSettingsTest, HelpLinkShowsTheHelpWindowOrSaysItIsNotFound)
{
    MainDialog dialog(platform);
    Start(dialog);
    emit Ctl(dialog).lnkHelp->clicked();
    ASSERT_EQ(ui.Texts(), std::vector<QString>({QStringLiteral("Help file is not found.")}));
    EXPECT_EQ(ui.Boxes()[0].caption, QStringLiteral("Snapmend"));
    EXPECT_FALSE(dialog.findChild<HelpWindow*>());

    // The help as built, shown inside the program: nothing is handed to the desktop.
    ui.Clear();
    QFile built(qEnvironmentVariable("SNAPMEND_BUILD_DIR") + QStringLiteral("/help.chm"));
    ASSERT_TRUE(built.open(QIODevice::ReadOnly));
    Put(kHelpFileName, built.readAll());
    emit Ctl(dialog).lnkHelp->clicked();
    EXPECT_TRUE(ui.Boxes().empty());
    EXPECT_TRUE(ui.OpenedPaths().empty());
    auto* help = dialog.findChild<HelpWindow*>();
    ASSERT_TRUE(help);
    ASSERT_TRUE(test::WaitUntil([&] { return help->isVisible(); }, 2000));
    QTextBrowser* browser = help->Browser();
    EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("Recover")));
    test::Screenshot("i18-help-window.png");

    // A link of the contents (keyboard: Tab to it, Enter) scrolls to its topic.
    EXPECT_EQ(browser->verticalScrollBar()->value(), 0);
    QTest::keyClick(browser, Qt::Key_Tab);
    QTest::keyClick(browser, Qt::Key_Return);
    EXPECT_TRUE(test::WaitUntil([&] { return browser->verticalScrollBar()->value() > 0; }, 2000));

    emit Ctl(dialog).lnkHelp->clicked();
    EXPECT_EQ(dialog.findChildren<HelpWindow*>().size(), 1) << "one help window, raised again";
    QTest::keyClick(help, Qt::Key_Escape);
    EXPECT_FALSE(help->isVisible());
}

TEST_F(MainDialogSettingsTest, BrowseStartsInTheOutputFolderOrItsNearestParent)
{
    QTemporaryDir out;
    const std::pair<QString, QString> cases[] = {
        {out.path(), out.path()},
        {out.path() + QStringLiteral("/not/yet"), out.path()},
    };
    for (const auto& [saved, start] : cases) {
        SCOPED_TRACE(saved.toStdString());
        Put(kSettingsFileName, "savedir=" + saved.toUtf8() + "\n");
        ui.Clear();
        MainDialog dialog(platform);
        Start(dialog);
        QTest::mouseClick(Ctl(dialog).btnBrowse, Qt::LeftButton);
        EXPECT_EQ(ui.FolderStarts(), std::vector<QString>({start}));
    }
}

}  // namespace
}  // namespace snapmend
