// The copy-out handlers of the main window over real files: a workspace in a
// temporary folder, result rows as the harvest makes them, message boxes
// answered by the scripted recorder.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <unistd.h>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "FileSystem.h"
#include "PlatformServices.h"
#include "ResultViews.h"
#include "ScanFixture.h"
#include "TestUtil.h"
#include "Ownership.h"
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

// The window as a finished scan leaves it: a real scan of a card by the engine,
// the workspace it made, Recover ready; the lists emptied for the test's rows.
class CopyOutDialogTest : public test::ScanFixture {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        ASSERT_TRUE(test::InstallEngine(dataHome.path()));
        const QString image = scratch.path() + "/card.img";
        ASSERT_EQ(test::MakePhotoImage(image, 1, 1 << 20).size(), 1u);
        dialog = OpenOnDrivePage(image);
        SelectFirstDrive(*dialog);
        c().btnStart->click();
        ASSERT_TRUE(test::WaitUntil([&] { return c().btnRecover->text() == "Recover"; }, 20000));
        c().lstPhotos->Model().Clear();
        c().lstFiles->Model().Clear();
        root = dialog->Scan().Workspace().root;
        ASSERT_FALSE(root.isEmpty());
        // The scan's own results go with their rows: a file left without a row keeps the workspace.
        DeleteFolderTree(dialog->Scan().Workspace().engineOutputDir, false);
        output = scratch.filePath("out");
        c().edtOutputDir->setText(output);
    }

    test::WindowControls c() const { return test::WindowControls(*dialog); }

    // Result rows the way the harvest adds them: ticked, full workspace path on the row.
    QString AddPhoto(const QString& relative, const QByteArray& bytes)
    {
        const QString path = dialog->Scan().Workspace().root + "/" + relative;
        EXPECT_TRUE(WriteFile(path, bytes));
        c().lstPhotos->Model().Insert(-1, path, QImage());
        return path;
    }

    QString AddFile(const QString& relative, const QByteArray& bytes)
    {
        const QString path = dialog->Scan().Workspace().root + "/" + relative;
        EXPECT_TRUE(WriteFile(path, bytes));
        c().lstFiles->Model().Append(path, static_cast<quint64>(bytes.size()));
        return path;
    }

    // Runs the copy tick by tick until the recovery has ended.
    void RunCopy()
    {
        for (int i = 0; i < 10000 && dialog->Timers().IsActive(TIMER_COPY_OUT); ++i) {
            dialog->OnTimer(TIMER_COPY_OUT);
            if (dialog->Timers().IsActive(TIMER_COPY_OUT))
                QThread::msleep(1);
        }
        ASSERT_FALSE(dialog->Timers().IsActive(TIMER_COPY_OUT));
    }

    bool DrivePageShown() const { return c().btnStart->isVisible() && c().lstDrives->isVisible(); }
    bool ReadyViewShown() const
    {
        return c().btnRecover->isVisible() && c().btnRecover->text() == "Recover" && !c().progress->isVisible() &&
               !c().btnStart->isVisible();
    }

    std::unique_ptr<MainDialog> dialog;
    QString root;
    QString output;
};

}  // namespace

TEST_F(CopyOutDialogTest, WithEveryRowUntickedRecoverOnlySaysSoAndTheWindowStays)
{
    AddPhoto("temp/f1.jpg", "p1");
    AddFile("temp/f2.txt", "t2");
    c().lstPhotos->Model().SetChecked(0, false);
    c().lstFiles->Model().SetChecked(0, false);

    c().btnRecover->click();

    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text), "No files selected.\n\nPlease select files that you want to recover.");
    EXPECT_EQ(ui.Boxes()[0].flags, unsigned(MB_OK));
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_COPY_OUT));
    EXPECT_TRUE(ReadyViewShown());
    EXPECT_FALSE(c().lblProgress->isVisible());
    EXPECT_FALSE(QFileInfo::exists(output));
}

