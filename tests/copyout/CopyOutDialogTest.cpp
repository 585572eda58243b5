// The copy-out handlers of the main window over real files: a workspace in a
// temporary folder, result rows as the harvest makes them, message boxes
// answered by the scripted recorder.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <unistd.h>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "FakeSystemInfo.h"
#include "MainDialog.h"
#include "PlatformServices.h"
#include "ResultRows.h"
#include "ScriptedUiServices.h"
#include "TestUtil.h"
#include "TimerIds.h"
#include "TimerService.h"

using namespace snapmend;

namespace {

std::string Str(const QString& s) { return s.toStdString(); }

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList Entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

class CopyOutDialogTest : public ::testing::Test {
protected:
    CopyOutDialogTest()
    {
        platform.ui = &ui;
        platform.system = &system;
        dialog.m_strWorkspaceRoot = work.filePath("workspace");
        QDir().mkpath(dialog.m_strWorkspaceRoot + "/temp");
        output = work.filePath("out");
        dialog.m_edtOutputDir->setText(output);
    }

    // The window as a finished scan leaves it: lists and links shown, Recover ready.
    void EnterReady()
    {
        dialog.OnInitDialog();
        dialog.Timers().KillTimer(TIMER_STARTUP);
        dialog.show();
        dialog.SetDrivePageVisible(false);
        dialog.m_lblLoading->hide();
        dialog.m_lstPhotos->show();
        dialog.m_lstFiles->show();
        dialog.EnterReadyState();
    }

    // Result rows the way the harvest adds them: ticked, full workspace path on the row.
    QString AddPhoto(const QString& relative, const QByteArray& bytes)
    {
        const QString path = dialog.m_strWorkspaceRoot + "/" + relative;
        EXPECT_TRUE(WriteFile(path, bytes));
        auto* item = new QListWidgetItem(QString(), dialog.m_lstPhotos);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
        item->setData(Qt::UserRole, path);
        return path;
    }

    QString AddFile(const QString& relative, const QByteArray& bytes)
    {
        const QString path = dialog.m_strWorkspaceRoot + "/" + relative;
        EXPECT_TRUE(WriteFile(path, bytes));
        auto* row = new ResultRow(MakeResultItem(path, static_cast<quint64>(bytes.size())));
        row->setText(0, row->Item().fileName);
        dialog.m_lstFiles->addTopLevelItem(row);
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(0, Qt::Checked);
        return path;
    }

    // Runs the copy tick by tick until the recovery has ended.
    void RunCopy(int maxTicks = 1000)
    {
        for (int i = 0; i < maxTicks && dialog.Timers().IsActive(TIMER_COPY_OUT); ++i)
            dialog.OnCopyTick();
        ASSERT_FALSE(dialog.Timers().IsActive(TIMER_COPY_OUT));
    }

    bool DrivePageShown() const { return dialog.m_btnStart->isVisible() && dialog.m_lstDrives->isVisible(); }
    bool ReadyViewShown() const
    {
        return dialog.m_btnRecover->isVisible() && dialog.m_btnRecover->text() == "Recover" &&
               !dialog.m_progress->isVisible() && !dialog.m_btnStart->isVisible();
    }

    QTemporaryDir work;
    QString output;
    test::ScriptedUiServices ui;
    test::FakeSystemInfo system;
    PlatformServices platform = [] { return PlatformServices::Default(); }();
    MainDialog dialog{platform};
};

}  // namespace

TEST_F(CopyOutDialogTest, WithEveryRowUntickedRecoverOnlySaysSoAndTheWindowStays)
{
    AddPhoto("temp/f1.jpg", "p1");
    AddFile("temp/f2.txt", "t2");
    EnterReady();
    dialog.m_lstPhotos->item(0)->setCheckState(Qt::Unchecked);
    dialog.m_lstFiles->topLevelItem(0)->setCheckState(0, Qt::Unchecked);

    dialog.StartRecovery();

    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text), "No files selected.\n\nPlease select files that you want to recover.");
    EXPECT_EQ(ui.Boxes()[0].flags, unsigned(MB_OK));
    EXPECT_FALSE(dialog.Timers().IsActive(TIMER_COPY_OUT));
    EXPECT_TRUE(ReadyViewShown());
    EXPECT_FALSE(dialog.m_lblProgress->isVisible());
    EXPECT_FALSE(QFileInfo::exists(output));
}

