// The harvest pass over a real workspace folder, and the window's side of it:
// the ready view after a scan and the sortable other-files list.
#include <QCoreApplication>
#include <QHeaderView>
#include <QTest>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "CopyOutRun.h"
#include "DecodeBudget.h"
#include "HarvestPass.h"
#include "HostilePictures.h"
#include "PhotoPreview.h"
#include "ResultViews.h"
#include "ScanFixture.h"
#include "Thumbnail.h"
#include "WorkspaceFile.h"
#include "WorkspaceWalk.h"

using namespace snapmend;
using namespace snapmend::test;

namespace {

class HarvestPassTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(workspace.isValid());
        ASSERT_TRUE(QDir(workspace.path()).mkpath(QStringLiteral("temp")));
        QObject::connect(&pass, &HarvestPass::filesFound, [this](const std::vector<FoundFile>& found) {
            for (const FoundFile& file : found) {
                files[file.path] = file.size;
                order << file.path;
                fileOrder << file.path;
            }
        });
        QObject::connect(&pass, &HarvestPass::photosFound, [this](const std::vector<FoundPhoto>& found, int row) {
            for (const FoundPhoto& photo : found) {
                photos.push_back({photo.thumbnail, photo.path, row++});
                order << photo.path;
            }
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

    // Steps until the pass has handed out everything, as the window's ticks do.
    void Finish()
    {
        for (int i = 0; i < 10000 && !pass.AtEnd(); ++i) {
            pass.Step();
            if (!pass.AtEnd())
                QThread::msleep(1);
        }
        ASSERT_TRUE(pass.AtEnd());
    }

    // A whole pass; returns the number of results it reported.
    int RunPass(bool engineRunning = true)
    {
        const qsizetype before = order.size();
        if (pass.Begin(workspace.path(), engineRunning, static_cast<int>(photos.size())))
            Finish();
        return static_cast<int>(order.size() - before);
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
    QStringList order;      // photos and files as they came
    QStringList fileOrder;  // the files alone
};

TEST_F(HarvestPassTest, AnEmptyWorkspaceHasNoPassAndResultsComeInWalkOrder)
{
    EXPECT_FALSE(pass.Begin(workspace.path(), true, 0));
    EXPECT_TRUE(pass.AtEnd());

    // Photos decode on the workers at different speeds; the rows still come in walk order.
    for (int i = 0; i < 24; ++i) {
        const QString name = QString("f%1.%2").arg(i).arg(i % 3 == 0 ? "dat" : "jpg");
        if (i % 3 == 0)
            Write(name, QByteArray(i + 1, 'x'));
        else
            WritePicture(name, i % 2 ? 2400 : 40, i % 2 ? 1600 : 30, Qt::green);
    }
    ASSERT_TRUE(pass.Begin(workspace.path(), true, 0));
    EXPECT_TRUE(pass.EngineRanAtBegin());
    Finish();
    EXPECT_EQ(order.size(), 24);
    QStringList listed;
    CollectWorkspaceFiles(workspace.path(), listed);
    QStringList photoOrder;
    for (const Photo& photo : photos)
        photoOrder << photo.path;
    EXPECT_EQ(photoOrder, listed.filter(QRegularExpression("\\.jpg$")));
    EXPECT_EQ(fileOrder, listed.filter(QRegularExpression("\\.dat$")));
    for (size_t i = 0; i < photos.size(); ++i)
        EXPECT_EQ(photos[i].row, static_cast<int>(i));

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

    EXPECT_EQ(RunPass(), 0);
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
        EXPECT_EQ(RunPass(), pass == 0 ? 2 : 0) << "pass " << pass;
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
    FileResultModel model;
    for (const auto& [path, size] : files) {
        const int row = model.Append(path, size);
        auto text = [&](int column) { return model.index(row, column).data().toString(); };
        rows[text(0)] = {text(1), text(2)};
        EXPECT_EQ(model.index(row, 0).data(Qt::CheckStateRole), Qt::Checked);
        EXPECT_EQ(model.index(row, 0).data(Qt::UserRole).toString(), path);
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

// Pictures whose headers declare gigapixels stay listed with the fallback
// thumbnail, and the preview says they are too large; ordinary pictures of the
// same formats get their own thumbnails.
TEST_F(HarvestPassTest, PicturesBeyondTheDecodeBudgetShowTheFallbackAndStayListed)
{
    const QString iconPath = QCoreApplication::applicationDirPath() + "/icon.png";
    const std::optional<QImage> icon = MakeThumbnail(iconPath);
    ASSERT_TRUE(icon.has_value());
    const std::vector<NamedPicture> pictures = HostileAndOrdinaryPictures();
    for (const NamedPicture& picture : pictures) {
        ASSERT_FALSE(picture.bytes.isEmpty()) << picture.name.toStdString();
        Write(picture.name, picture.bytes);
    }
    RunPass();
    ASSERT_EQ(photos.size(), pictures.size());
    std::map<QString, QImage> thumbnails;
    for (const Photo& photo : photos)
        thumbnails[photo.path] = photo.thumbnail;
    for (const NamedPicture& picture : pictures) {
        SCOPED_TRACE(picture.name.toStdString());
        const QImage& thumbnail = thumbnails[Carved(picture.name)];
        ASSERT_FALSE(thumbnail.isNull());
        if (picture.colour.isValid()) {
            EXPECT_NE(thumbnail, *icon);
            const QColor centre = thumbnail.pixelColor(32, 32);
            EXPECT_NEAR(centre.red(), picture.colour.red(), 8);
            EXPECT_NEAR(centre.green(), picture.colour.green(), 8);
            EXPECT_NEAR(centre.blue(), picture.colour.blue(), 8);
            continue;
        }
        EXPECT_EQ(thumbnail, *icon);
        const PhotoPreview preview = DecodePhotoPreview(Carved(picture.name), QSize(1200, 800), iconPath);
        EXPECT_FALSE(preview.decoded);
        EXPECT_TRUE(preview.tooLarge);
        EXPECT_EQ(PreviewCaption(preview), picture.name + " is too large to show.");
    }
    EXPECT_EQ(DecodeBudget::Shared().InUse(), 0u) << "every grant is given back";
}

// Writes `relative` below the open folder `dir` by descriptors, making its
// folders: a path past PATH_MAX cannot be written otherwise.
bool WriteBelow(int dir, const QByteArray& relative, const QByteArray& content)
{
    const QList<QByteArray> parts = relative.split('/');
    UniqueFd folder(::dup(dir));
    for (qsizetype i = 0; i + 1 < parts.size() && folder.valid(); ++i) {
        ::mkdirat(folder.get(), parts[i].constData(), 0700);
        folder = UniqueFd(::openat(folder.get(), parts[i].constData(), O_RDONLY | O_DIRECTORY));
    }
    if (!folder.valid())
        return false;
    UniqueFd file(::openat(folder.get(), parts.last().constData(), O_WRONLY | O_CREAT | O_EXCL, 0600));
    return file.valid() && ::write(file.get(), content.constData(), content.size()) == content.size();
}

QByteArray ReadAll(const UniqueFd& fd)
{
    QByteArray bytes;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd.get(), buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    return bytes;
}

// Names no engine should write any more, written anyway: whatever bytes a
// name holds and however deep the file lies, the window lists it, shows its
// name as text, reads it and copies it out byte for byte. The engine's
// bookkeeping is not listed; a file left unlisted keeps the workspace.
TEST_F(HarvestPassTest, EveryFileInTheWorkspaceIsListedReadAndCopiedWhateverItsName)
{
    QByteArray deep;
    for (int depth = 0; depth < 25; ++depth)
        deep += QByteArray::number(depth) + '-' + QByteArray(198, 'd') + '/';
    const QByteArray halfCut = QByteArray("\xC3\xA9").repeated(99) + "\xC3.jpg";  // a name cut inside a character
    const QByteArray names[] = {
        halfCut,
        "\xEF\xBB\xBFIMG_1.JPG",
        "photo\xE2\x80\xAEgpj.exe.jpg",
        "latin1-\xE9t\xE9.dat",
        ".hidden.jpg",
        deep + "deep.jpg",
    };
    const UniqueFd temp(::open(QFile::encodeName(Carved(QString())).constData(), O_RDONLY | O_DIRECTORY));
    ASSERT_TRUE(temp.valid());
    std::map<QByteArray, QByteArray> written;  // name -> content
    for (const QByteArray& name : names) {
        const QByteArray content = "content of " + name.toHex();
        ASSERT_TRUE(WriteBelow(temp.get(), name, content)) << name.toHex().toStdString();
        written[name] = content;
    }
    ASSERT_TRUE(WriteBelow(temp.get(), ".snapmend/report.xml", "<dfxml/>"));
    RunPass();

    ASSERT_EQ(order.size(), static_cast<qsizetype>(std::size(names))) << order.join(" | ").toStdString();
    const QString prefix = Carved(QString());
    std::map<QByteArray, QByteArray> listed;
    for (const QString& path : order) {
        const QByteArray relative = BytesOfPath(path).mid(BytesOfPath(prefix).size());
        const UniqueFd fd = OpenWorkspaceFile(path);
        ASSERT_TRUE(fd.valid()) << relative.toHex().toStdString();
        listed[relative] = ReadAll(fd);
        const QString shown = MakeResultItem(path, 0).fileName;
        EXPECT_TRUE(shown.isValidUtf16()) << "shown as text";
    }
    EXPECT_EQ(listed, written);
    EXPECT_EQ(MakeResultItem(Carved(QString::fromUtf8("x/bad\xEF\xBF\xBD.jpg")), 0).fileName,
              MakeResultItem(PathFromBytes(BytesOfPath(prefix) + "x/bad\xFF.jpg"), 0).fileName);

    // Copied out byte for byte, each under a name that is text.
    QTemporaryDir target;
    CopyOutRun copy;
    copy.Begin(std::vector<QString>(order.begin(), order.end()));
    copy.Start(target.path());
    for (int i = 0; i < 6000 && !copy.Finished(); ++i)
        QThread::msleep(5);
    ASSERT_TRUE(copy.Finished());
    EXPECT_EQ(copy.Report().text.left(20), QStringLiteral("6 files recovered.\n\n"));
    std::multiset<QByteArray> copiedContents, writtenContents;
    for (const auto& entry : written)
        writtenContents.insert(entry.second);
    for (const QString& name : QDir(target.path()).entryList(QDir::Files | QDir::Hidden)) {
        QFile file(target.path() + '/' + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        copiedContents.insert(file.readAll());
    }
    EXPECT_EQ(copiedContents, writtenContents);

    // With every file listed nothing is left behind; one unlisted file is named in the report.
    const QSet<QString> all(order.begin(), order.end());
    EXPECT_TRUE(UnlistedWorkspaceFiles(workspace.path(), all).isEmpty());
    QSet<QString> allButOne = all;
    allButOne.remove(order.last());
    EXPECT_EQ(UnlistedWorkspaceFiles(workspace.path(), allButOne), QStringList{order.last()});
    DeleteFolderTree(Carved(QString()), false);  // too deep for QTemporaryDir
    EXPECT_EQ(WithUnlistedFilesKept("6 files recovered.\n\nDo you want to view recovered files?", 1, "/ws"),
              "6 files recovered.\n\n1 more files found by the scan could not be listed; they are kept in /ws.\n\n"
              "Do you want to view recovered files?");
}

// After a long listing the next one runs on a worker: the pass still reports
// only what is new.
TEST_F(HarvestPassTest, ALongWorkspaceIsListedOnAWorkerWithTheSameResults)
{
    for (int i = 0; i < 2100; ++i)
        Write(QString("f%1.dat").arg(i), "x");
    EXPECT_EQ(RunPass(), 2100);
    Write("late.dat", "y");
    WritePicture("late.jpg", 40, 30, Qt::red);
    ASSERT_TRUE(pass.Begin(workspace.path(), true, static_cast<int>(photos.size())));
    Finish();
    QStringList listed;
    CollectWorkspaceFiles(workspace.path(), listed);
    QStringList late;
    for (const QString& path : listed)
        if (path.contains("/late."))
            late << path;
    ASSERT_EQ(order.size(), 2102);
    QStringList reported = order.mid(2100);
    reported.sort();
    late.sort();
    EXPECT_EQ(reported, late) << "only the new files, once each";
    EXPECT_EQ(photos.back().row, 0);
}

// Large photos keep the workers busy long enough for the pass to move on under them.
TEST_F(HarvestPassTest, WorkersFinishingAfterACancelOrADestroyedPassReportNothing)
{
    for (int i = 0; i < 8; ++i)
        WritePicture(QString("big%1.jpg").arg(i), 3000, 2000, QColor::fromHsv(i * 40, 200, 200));
    ASSERT_TRUE(pass.Begin(workspace.path(), true, 0));
    pass.WaitForWorkers();  // the listing
    pass.Step();            // the workers take every photo
    pass.Cancel();
    EXPECT_TRUE(pass.AtEnd());
    pass.WaitForWorkers();
    pass.Step();
    EXPECT_TRUE(order.isEmpty()) << "a job finished after the cancel is dropped";

    // The next pass reports each photo once, numbered from the rows shown.
    EXPECT_EQ(RunPass(false), 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(photos[static_cast<size_t>(i)].row, i);

    // A pass destroyed while its workers decode waits for them; nothing is reported.
    auto doomed = std::make_unique<HarvestPass>(QString());
    int reported = 0;
    QObject::connect(doomed.get(), &HarvestPass::photosFound, [&] { ++reported; });
    ASSERT_TRUE(doomed->Begin(workspace.path(), false, 0));
    doomed->WaitForWorkers();
    doomed->Step();
    doomed.reset();
    EXPECT_EQ(reported, 0);
}

TEST_F(HarvestPassTest, FilesRemovedBetweenListingAndDecodingAreNotListed)
{
    for (int i = 0; i < 40; ++i) {
        const QString name = QString("f%1.%2").arg(i).arg(i % 4 ? "jpg" : "txt");
        if (i % 4)
            WritePicture(name, 1600, 1200, Qt::red);
        else
            Write(name, "t");
    }
    ASSERT_TRUE(pass.Begin(workspace.path(), false, 0));
    pass.WaitForWorkers();  // the listing
    pass.Step();            // some are examined already, some decoding, some still queued
    const QStringList shownBefore = order;
    for (int i = 0; i < 40; i += 2)
        ASSERT_TRUE(QFile::remove(Carved(QString("f%1.%2").arg(i).arg(i % 4 ? "jpg" : "txt"))));
    Finish();
    QStringList shownAfter = order.mid(shownBefore.size());
    for (const QString& path : shownAfter)
        EXPECT_TRUE(QFile::exists(path)) << path.toStdString() << " was removed before its row was shown";
    for (int i = 1; i < 40; i += 2)
        EXPECT_EQ(order.count(Carved(QString("f%1.jpg").arg(i))), 1) << i;
    for (const Photo& photo : photos)
        EXPECT_GT(photo.thumbnail.pixelColor(32, 32).red(), 200) << "its own picture, not the fallback";
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
    Ctl(*dialog).btnStart->click();
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

    // Header clicks alternate ascending and descending, whatever the column;
    // the check boxes move with their rows.
    const QString temp = scratch.path() + "/";
    FileResultModel& model = c.lstFiles->Model();
    for (auto [name, size] : {std::pair{"b.txt", 3000ull}, {"a.dat", 10ull}, {"C.bin", 20ull},
                              {"d.mov", (4ull << 30) + 1}})  // low 32 bits: 1
        model.Append(temp + name, size);
    model.setData(model.index(1, 0), Qt::Unchecked, Qt::CheckStateRole);  // a.dat
    auto rows = [&] {
        QStringList out;
        for (int i = 0; i < model.rowCount(); ++i) {
            const QModelIndex first = model.index(i, 0);
            out << first.data().toString() + (first.data(Qt::CheckStateRole) == Qt::Checked ? "" : " -");
            EXPECT_EQ(first.data(Qt::UserRole).toString(), temp + first.data().toString());
        }
        return out;
    };
    // The header's arrow shows the column and the order the rows are in.
    QHeaderView* header = c.lstFiles->header();
    auto arrow = [&] { return std::pair{header->sortIndicatorSection(), header->sortIndicatorOrder()}; };
    EXPECT_FALSE(header->isSortIndicatorShown()) << "no arrow before the first sort";
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(0) + 20, 5));
    EXPECT_EQ(rows(), (QStringList{"C.bin", "a.dat -", "b.txt", "d.mov"}));
    EXPECT_TRUE(header->isSortIndicatorShown());
    EXPECT_EQ(arrow(), std::pair(0, Qt::AscendingOrder));
    emit Ctl(*dialog).lstFiles->header()->sectionClicked(0);
    EXPECT_EQ(rows(), (QStringList{"d.mov", "b.txt", "a.dat -", "C.bin"}));
    EXPECT_EQ(arrow(), std::pair(0, Qt::DescendingOrder));
    emit Ctl(*dialog).lstFiles->header()->sectionClicked(1);  // the shared flag says ascending again
    EXPECT_EQ(rows(), (QStringList{"a.dat -", "C.bin", "b.txt", "d.mov"}));
    EXPECT_EQ(arrow(), std::pair(1, Qt::AscendingOrder));
    emit Ctl(*dialog).lstFiles->header()->sectionClicked(2);
    EXPECT_EQ(rows(), (QStringList{"b.txt", "d.mov", "a.dat -", "C.bin"}));
    EXPECT_EQ(arrow(), std::pair(2, Qt::DescendingOrder));
    // What Recover copies follows the ticks, not the rows' positions.
    EXPECT_EQ(model.CheckedPaths(), (std::vector<QString>{temp + "b.txt", temp + "d.mov", temp + "C.bin"}));
    // A click on the view's check box ticks the row under it.
    c.lstFiles->show();
    const QModelIndex aDat = model.index(2, 0);
    QStyleOptionViewItem option;
    option.initFrom(c.lstFiles);
    option.rect = c.lstFiles->visualRect(c.lstFiles->Filter().mapFromSource(aDat));
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = c.lstFiles->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, c.lstFiles);
    QTest::mouseClick(c.lstFiles->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(aDat.data(Qt::CheckStateRole), Qt::Checked);

    // A double-clicked photo tells its workspace path (the preview opens on it).
    c.lstPhotos->show();
    c.lstPhotos->Model().Insert(-1, temp + "p.jpg", QImage(64, 64, QImage::Format_RGB888));
    QStringList activated;
    QObject::connect(c.lstPhotos, &PhotoListView::photoActivated, [&](const QString& path) { activated << path; });
    c.lstPhotos->doItemsLayout();
    const QModelIndex last = c.lstPhotos->Model().index(c.lstPhotos->Model().Count() - 1);
    const QPoint photo = c.lstPhotos->visualRect(c.lstPhotos->Filter().mapFromSource(last)).center();
    ASSERT_TRUE(c.lstPhotos->viewport()->rect().contains(photo));
    QTest::mouseClick(c.lstPhotos->viewport(), Qt::LeftButton, {}, photo);  // a double click begins with one
    QTest::mouseDClick(c.lstPhotos->viewport(), Qt::LeftButton, {}, photo);
    EXPECT_EQ(activated, QStringList{temp + "p.jpg"});
}

}  // namespace