TEST_F(CopyOutDialogTest, TwoPhotosAndOneFileAreCopiedPhotosFirstWithProgressThenTheResultsStay)
{
    AddFile("temp/f9.txt", "file");
    AddPhoto("temp/f1.jpg", "photo one");
    AddPhoto("temp/f2.png", "unticked photo");
    AddPhoto("temp/f3.gif", "photo three");
    c().lstPhotos->Model().SetChecked(1, false);
    ui.QueueAnswer(IDYES);

    c().btnRecover->click();
    EXPECT_EQ(dialog->Timers().Interval(TIMER_COPY_OUT), 200);
    EXPECT_FALSE(c().btnRecover->isVisible());
    EXPECT_TRUE(c().progress->isVisible());
    EXPECT_TRUE(c().lblProgress->isVisible());
    EXPECT_EQ(c().progress->maximum(), 3);

    // The worker copies everything; the last tick shows the whole count.
    RunCopy();
    EXPECT_EQ(c().progress->maximum(), 3);
    EXPECT_EQ(Entries(output), (QStringList{"f1.jpg", "f3.gif", "f9.txt"}));
    EXPECT_EQ(ReadFile(output + "/f1.jpg"), "photo one");
    EXPECT_EQ(ReadFile(output + "/f3.gif"), "photo three");
    EXPECT_EQ(ReadFile(output + "/f9.txt"), "file");
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text), "3 files recovered.\n\nDo you want to view recovered files?");
    EXPECT_EQ(Str(ui.Boxes()[0].caption), "Confirm");
    EXPECT_EQ(ui.Boxes()[0].flags, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(ui.OpenedPaths(), std::vector<QString>{output});
    // The results stay for more recoveries: what was copied is marked and unticked, the rest as it was.
    EXPECT_TRUE(QFileInfo::exists(dialog->Scan().Workspace().root)) << "the workspace is kept";
    EXPECT_TRUE(ReadyViewShown());
    EXPECT_FALSE(c().progress->isVisible());
    EXPECT_EQ(c().progress->value(), 0);
    const PhotoResultModel& photos = c().lstPhotos->Model();
    ASSERT_EQ(photos.Count(), 3);
    EXPECT_TRUE(photos.IsRecovered(0) && !photos.IsChecked(0));
    EXPECT_TRUE(!photos.IsRecovered(1) && !photos.IsChecked(1)) << "unticked before: as it was";
    EXPECT_TRUE(photos.IsRecovered(2) && !photos.IsChecked(2));
    EXPECT_TRUE(c().lstFiles->Model().IsRecovered(0) && !c().lstFiles->Model().IsChecked(0));
}

TEST_F(CopyOutDialogTest, TheCopyTimerRunsTheRecoveryToItsEndAndNoOpensNothing)
{
    AddPhoto("temp/f1.jpg", "one");
    AddFile("temp/f2.txt", "two");
    ui.QueueAnswer(IDNO);
    c().btnRecover->click();
    ASSERT_TRUE(test::WaitUntil([&] { return !ui.Boxes().empty(); }, 5000));
    EXPECT_EQ(Entries(output), (QStringList{"f1.jpg", "f2.txt"}));
    EXPECT_TRUE(ui.OpenedPaths().empty());
    ASSERT_TRUE(test::WaitUntil([&] { return ReadyViewShown(); }, 5000));
}

