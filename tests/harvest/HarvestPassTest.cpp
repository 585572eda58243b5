// The harvest passes stepped through OnTimer on a real workspace folder.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "FakeSystemInfo.h"
#include "MainDialog.h"
#include "PlatformServices.h"
#include "ResultRows.h"
#include "ScriptedUiServices.h"
#include "Thumbnail.h"
#include "TimerIds.h"
#include "TimerService.h"

using namespace snapmend;

namespace {

class HarvestPassTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform.ui = &ui;
        platform.system = &system;
        platform.programFolder = QCoreApplication::applicationDirPath() + "/";  // holds the fallback icon.png
        ASSERT_TRUE(workspace.isValid());
        ASSERT_TRUE(QDir(workspace.path()).mkpath(QStringLiteral("temp")));
        dialog = std::make_unique<MainDialog>(platform);
        dialog->OnInitDialog();
        dialog->Timers().KillTimer(TIMER_STARTUP);
        dialog->m_strWorkspaceRoot = workspace.path();
        // The scanning view as the scan start leaves it.
        dialog->show();
        dialog->SetDrivePageVisible(false);
        dialog->m_lstPhotos->show();
        dialog->m_lstFiles->show();
        dialog->m_btnRecover->setText(QStringLiteral("Cancel"));
        dialog->m_btnRecover->show();
        dialog->m_bScanning = true;
    }

    QString Carved(const QString& name) const { return workspace.path() + "/temp/" + name; }

    void Write(const QString& name, const QByteArray& bytes)
    {
        QFile f(Carved(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    void WritePicture(const QString& name, int w, int h, QColor color)
    {
        QImage image(w, h, QImage::Format_RGB888);
        image.fill(color);
        ASSERT_TRUE(image.save(Carved(name), "JPEG"));
    }

    void Poll() { dialog->OnTimer(TIMER_POLL_WORKSPACE); }
    void Tick() { dialog->OnTimer(TIMER_HARVEST); }

    // One poll and every tick of the pass it starts; returns the ticks taken.
    int RunPass()
    {
        Poll();
        int ticks = 0;
        while (dialog->Timers().IsActive(TIMER_HARVEST) && ticks < 10000) {
            Tick();
            ++ticks;
        }
        return ticks;
    }

    int Photos() const { return dialog->m_lstPhotos->count(); }
    int Files() const { return dialog->m_lstFiles->topLevelItemCount(); }
    QTreeWidgetItem* FileRow(int i) const { return dialog->m_lstFiles->topLevelItem(i); }
    QStringList FileNames() const
    {
        QStringList names;
        for (int i = 0; i < Files(); ++i)
            names << FileRow(i)->text(0);
        return names;
    }

    QTemporaryDir workspace;
    test::ScriptedUiServices ui;
    test::FakeSystemInfo system;
    PlatformServices platform = PlatformServices::Default();
    std::unique_ptr<MainDialog> dialog;
};

TEST_F(HarvestPassTest, EmptyWorkspacePollsEvery200MsThenGoesStraightToReady)
{
    Poll();
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_HARVEST));
    EXPECT_EQ(dialog->Timers().Interval(TIMER_POLL_WORKSPACE), 200);
    Poll();
    EXPECT_EQ(dialog->Timers().Interval(TIMER_POLL_WORKSPACE), 200);
    EXPECT_TRUE(dialog->m_lnkSelectPhotos->isHidden());

    dialog->m_bScanning = false;  // the engine has ended
    Poll();
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_POLL_WORKSPACE));
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_HARVEST));
    EXPECT_EQ(dialog->m_lblStatus->text(), "Press 'Recover' to recover files detected.");
    EXPECT_TRUE(dialog->m_lblStatus->isVisible());
    EXPECT_TRUE(dialog->m_lnkSelectPhotos->isVisible());
    EXPECT_TRUE(dialog->m_lnkSelectFiles->isVisible());
    EXPECT_FALSE(dialog->m_lnkSelectPhotos->isEnabled());
    EXPECT_FALSE(dialog->m_lnkSelectFiles->isEnabled());
    EXPECT_EQ(dialog->m_lnkSelectPhotos->text(), "Unselect All Photos");
    EXPECT_EQ(dialog->m_lnkSelectFiles->text(), "Unselect All Files");
    EXPECT_EQ(dialog->m_btnRecover->text(), "Recover");
    EXPECT_TRUE(dialog->m_btnRecover->isVisible());
    EXPECT_TRUE(dialog->m_lblProgress->isHidden());
    EXPECT_EQ(dialog->m_lblProgress->geometry(), dialog->m_rcProgressLine);
}

