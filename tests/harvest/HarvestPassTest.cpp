// The harvest pass over a real workspace folder, and the window's side of it:
// the ready view after a scan and the sortable other-files list.
#include <QCoreApplication>
#include <QHeaderView>
#include <QTest>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "HarvestPass.h"
#include "ResultRows.h"
#include "ScanFixture.h"
#include "Thumbnail.h"

using namespace snapmend;
using namespace snapmend::test;

namespace {

class HarvestPassTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(workspace.isValid());
        ASSERT_TRUE(QDir(workspace.path()).mkpath(QStringLiteral("temp")));
        QObject::connect(&pass, &HarvestPass::fileFound,
                         [this](const QString& path, quint64 size) { files[path] = size; order << path; });
        QObject::connect(&pass, &HarvestPass::photoFound, [this](const QImage& thumb, const QString& path, int row) {
            photos.push_back({thumb, path, row});
            order << path;
        });
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

    // A whole pass; returns the steps taken.
    int RunPass(bool engineRunning = true)
    {
        if (!pass.Begin(workspace.path(), engineRunning, static_cast<int>(photos.size())))
            return 0;
        int steps = 0;
        while (!pass.AtEnd() && steps < 10000) {
            pass.Step();
            ++steps;
        }
        return steps;
    }

    struct Photo {
        QImage thumbnail;
        QString path;
        int row;
    };
    QTemporaryDir workspace;
    HarvestPass pass{QCoreApplication::applicationDirPath() + "/icon.png"};
    std::map<QString, quint64> files;
    std::vector<Photo> photos;
    QStringList order;
};

TEST_F(HarvestPassTest, AnEmptyWorkspaceHasNoPassAndEachStepTakesOneEntry)
{
    EXPECT_FALSE(pass.Begin(workspace.path(), true, 0));
    EXPECT_TRUE(pass.AtEnd());

    Write("a.dat", "1");
    Write("b.dat", "2");
    ASSERT_TRUE(pass.Begin(workspace.path(), true, 0));
    EXPECT_TRUE(pass.EngineRanAtBegin());
    pass.Step();
    EXPECT_EQ(files.size(), 1u);
    EXPECT_FALSE(pass.AtEnd());
    pass.Step();
    EXPECT_EQ(files.size(), 2u);
    EXPECT_TRUE(pass.AtEnd());

    // A cancelled pass has nothing left.
    ASSERT_TRUE(pass.Begin(workspace.path(), false, 0));
    EXPECT_FALSE(pass.EngineRanAtBegin());
    pass.Cancel();
    EXPECT_TRUE(pass.AtEnd());
}

TEST_F(HarvestPassTest, FileHeldByAWriterIsSkippedAndReportedInALaterPass)
{
    Write("f100.dat", QByteArray(2048, 'x'));
    const int writer = ::open(Carved("f100.dat").toLocal8Bit().constData(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX | LOCK_NB), 0);

    EXPECT_EQ(RunPass(), 1);
    EXPECT_TRUE(files.empty());

    ::close(writer);  // the engine finished the file
    RunPass();
    EXPECT_EQ(files, (std::map<QString, quint64>{{Carved("f100.dat"), 2048}}));
}

TEST_F(HarvestPassTest, SameFileIsNeverReportedTwiceOverManyPassesUntilTheRowsAreGone)
{
    Write("one.txt", "1");
    WritePicture("two.jpg", 40, 30, Qt::red);
    for (int pass = 0; pass < 6; ++pass)
        EXPECT_EQ(RunPass(), 2) << "pass " << pass;
    EXPECT_EQ(order.size(), 2);
    // The rows emptied with the window's results: reported again, once.
    pass.ForgetReported();
    RunPass();
    RunPass();
    EXPECT_EQ(order.size(), 4);
}