TEST_F(CopyOutDialogTest, SelectionLinksAlternateTheirTextsAndTickOrUntickEveryRow)
{
    for (int i = 0; i < 3; ++i) {
        AddPhoto(QString("temp/p%1.jpg").arg(i), "p");
        AddFile(QString("temp/f%1.txt").arg(i), "f");
    }
    struct Link {
        CStyledLabel* link;
        std::function<void()> click;
        std::function<int()> ticked;
        std::function<void()> tickOne;
        const char* clearAll;
        const char* selectAll;
    };
    const Link links[] = {
        {c().lnkSelectPhotos, [&] { emit c().lnkSelectPhotos->clicked(); },
         [&] {
             int n = 0;
             for (int i = 0; i < c().lstPhotos->Model().Count(); ++i)
                 n += c().lstPhotos->Model().IsChecked(i);
             return n;
         },
         [&] { c().lstPhotos->Model().SetChecked(1, true); }, "Unselect All Photos",
         "Select All Photos"},
        {c().lnkSelectFiles, [&] { emit c().lnkSelectFiles->clicked(); },
         [&] {
             int n = 0;
             for (int i = 0; i < c().lstFiles->Model().Count(); ++i)
                 n += c().lstFiles->Model().IsChecked(i);
             return n;
         },
         [&] { c().lstFiles->Model().SetChecked(1, true); }, "Unselect All Files",
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

// Started through sudo by someone who may not write the output folder: told
// so before anything is copied.
TEST_F(CopyOutDialogTest, AnOutputFolderThePersonCannotWriteIsRefusedBeforeTheCopy)
{
    if (::geteuid() != 0 || !LookUpAccount(65534))
        GTEST_SKIP() << "needs root and the account 65534 to act for";
    AddPhoto("temp/f1.jpg", "one");
    const QByteArray oldSudo = qgetenv("SUDO_UID");
    qputenv("SUDO_UID", "65534");  // the scratch folder is root's own 0700 one
    c().btnRecover->click();
    oldSudo.isNull() ? qunsetenv("SUDO_UID") : qputenv("SUDO_UID", oldSudo);

    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_TRUE(ui.Boxes()[0].text.startsWith("Output directory \"" + output + "\" cannot be written by "))
        << Str(ui.Boxes()[0].text);
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_COPY_OUT));
    EXPECT_TRUE(ReadyViewShown());
    EXPECT_FALSE(QFileInfo::exists(output));
}

TEST_F(CopyOutDialogTest, AnOutputFolderThatCannotBeCreatedStopsWithTheMessageAndOffersTheResultsAgain)
{
    AddPhoto("temp/f1.jpg", "one");
    const QString folder = scratch.filePath("no/such/parent");
    c().edtOutputDir->setText(folder);

    c().btnRecover->click();
    RunCopy();

    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text), "Output directory \"" + Str(folder) + "\" does not exists.");
    EXPECT_EQ(Str(ui.Boxes()[0].caption), "Snapmend");
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_COPY_OUT));
    EXPECT_TRUE(ReadyViewShown()) << "Recover is offered again";
    EXPECT_TRUE(c().edtOutputDir->isVisible() && c().btnBrowse->isVisible()) << "the folder can be fixed right there";
    EXPECT_TRUE(QFileInfo::exists(dialog->Scan().Workspace().root + "/temp/f1.jpg"));
    EXPECT_TRUE(c().lstPhotos->Model().IsChecked(0));

    // The parent made, Recover works.
    QDir().mkpath(scratch.filePath("no/such"));
    ui.Clear();
    ui.QueueAnswer(IDNO);
    c().btnRecover->click();
    RunCopy();
    EXPECT_EQ(Entries(folder), QStringList{"f1.jpg"});
    EXPECT_EQ(Str(ui.Boxes().at(0).text), "1 files recovered.\n\nDo you want to view recovered files?");
}

// Same names in different original folders keep their folders; a clash with
// an older file gets the next number inside that folder.
TEST_F(CopyOutDialogTest, SameNamesKeepTheirFoldersAndNeverOverwriteAnOlderFile)
{
    AddFile("temp/a/report.txt", "first");
    AddFile("temp/b/report.txt", "second");
    AddFile("temp/report.txt", "third");
    ASSERT_TRUE(QDir().mkpath(output + "/a"));
    ASSERT_TRUE(WriteFile(output + "/a/report.txt", "from before"));
    ASSERT_TRUE(WriteFile(output + "/report.txt", "also from before"));
    ui.QueueAnswer(IDNO);
    c().btnRecover->click();
    RunCopy();
    EXPECT_EQ(Entries(output), (QStringList{"report (2).txt", "report.txt"}));
    EXPECT_EQ(Entries(output + "/a"), (QStringList{"report (2).txt", "report.txt"}));
    EXPECT_EQ(ReadFile(output + "/a/report.txt"), "from before");
    EXPECT_EQ(ReadFile(output + "/report.txt"), "also from before");
    EXPECT_EQ(ReadFile(output + "/a/report (2).txt"), "first");
    EXPECT_EQ(ReadFile(output + "/b/report.txt"), "second");
    EXPECT_EQ(ReadFile(output + "/report (2).txt"), "third");
    EXPECT_EQ(Str(ui.Boxes().at(0).text), "3 files recovered.\n\nDo you want to view recovered files?");
}

TEST_F(CopyOutDialogTest, TheReportCountsThePartialFilesAmongThoseRecovered)
{
    AddPhoto("temp/f1.partial.jpg", "half a photo");
    AddPhoto("temp/f2.jpg", "photo");
    AddFile("temp/f3.partial.mp4", "part of a clip");
    ui.QueueAnswer(IDNO);
    c().btnRecover->click();
    RunCopy();
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text), "3 files recovered.\n2 of them partial: only part of each could be found.\n\n"
                                       "Do you want to view recovered files?");
}