TEST_F(HarvestPassTest, OneEntryPerTickThenAnotherPassWhileTheEngineRuns)
{
    Write("a.dat", "1");
    Write("b.dat", "2");
    Poll();
    EXPECT_EQ(dialog->Timers().Interval(TIMER_HARVEST), 200);
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_POLL_WORKSPACE));
    EXPECT_EQ(dialog->count, 2);
    Tick();
    EXPECT_EQ(Files(), 1);
    EXPECT_EQ(dialog->m_lblStatus->text(), "Analyzing disk, please wait.");
    Tick();
    EXPECT_EQ(Files(), 2);
    EXPECT_EQ(dialog->m_lblStatus->text(), "Analyzing disk, please wait..");
    Tick();  // past the end: the pass is over
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_HARVEST));
    EXPECT_EQ(dialog->Timers().Interval(TIMER_POLL_WORKSPACE), 200);
    EXPECT_EQ(dialog->m_btnRecover->text(), "Cancel");  // not the ready view yet
    EXPECT_TRUE(dialog->m_lnkSelectPhotos->isHidden());
}

TEST_F(HarvestPassTest, FileHeldByAWriterIsSkippedAndListedInALaterPass)
{
    Write("f100.dat", QByteArray(2048, 'x'));
    const int writer = ::open(Carved("f100.dat").toLocal8Bit().constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);

    EXPECT_EQ(RunPass(), 2);
    EXPECT_EQ(Files(), 0);
    EXPECT_TRUE(dialog->Timers().IsActive(TIMER_POLL_WORKSPACE));

    ::close(writer);  // the engine finished the file
    RunPass();
    ASSERT_EQ(Files(), 1);
    EXPECT_EQ(FileRow(0)->text(0), "f100.dat");
    EXPECT_EQ(FileRow(0)->text(1), "2.0 KB");
    EXPECT_EQ(FileRow(0)->text(2), "dat");
}

TEST_F(HarvestPassTest, SameFileIsNeverListedTwiceOverManyPasses)
{
    Write("one.txt", "1");
    WritePicture("two.jpg", 40, 30, Qt::red);
    for (int pass = 0; pass < 6; ++pass) {
        EXPECT_EQ(RunPass(), 3) << "pass " << pass;  // two entries plus the closing tick
        EXPECT_EQ(Files(), 1);
        EXPECT_EQ(Photos(), 1);
        EXPECT_EQ(dialog->m_thumbnails.GetImageCount(), 1);
    }
    // Rows emptied behind the harvester's back are listed again, once.
    dialog->ClearResults();
    RunPass();
    RunPass();
    EXPECT_EQ(Files(), 1);
    EXPECT_EQ(Photos(), 1);
    EXPECT_TRUE(ui.Texts().empty());
}

