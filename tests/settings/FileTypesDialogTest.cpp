#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

#include "FileTypesDialog.h"
#include "FileTypesTemplate.h"
#include "SettingsFiles.h"
#include "TestUtil.h"

namespace snapmend {
namespace {

class FileTypesDialogTest : public ::testing::Test {
protected:
    QString Folder() const { return m_dir.path() + QLatin1Char('/'); }

    void PutFormats(const QByteArray& bytes) const
    {
        QFile file(Folder() + kFormatsFileName);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    std::optional<QByteArray> Formats() const
    {
        QFile file(Folder() + kFormatsFileName);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }

    // The captions of the ticked boxes, in table order.
    static QStringList Ticked(const FileTypesDialog& dialog)
    {
        QStringList ticked;
        for (const TemplateItem& item : FileTypeCheckBoxes()) {
            if (dialog.CheckBox(item.id)->isChecked())
                ticked << dialog.CheckBox(item.id)->text();
        }
        return ticked;
    }

    static void Click(const FileTypesDialog& dialog, int id)
    {
        static_cast<QPushButton*>(dialog.Control(id))->click();
    }

    QTemporaryDir m_dir;
};

TEST_F(FileTypesDialogTest, OpensFromTheFileAndOkWritesTableOrder)
{
    struct Case {
        const char* name;
        std::optional<QByteArray> file;
        QStringList ticked;
        QByteArray written;
    };
    const std::vector<Case> cases = {
        {"no file", std::nullopt, {".jpg", ".gif", ".png", ".bmp", ".tif"}, "formats=jpg,gif,png,bmp,tif\n"},
        {"no formats line", "savedir=/x\n", {".jpg", ".gif", ".png", ".bmp", ".tif"}, "formats=jpg,gif,png,bmp,tif\n"},
        {"other order", "formats=raw,jpg\r\n", {".jpg", "Other raw files"}, "formats=jpg,raw\n"},
        {"empty list is not the default", "formats=\n", {}, "formats=\n"},
        {"hand edited words", "formats=rar,JPG,tiff,mystery\n", {".tif", ".rar"}, "formats=tif,rar\n"},
        {"every key", "formats=raw,rar,zip,pst,wav,txt,doc,swf,pdf,rm,3gp,mov,mp4,mp3,asf,wmv,dat,mpg,avi,tif,bmp,png,gif,jpg",
         {".jpg", ".gif", ".png", ".bmp", ".tif", ".avi", ".mpg", ".dat", ".wmv", ".asf", ".mp3", ".mp4", ".mov",
          ".3gp", ".rm", ".pdf", ".swf", ".doc", ".txt", ".wav", ".pst", ".zip", ".rar", "Other raw files"},
         "formats=jpg,gif,png,bmp,tif,avi,mpg,dat,wmv,asf,mp3,mp4,mov,3gp,rm,pdf,swf,doc,txt,wav,pst,zip,rar,raw\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(Folder() + kFormatsFileName);
        if (c.file)
            PutFormats(*c.file);
        FileTypesDialog dialog(Folder());
        EXPECT_EQ(Ticked(dialog), c.ticked);
        dialog.show();
        Click(dialog, IDOK_BUTTON);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(Formats(), c.written);
    }
}

TEST_F(FileTypesDialogTest, TickingAndUntickingIsWhatOkWrites)
{
    {
        FileTypesDialog dialog(Folder());
        for (const TemplateItem& item : FileTypeCheckBoxes())
            dialog.CheckBox(item.id)->click();  // the defaults go off, the rest on
        dialog.CheckBox(1038)->setChecked(true);
        EXPECT_EQ(dialog.CollectFormats(),
                  QStringLiteral("avi,mpg,dat,wmv,asf,mp3,mp4,mov,3gp,rm,pdf,swf,doc,txt,wav,pst,zip,rar,raw"));
        for (const TemplateItem& item : FileTypeCheckBoxes())
            dialog.CheckBox(item.id)->setChecked(false);
        dialog.CheckBox(1038)->setChecked(true);
        dialog.CheckBox(1039)->setChecked(true);
        Click(dialog, IDOK_BUTTON);
        EXPECT_EQ(Formats(), QByteArray("formats=rar,raw\n"));
    }
    {
        FileTypesDialog dialog(Folder());
        EXPECT_EQ(Ticked(dialog), QStringList({".rar", "Other raw files"}));
        for (const TemplateItem& item : FileTypeCheckBoxes())
            dialog.CheckBox(item.id)->setChecked(false);
        Click(dialog, IDOK_BUTTON);
        EXPECT_EQ(Formats(), QByteArray("formats=\n"));
    }
    FileTypesDialog reopened(Folder());
    EXPECT_TRUE(Ticked(reopened).isEmpty());
}

TEST_F(FileTypesDialogTest, DefaultThenDismissWritesNothing)
{
    const QByteArray original = "formats=zip\r\nkept=1\n";
    const std::vector<std::pair<const char*, std::function<void(FileTypesDialog&)>>> dismissals = {
        {"Cancel", [](FileTypesDialog& d) { Click(d, IDCANCEL_BUTTON); }},
        {"Escape",
         [](FileTypesDialog& d) {
             QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
             QApplication::sendEvent(&d, &press);
         }},
        {"close box", [](FileTypesDialog& d) { d.close(); }},
    };
    for (const auto& [name, dismiss] : dismissals) {
        SCOPED_TRACE(name);
        PutFormats(original);
        FileTypesDialog dialog(Folder());
        ASSERT_EQ(Ticked(dialog), QStringList({".zip"}));
        dialog.show();
        Click(dialog, IDC_DEFAULT_FORMATS);
        EXPECT_EQ(Ticked(dialog), QStringList({".jpg", ".gif", ".png", ".bmp", ".tif"}));
        EXPECT_EQ(Formats(), original);
        dismiss(dialog);
        EXPECT_TRUE(test::WaitUntil([&] { return !dialog.isVisible(); }, 2000));
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(Formats(), original);
    }
}

TEST_F(FileTypesDialogTest, OkClosesEvenWhenTheFileCannotBeWritten)
{
    FileTypesDialog dialog(Folder() + QStringLiteral("no such folder/"));
    dialog.show();
    Click(dialog, IDOK_BUTTON);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(FileTypesDialogTest, EnterPressesOk)
{
    FileTypesDialog dialog(Folder());
    dialog.show();
    dialog.CheckBox(1016)->setFocus();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &press);
    EXPECT_TRUE(test::WaitUntil([&] { return !dialog.isVisible(); }, 2000));
    EXPECT_EQ(Formats(), QByteArray("formats=jpg,gif,png,bmp,tif\n"));
}

}  // namespace
}  // namespace snapmend