TEST_F(CopyOutDialogTest, TwoPhotosAndOneFileAreCopiedPhotosFirstWithProgressThenTheDrivePageReturns)
{
    const QString file = AddFile("temp/f9.txt", "file");
    const QString photo1 = AddPhoto("temp/f1.jpg", "photo one");
    AddPhoto("temp/f2.png", "unticked photo");
    const QString photo3 = AddPhoto("temp/f3.gif", "photo three");
    EnterReady();
    dialog.m_lstPhotos->item(1)->setCheckState(Qt::Unchecked);
    ui.QueueAnswer(IDYES);

    dialog.StartRecovery();
    EXPECT_EQ(dialog.Timers().Interval(TIMER_COPY_OUT), 200);
    EXPECT_FALSE(dialog.m_btnRecover->isVisible());
    EXPECT_TRUE(dialog.m_progress->isVisible());
    EXPECT_TRUE(dialog.m_lblProgress->isVisible());
    EXPECT_EQ(dialog.m_progress->maximum(), 3);
    EXPECT_EQ(dialog.m_photoSelection, (std::vector<int>{0, 2}));
    EXPECT_EQ(dialog.m_fileSelection, (std::vector<int>{0}));

    // One file per tick, in plan order; the progress follows.
    const struct {
        const char* text;
        QStringList present;
    } steps[] = {{"Recovering photo 1 of 3", {"f1.jpg"}},
                 {"Recovering photo 2 of 3", {"f1.jpg", "f3.gif"}},
                 {"Recovering photo 3 of 3", {"f1.jpg", "f3.gif", "f9.txt"}}};
    for (const auto& step : steps) {
        dialog.OnCopyTick();
        EXPECT_EQ(Str(dialog.m_lblProgress->text()), step.text);
        EXPECT_EQ(Entries(output), step.present) << step.text;
    }
    EXPECT_EQ(dialog.m_progress->value(), 3);
    EXPECT_TRUE(ui.Boxes().empty());
    EXPECT_EQ(ReadFile(output + "/f1.jpg"), ReadFile(photo1));
    EXPECT_EQ(ReadFile(output + "/f3.gif"), ReadFile(photo3));
    EXPECT_EQ(ReadFile(output + "/f9.txt"), ReadFile(file));

    dialog.OnCopyTick();  // the end
    EXPECT_FALSE(dialog.Timers().IsActive(TIMER_COPY_OUT));
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text), "3 files recovered.\n\nDo you want to view recovered files?");
    EXPECT_EQ(Str(ui.Boxes()[0].caption), "Confirm");
    EXPECT_EQ(ui.Boxes()[0].flags, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(ui.OpenedPaths(), std::vector<QString>{output});
    EXPECT_FALSE(QFileInfo::exists(dialog.m_strWorkspaceRoot)) << "the workspace is deleted";
    EXPECT_TRUE(DrivePageShown());
    for (QWidget* hidden : std::initializer_list<QWidget*>{dialog.m_progress, dialog.m_lblProgress, dialog.m_lblStatus,
                                                            dialog.m_lstPhotos, dialog.m_btnRecover,
                                                            dialog.m_lnkSelectFiles, dialog.m_lnkSelectPhotos,
                                                            dialog.m_lstFiles})
        EXPECT_FALSE(hidden->isVisible()) << Str(hidden->objectName());
    EXPECT_EQ(dialog.m_progress->value(), 0);
    EXPECT_EQ(dialog.m_lstPhotos->count(), 3) << "rows stay until the next scan";
}

TEST_F(CopyOutDialogTest, TheCopyTimerRunsTheRecoveryToItsEndAndNoOpensNothing)
{
    AddPhoto("temp/f1.jpg", "one");
    AddFile("temp/f2.txt", "two");
    EnterReady();
    ui.QueueAnswer(IDNO);
    dialog.StartRecovery();
    ASSERT_TRUE(test::WaitUntil([&] { return !ui.Boxes().empty(); }, 5000));
    EXPECT_EQ(Entries(output), (QStringList{"f1.jpg", "f2.txt"}));
    EXPECT_TRUE(ui.OpenedPaths().empty());
    EXPECT_FALSE(QFileInfo::exists(dialog.m_strWorkspaceRoot));
    EXPECT_TRUE(DrivePageShown());
}