TEST_F(HarvestPassTest, ClassifiesSizesAndChecksEveryRow)
{
    WritePicture("PHOTO.JPG", 640, 480, Qt::blue);
    Write("photo.jpe", QByteArray(10, 'j'));
    Write("noext", QByteArray());
    QFile big(Carved("movie.mov"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(5ll << 30));  // sparse 5 GiB
    big.close();
    dialog->m_bScanning = false;
    RunPass();

    ASSERT_EQ(Photos(), 1);
    EXPECT_EQ(PhotoPathOfRow(dialog->m_lstPhotos->item(0)), Carved("PHOTO.JPG"));
    EXPECT_EQ(dialog->m_lstPhotos->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(dialog->m_lstPhotos->item(0)->text(), QString());
    ASSERT_EQ(Files(), 3);
    std::map<QString, QStringList> rows;
    for (int i = 0; i < Files(); ++i) {
        rows[FileRow(i)->text(0)] = {FileRow(i)->text(1), FileRow(i)->text(2)};
        EXPECT_EQ(FileRow(i)->checkState(0), Qt::Checked);
        EXPECT_EQ(ResultItemOfRow(FileRow(i))->fullPath, Carved(FileRow(i)->text(0)));
    }
    EXPECT_EQ(rows["photo.jpe"], (QStringList{"10 bytes", "jpe"}));
    EXPECT_EQ(rows["noext"], (QStringList{"unknown", ""}));
    EXPECT_EQ(rows["movie.mov"], (QStringList{"5.0 GB", "mov"}));

    // The engine had ended: the pass ends in the ready view with both links live.
    EXPECT_EQ(dialog->m_lblStatus->text(), "Press 'Recover' to recover files detected.");
    EXPECT_TRUE(dialog->m_lnkSelectPhotos->isEnabled());
    EXPECT_TRUE(dialog->m_lnkSelectFiles->isEnabled());

    // The thumbnail is the photo itself: blue inside, white above the rectangle.
    const QImage thumb = dialog->m_thumbnails.Image(0);
    EXPECT_EQ(thumb.pixelColor(32, 2), QColor(Qt::white));
    EXPECT_GT(thumb.pixelColor(32, 32).blue(), 200);
}

TEST_F(HarvestPassTest, UndecodablePhotoShowsTheFallbackAndKeepsItsOwnPath)
{
    Write("broken.jpg", "not a picture");
    RunPass();
    ASSERT_EQ(Photos(), 1);
    EXPECT_EQ(PhotoPathOfRow(dialog->m_lstPhotos->item(0)), Carved("broken.jpg"));
    const std::optional<QImage> icon = MakeThumbnail(QCoreApplication::applicationDirPath() + "/icon.png");
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(dialog->m_thumbnails.Image(0), *icon);
}

TEST_F(HarvestPassTest, HeaderClicksAlternateAscendingAndDescendingWhateverTheColumn)
{
    Write("b.txt", QByteArray(3000, 'b'));
    Write("a.dat", QByteArray(10, 'a'));
    Write("C.bin", QByteArray(20, 'c'));
    QFile big(Carved("d.mov"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize((4ll << 30) + 1));  // low 32 bits: 1
    big.close();
    RunPass();
    ASSERT_EQ(Files(), 4);

    dialog->OnHeaderClick(0);
    EXPECT_EQ(FileNames(), (QStringList{"C.bin", "a.dat", "b.txt", "d.mov"}));
    dialog->OnHeaderClick(0);
    EXPECT_EQ(FileNames(), (QStringList{"d.mov", "b.txt", "a.dat", "C.bin"}));
    dialog->OnHeaderClick(1);  // the shared flag says ascending again
    EXPECT_EQ(FileNames(), (QStringList{"a.dat", "C.bin", "b.txt", "d.mov"}));
    dialog->OnHeaderClick(2);
    EXPECT_EQ(FileNames(), (QStringList{"b.txt", "d.mov", "a.dat", "C.bin"}));
    // Rows keep their data and their ticks through sorting.
    for (int i = 0; i < Files(); ++i) {
        EXPECT_EQ(ResultItemOfRow(FileRow(i))->fileName, FileRow(i)->text(0));
        EXPECT_EQ(FileRow(i)->checkState(0), Qt::Checked);
    }
}

}  // namespace