TEST_F(HarvestPassTest, PhotosBecomeNumberedThumbnailsAndOtherFilesSizedRows)
{
    WritePicture("PHOTO.JPG", 640, 480, Qt::blue);
    Write("photo.jpe", QByteArray(10, 'j'));
    Write("noext", QByteArray());
    QFile big(Carved("movie.mov"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(5ll << 30));  // sparse 5 GiB
    big.close();
    photos.resize(2);  // two thumbnails are already shown
    RunPass(false);

    ASSERT_EQ(photos.size(), 3u);
    EXPECT_EQ(photos[2].path, Carved("PHOTO.JPG"));
    EXPECT_EQ(photos[2].row, 2);
    // The thumbnail is the photo itself: blue inside, white above the rectangle.
    EXPECT_EQ(photos[2].thumbnail.pixelColor(32, 2), QColor(Qt::white));
    EXPECT_GT(photos[2].thumbnail.pixelColor(32, 32).blue(), 200);

    ASSERT_EQ(files.size(), 3u);
    // The rows the window makes of them: name, size, extension, ticked.
    std::map<QString, QStringList> rows;
    for (const auto& [path, size] : files) {
        std::unique_ptr<ResultRow> row(MakeFileRow(path, size));
        rows[row->text(0)] = {row->text(1), row->text(2)};
        EXPECT_EQ(row->checkState(0), Qt::Checked);
        EXPECT_EQ(ResultItemOfRow(row.get())->fullPath, path);
    }
    EXPECT_EQ(rows["photo.jpe"], (QStringList{"10 bytes", "jpe"}));
    EXPECT_EQ(rows["noext"], (QStringList{"unknown", ""}));
    EXPECT_EQ(rows["movie.mov"], (QStringList{"5.0 GB", "mov"}));
}

TEST_F(HarvestPassTest, UndecodablePhotoShowsTheFallbackAndKeepsItsOwnPath)
{
    Write("broken.jpg", "not a picture");
    RunPass();
    ASSERT_EQ(photos.size(), 1u);
    EXPECT_EQ(photos[0].path, Carved("broken.jpg"));
    const std::optional<QImage> icon = MakeThumbnail(QCoreApplication::applicationDirPath() + "/icon.png");
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(photos[0].thumbnail, *icon);
}

// The window after a scan that found one photo and no other file: the ready
// view, with nothing to select among the other files.
TEST_F(ScanFixture, AScanThatFindsOnlyAPhotoEndsInTheReadyViewWithTheFilesLinkOff)
{
    ASSERT_TRUE(InstallEngine(dataHome.path()));
    const QString image = scratch.path() + "/card.img";
    ASSERT_EQ(MakePhotoImage(image, 1, 1 << 20).size(), 1u);
    auto dialog = OpenOnDrivePage(image);
    SelectFirstDrive(*dialog);
    dialog->OnStart();
    const WindowControls c(*dialog);
    ASSERT_TRUE(WaitUntil([&] { return c.btnRecover->text() == "Recover"; }, 20000));
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_POLL_WORKSPACE));
    EXPECT_FALSE(dialog->Timers().IsActive(TIMER_HARVEST));
    EXPECT_EQ(c.lblStatus->text(), "Press 'Recover' to recover files detected.");
    EXPECT_TRUE(c.lblStatus->isVisible());
    EXPECT_TRUE(c.lnkSelectPhotos->isVisible());
    EXPECT_TRUE(c.lnkSelectFiles->isVisible());
    EXPECT_TRUE(c.lnkSelectPhotos->isEnabled());
    EXPECT_FALSE(c.lnkSelectFiles->isEnabled());
    EXPECT_EQ(c.lnkSelectPhotos->text(), "Unselect All Photos");
    EXPECT_EQ(c.lnkSelectFiles->text(), "Unselect All Files");
    EXPECT_TRUE(c.btnRecover->isVisible());
    EXPECT_TRUE(c.lblProgress->isHidden());
    EXPECT_EQ(c.lblProgress->geometry().bottom() + 6, c.progress->geometry().top()) << "back above the bar";
    EXPECT_TRUE(ui.Boxes().empty());

    // Header clicks alternate ascending and descending, whatever the column.
    const QString temp = scratch.path() + "/";
    for (auto [name, size] : {std::pair{"b.txt", 3000ull}, {"a.dat", 10ull}, {"C.bin", 20ull},
                              {"d.mov", (4ull << 30) + 1}})  // low 32 bits: 1
        c.lstFiles->addTopLevelItem(MakeFileRow(temp + name, size));
    auto names = [&] {
        QStringList out;
        for (int i = 0; i < c.lstFiles->topLevelItemCount(); ++i)
            out << c.lstFiles->topLevelItem(i)->text(0);
        return out;
    };
    // The header's arrow shows the column and the order the rows are in.
    QHeaderView* header = c.lstFiles->header();
    auto arrow = [&] { return std::pair{header->sortIndicatorSection(), header->sortIndicatorOrder()}; };
    EXPECT_FALSE(header->isSortIndicatorShown()) << "no arrow before the first sort";
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(0) + 20, 5));
    EXPECT_EQ(names(), (QStringList{"C.bin", "a.dat", "b.txt", "d.mov"}));
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(arrow(), std::pair(0, Qt::AscendingOrder));
    dialog->OnHeaderClick(0);
    EXPECT_EQ(names(), (QStringList{"d.mov", "b.txt", "a.dat", "C.bin"}));
    EXPECT_EQ(arrow(), std::pair(0, Qt::DescendingOrder));
    dialog->OnHeaderClick(1);  // the shared flag says ascending again
    EXPECT_EQ(names(), (QStringList{"a.dat", "C.bin", "b.txt", "d.mov"}));
    EXPECT_EQ(arrow(), std::pair(1, Qt::AscendingOrder));
    dialog->OnHeaderClick(2);
    EXPECT_EQ(names(), (QStringList{"b.txt", "d.mov", "a.dat", "C.bin"}));
    EXPECT_EQ(arrow(), std::pair(2, Qt::DescendingOrder));
    for (int i = 0; i < c.lstFiles->topLevelItemCount(); ++i) {
        EXPECT_EQ(ResultItemOfRow(c.lstFiles->topLevelItem(i))->fileName, c.lstFiles->topLevelItem(i)->text(0));
        EXPECT_EQ(c.lstFiles->topLevelItem(i)->checkState(0), Qt::Checked);
    }
}

}  // namespace