TEST_F(CopyOutDialogTest, AVanishedSourceIsNotCountedAsRecovered)
{
    AddPhoto("temp/f1.jpg", "one");
    const QString gone = AddPhoto("temp/f2.jpg", "two");
    AddFile("temp/f3.txt", "three");
    ui.QueueAnswer(IDNO);
    c().btnRecover->click();
    QFile::remove(gone);
    RunCopy();
    EXPECT_EQ(Entries(output), (QStringList{"f1.jpg", "f3.txt"}));
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text),
              "2 files recovered.\n\n1 files could not be recovered, they are no longer in the scan results.\n\n"
              "Do you want to view recovered files?");
    EXPECT_TRUE(ReadyViewShown());
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
    c().btnRecover->click();
    RunCopy();

    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(Str(ui.Boxes()[0].text),
              "2 files recovered.\n\n1 files could not be recovered, they are still selected.\n\n"
              "Please check the output folder and press 'Recover' to try again.");
    EXPECT_EQ(Str(ui.Boxes()[0].caption), "Snapmend");
    EXPECT_EQ(Entries(output), (QStringList{"note.txt", "small.jpg"})) << "no partial file is left";
    EXPECT_TRUE(QFileInfo::exists(big)) << "the workspace is kept";
    EXPECT_TRUE(ReadyViewShown());
    EXPECT_FALSE(c().lstPhotos->Model().IsChecked(0)) << "copied: unticked";
    EXPECT_TRUE(c().lstPhotos->Model().IsChecked(1)) << "failed: still ticked";
    EXPECT_FALSE(c().lstFiles->Model().IsChecked(0));

    // Space freed, the retry copies only what is left.
    QFile::remove(output + "/small.jpg");
    ui.Clear();
    ui.QueueAnswer(IDNO);
    c().btnRecover->click();
    EXPECT_EQ(c().progress->maximum(), 1);
    RunCopy();
    EXPECT_EQ(Str(ui.Boxes().at(0).text), "1 files recovered.\n\nDo you want to view recovered files?");
    EXPECT_EQ(ReadFile(output + "/big.jpg"), QByteArray(300 * 1024, 'b'));
}

TEST_F(CopyOutDialogTest, MoreThan65535ItemsKeepAnExactProgressRange)
{
    const int rows = 70000;
    for (int i = 0; i < rows; ++i)
        c().lstFiles->Model().Append(QString("/nowhere/f%1.txt").arg(i), 1);
    c().btnRecover->click();
    EXPECT_EQ(c().progress->maximum(), rows);
    dialog->Timers().KillTimer(TIMER_COPY_OUT);
}

TEST_F(CopyOutDialogTest, APollStillPendingAfterACancelCannotMoveTheCopyCursor)
{
    AddPhoto("temp/f1.jpg", "one");
    AddPhoto("temp/f2.jpg", "two");
    AddFile("temp/f3.txt", "three");
    dialog->Timers().SetTimer(TIMER_POLL_WORKSPACE, 100);  // left by a cancel; fires before the first copy tick
    ui.QueueAnswer(IDNO);
    c().btnRecover->click();
    ASSERT_TRUE(test::WaitUntil([&] { return !ui.Boxes().empty(); }, 5000));
    EXPECT_EQ(Str(ui.Boxes()[0].text), "3 files recovered.\n\nDo you want to view recovered files?");
    EXPECT_EQ(Entries(output), (QStringList{"f1.jpg", "f2.jpg", "f3.txt"}));
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_HARVEST));
}

TEST_F(CopyOutDialogTest, ClosingWhileTheWorkersCopyStopsThemBeforeTheWorkspaceGoes)
{
    const QByteArray body(512 * 1024, 'c');
    for (int i = 0; i < 40; ++i)
        AddFile(QString("temp/f%1.bin").arg(i), body);
    c().btnRecover->click();
    dialog->OnTimer(TIMER_COPY_OUT);  // the workers start
    ui.QueueAnswer(IDYES);  // results not yet recovered: the window asks first
    ASSERT_TRUE(dialog->close());
    EXPECT_EQ(ui.Boxes().size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(root)) << "the workspace goes once no worker reads it";
    const QStringList copied = Entries(output);
    EXPECT_LT(copied.size(), 41);
    for (const QString& name : copied)
        EXPECT_EQ(ReadFile(output + "/" + name), body) << Str(name) << " is whole";
}