TEST_F(CopyOutDialogTest, SelectionLinksAlternateTheirTextsAndTickOrUntickEveryRow)
{
    for (int i = 0; i < 3; ++i) {
        AddPhoto(QString("temp/p%1.jpg").arg(i), "p");
        AddFile(QString("temp/f%1.txt").arg(i), "f");
    }
    EnterReady();
    struct Link {
        CStyledLabel* link;
        std::function<void()> click;
        std::function<int()> ticked;
        std::function<void()> tickOne;
        const char* clearAll;
        const char* selectAll;
    };
    const Link links[] = {
        {dialog.m_lnkSelectPhotos, [&] { dialog.OnPhotoLinkClicked(); },
         [&] {
             int n = 0;
             for (int i = 0; i < dialog.m_lstPhotos->count(); ++i)
                 n += dialog.m_lstPhotos->item(i)->checkState() == Qt::Checked;
             return n;
         },
         [&] { dialog.m_lstPhotos->item(1)->setCheckState(Qt::Checked); }, "Unselect All Photos",
         "Select All Photos"},
        {dialog.m_lnkSelectFiles, [&] { dialog.OnFileLinkClicked(); },
         [&] {
             int n = 0;
             for (int i = 0; i < dialog.m_lstFiles->topLevelItemCount(); ++i)
                 n += dialog.m_lstFiles->topLevelItem(i)->checkState(0) == Qt::Checked;
             return n;
         },
         [&] { dialog.m_lstFiles->topLevelItem(1)->setCheckState(0, Qt::Checked); }, "Unselect All Files",
         "Select All Files"},
    };
    for (const Link& l : links) {
        l.link->SetText(l.clearAll);
        l.click();
        EXPECT_EQ(l.ticked(), 0) << l.clearAll;
        EXPECT_EQ(Str(l.link->text()), l.selectAll);
        l.tickOne();
        EXPECT_EQ(Str(l.link->text()), l.selectAll) << "ticking one row does not change the link";
        l.click();
        EXPECT_EQ(l.ticked(), 3) << l.selectAll;
        EXPECT_EQ(Str(l.link->text()), l.clearAll);
    }
}

TEST_F(CopyOutDialogTest, AnOutputFolderThatCannotBeCreatedStopsWithTheMessageAndOffersTheResultsAgain)
{
    AddPhoto("temp/f1.jpg", "one");
    EnterReady();
    const QString folder = work.filePath("no/such/parent");
    dialog.m_edtOutputDir->setText(folder);

    dialog.StartRecovery();
    dialog.OnCopyTick();

    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text), "Output directory \"" + Str(folder) + "\" does not exists.");
    EXPECT_EQ(Str(ui.Boxes()[0].caption), "Snapmend");
    EXPECT_FALSE(dialog.Timers().IsActive(TIMER_COPY_OUT));
    EXPECT_TRUE(ReadyViewShown()) << "Recover is offered again";
    EXPECT_TRUE(QFileInfo::exists(dialog.m_strWorkspaceRoot + "/temp/f1.jpg"));
    EXPECT_EQ(dialog.m_lstPhotos->item(0)->checkState(), Qt::Checked);

    // The parent made, Recover works.
    QDir().mkpath(work.filePath("no/such"));
    ui.Clear();
    ui.QueueAnswer(IDNO);
    dialog.StartRecovery();
    RunCopy();
    EXPECT_EQ(Entries(folder), QStringList{"f1.jpg"});
    EXPECT_EQ(Str(ui.Boxes().at(0).text), "1 files recovered.\n\nDo you want to view recovered files?");
}

TEST_F(CopyOutDialogTest, SameNamesNeverOverwriteEachOtherNorAnOlderFile)
{
    AddFile("temp/a/report.txt", "first");
    AddFile("temp/b/report.txt", "second");
    AddFile("temp/c/report.txt", "third");
    ASSERT_TRUE(WriteFile(output + "/report.txt", "from before"));
    EnterReady();
    ui.QueueAnswer(IDNO);
    dialog.StartRecovery();
    RunCopy();
    EXPECT_EQ(Entries(output), (QStringList{"report (2).txt", "report (3).txt", "report (4).txt", "report.txt"}));
    EXPECT_EQ(ReadFile(output + "/report.txt"), "from before");
    EXPECT_EQ(ReadFile(output + "/report (2).txt"), "first");
    EXPECT_EQ(ReadFile(output + "/report (3).txt"), "second");
    EXPECT_EQ(ReadFile(output + "/report (4).txt"), "third");
    EXPECT_EQ(Str(ui.Boxes().at(0).text), "3 files recovered.\n\nDo you want to view recovered files?");
}

TEST_F(CopyOutDialogTest, AVanishedSourceIsNotCountedAsRecovered)
{
    AddPhoto("temp/f1.jpg", "one");
    const QString gone = AddPhoto("temp/f2.jpg", "two");
    AddFile("temp/f3.txt", "three");
    EnterReady();
    ui.QueueAnswer(IDNO);
    dialog.StartRecovery();
    QFile::remove(gone);
    RunCopy();
    EXPECT_EQ(Entries(output), (QStringList{"f1.jpg", "f3.txt"}));
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text),
              "2 files recovered.\n\n1 files could not be recovered, they are no longer in the scan results.\n\n"
              "Do you want to view recovered files?");
    EXPECT_FALSE(QFileInfo::exists(dialog.m_strWorkspaceRoot)) << "nothing left to retry from";
    EXPECT_TRUE(DrivePageShown());
}

TEST_F(CopyOutDialogTest, AFullOutputDiskKeepsTheWorkspaceAndOffersTheFailedFilesAgain)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small tmpfs as the output folder";
    QDir().mkpath(output);
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=512k", "tmpfs", output}) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        QString dir;
        ~Unmount() { QProcess::execute("umount", {dir}); }
    } unmount{output};

    AddPhoto("temp/small.jpg", QByteArray(300 * 1024, 's'));
    const QString big = AddPhoto("temp/big.jpg", QByteArray(300 * 1024, 'b'));
    AddFile("temp/note.txt", "note");
    EnterReady();
    dialog.StartRecovery();
    RunCopy();

    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text),
              "2 files recovered.\n\n1 files could not be recovered, they are still selected.\n\n"
              "Please check the output folder and press 'Recover' to try again.");
    EXPECT_EQ(Str(ui.Boxes()[0].caption), "Snapmend");
    EXPECT_EQ(Entries(output), (QStringList{"note.txt", "small.jpg"})) << "no partial file is left";
    EXPECT_TRUE(QFileInfo::exists(big)) << "the workspace is kept";
    EXPECT_TRUE(ReadyViewShown());
    EXPECT_EQ(dialog.m_lstPhotos->item(0)->checkState(), Qt::Unchecked) << "copied: unticked";
    EXPECT_EQ(dialog.m_lstPhotos->item(1)->checkState(), Qt::Checked) << "failed: still ticked";
    EXPECT_EQ(dialog.m_lstFiles->topLevelItem(0)->checkState(0), Qt::Unchecked);

    // Space freed, the retry copies only what is left.
    QFile::remove(output + "/small.jpg");
    ui.Clear();
    ui.QueueAnswer(IDNO);
    dialog.StartRecovery();
    EXPECT_EQ(dialog.count, 1);
    RunCopy();
    EXPECT_EQ(Str(ui.Boxes().at(0).text), "1 files recovered.\n\nDo you want to view recovered files?");
    EXPECT_EQ(ReadFile(output + "/big.jpg"), QByteArray(300 * 1024, 'b'));
    EXPECT_FALSE(QFileInfo::exists(dialog.m_strWorkspaceRoot));
}

TEST_F(CopyOutDialogTest, MoreThan65535ItemsKeepAnExactProgressRange)
{
    EnterReady();
    dialog.m_lstFiles->setUpdatesEnabled(false);
    const int rows = 70000;
    for (int i = 0; i < rows; ++i) {
        auto* row = new ResultRow(MakeResultItem(QString("/nowhere/f%1.txt").arg(i), 1));
        dialog.m_lstFiles->addTopLevelItem(row);
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(0, Qt::Checked);
    }
    dialog.StartRecovery();
    EXPECT_EQ(dialog.count, rows);
    EXPECT_EQ(dialog.m_progress->maximum(), rows);
    dialog.index = rows - 1;
    dialog.m_edtOutputDir->setText(output);
    AddFile("temp/last.txt", "last");  // row 70000, not selected: the copy plan was fixed at Recover
    dialog.OnCopyTick();
    EXPECT_EQ(dialog.index, rows);
    dialog.Timers().KillTimer(TIMER_COPY_OUT);
}

TEST_F(CopyOutDialogTest, APollStillPendingAfterACancelCannotMoveTheCopyCursor)
{
    AddPhoto("temp/f1.jpg", "one");
    AddPhoto("temp/f2.jpg", "two");
    AddFile("temp/f3.txt", "three");
    EnterReady();
    dialog.Timers().SetTimer(TIMER_POLL_WORKSPACE, 100);  // left by a cancel; fires before the first copy tick
    ui.QueueAnswer(IDNO);
    dialog.StartRecovery();
    ASSERT_TRUE(test::WaitUntil([&] { return !ui.Boxes().empty(); }, 5000));
    EXPECT_EQ(Str(ui.Boxes()[0].text), "3 files recovered.\n\nDo you want to view recovered files?");
    EXPECT_EQ(Entries(output), (QStringList{"f1.jpg", "f2.jpg", "f3.txt"}));
    EXPECT_FALSE(dialog.Timers().IsActive(TIMER_HARVEST));
}
