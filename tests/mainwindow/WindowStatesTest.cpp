// What the user meets at each state of the window: the drive page, the end of
// a scan, the ready view, the preview and the program's own boxes. Runs the
// real engine on disk image files.
//
// SNAPMEND_SCREENSHOT_DIR=dir (under xvfb-run, QT_QPA_PLATFORM=xcb) saves the views as i18-*.png.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QThreadPool>
#include <QTimer>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "PhotoPreviewWindow.h"
#include "ResultModels.h"
#include "ResultViews.h"
#include "ScanFixture.h"
#include "UiServices.h"

using namespace snapmend;
using namespace snapmend::test;

namespace {

const QString kNothingFound = "No files were found on this disk.";
const QString kCloseQuestion = "The files found have not been recovered yet; closing deletes them. Are you sure "
                               "you want to exit?";
const QString kCannotRead = "Failed to analyze disk. The disk cannot be read: it may have been removed, or it is "
                            "damaged.\n\nCheck that it is attached, press Refresh and try again.";

bool MakeImageFile(const QString& path, const QStringList& convertArguments)
{
    return QProcess::execute("convert", convertArguments + QStringList{path}) == 0;
}

// A raw disk image holding `files` one after the other at sector boundaries.
bool MakeCard(const QString& image, const QStringList& files, qint64 totalBytes)
{
    QFile card(image);
    if (!card.open(QIODevice::WriteOnly))
        return false;
    qint64 offset = 0;
    for (const QString& file : files) {
        const QByteArray bytes = ReadAll(file);
        card.seek(offset);
        card.write(bytes);
        offset += (bytes.size() + 511) / 512 * 512 + 4096;
    }
    return card.resize(totalBytes);
}

// The whole disk (e.g. /dev/vda) holding `folder`, when it has one.
QString DiskOf(const QString& folder)
{
    struct stat info;
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0)
        return {};
    const QString sys = QStringLiteral("/sys/dev/block/%1:%2").arg(major(info.st_dev)).arg(minor(info.st_dev));
    QString name = QFileInfo(sys).canonicalFilePath();
    if (name.isEmpty())
        return {};
    if (QFile::exists(name + "/partition"))
        name = QFileInfo(name).path();
    const QString node = "/dev/" + QFileInfo(name).fileName();
    return QFile::exists(node) ? node : QString();
}

// Answers as the script says. With SNAPMEND_SCREENSHOT_DIR set, the boxes
// named in `shots` are also shown as the program shows them, and saved.
class ShowingUi : public UiServices {
public:
    explicit ShowingUi(ScriptedUiServices& script) : m_script(script) {}

    int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags) override
    {
        const int answer = m_script.MessageBox(owner, text, caption, flags);
        const auto shot = shots.find(text);
        if (shot == shots.end() || qEnvironmentVariableIsEmpty("SNAPMEND_SCREENSHOT_DIR"))
            return answer;
        QTimer::singleShot(0, [name = shot->second.toUtf8()] {
            Screenshot(name.constData());
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        QtUiServices().MessageBox(owner, text, caption, flags);
        return answer;
    }
    std::optional<QString> BrowseForFolder(QWidget* owner, const QString& title, const QString& start) override
    {
        return m_script.BrowseForFolder(owner, title, start);
    }
    std::optional<QString> BrowseForFile(QWidget* owner, const QString& title, const QString& start,
                                         const QString& filter) override
    {
        return m_script.BrowseForFile(owner, title, start, filter);
    }
    bool OpenWithDefaultHandler(const QString& path) override { return m_script.OpenWithDefaultHandler(path); }

    std::map<QString, QString> shots;  // message text -> screenshot name

private:
    ScriptedUiServices& m_script;
};

class WindowStatesTest : public ScanFixture {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        showing.shots = {{kNothingFound, "i18-no-results-message.png"},
                         {kCannotRead, "i18-cannot-read-message.png"},
                         {kCloseQuestion, "i18-ready-view-close-question.png"}};
        platform.ui = &showing;
        ASSERT_TRUE(InstallEngine(dataHome.path()));
        output = scratch.path() + "/out";
        QFile settings(programFolder.path() + "/settings.ini");
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("savedir=" + output.toUtf8() + "\n");
        // The fallback picture, where the program looks for it.
        ASSERT_TRUE(QFile::copy(BuildDir() + "/icon.png", programFolder.path() + "/icon.png"));
    }
    void TearDown() override
    {
        QThreadPool::globalInstance()->waitForDone();
        ScanFixture::TearDown();
    }

    // Scans a card of `photos` small JPEGs to the ready view.
    std::unique_ptr<MainDialog> ReadyView(int photos)
    {
        const QString image = scratch.path() + "/card.img";
        EXPECT_EQ(MakePhotoImage(image, photos, 1 << 20).size(), size_t(photos));
        auto dialog = OpenOnDrivePage(image);
        SelectFirstDrive(*dialog);
        Ctl(*dialog).btnStart->click();
        EXPECT_TRUE(WaitUntil([&] { return Ctl(*dialog).btnRecover->text() == "Recover" && !dialog->Scan().Running(); },
                              20000));
        EXPECT_EQ(Ctl(*dialog).lstPhotos->Model().Count(), photos);
        return dialog;
    }

    QString output;
    ShowingUi showing{ui};
};

// ---- The drive page ----

TEST_F(WindowStatesTest, DrivePage_TheDataFolderDiskIsScannedWhenTheOutputIsElsewhere)
{
    const QString disk = DiskOf(dataHome.path());
    if (disk.isEmpty())
        GTEST_SKIP() << "the test's data folder lies on no block device here";
    // The output folder elsewhere (a memory file system): the scan data goes there, not to the data folder.
    QTemporaryDir elsewhere("/dev/shm/snapmend-out-XXXXXX");
    if (!elsewhere.isValid() || !DiskOf(elsewhere.path()).isEmpty())
        GTEST_SKIP() << "no folder off the block devices for the output";
    QFile settings(programFolder.path() + "/settings.ini");
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("savedir=" + elsewhere.path().toUtf8() + "\n");
    settings.close();

    auto dialog = OpenOnDrivePage(disk);
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    EXPECT_TRUE(ui.Texts().empty()) << ui.Texts().front().toStdString();
    EXPECT_TRUE(dialog->Scan().Workspace().location.startsWith(elsewhere.path() + "/.snapmend-scans/"));
    ui.QueueAnswer(IDYES);
    dialog->close();
    ASSERT_TRUE(WaitUntil([&] { return !dialog->Scan().Running(); }, 10000));
}

// ---- The end of a scan ----

TEST_F(WindowStatesTest, ScanEnd_NothingListedSaysWhyOnceAndReturnsToTheDrivePage)
{
    struct Case {
        const char* name;
        qint64 imageBytes;  // 0: a folder stands for the disk
        bool cancel;
        std::vector<QString> texts;
    };
    const Case cases[] = {
        {"an empty disk", 4 << 20, false, {kNothingFound}},
        {"a disk that cannot be read", 0, false, {kCannotRead}},
        {"cancelled before anything was found", 24LL << 30, true,
         {"Snapmend is currently analyzing disk, are you sure you want to cancel?",
          "No files were found before the scan was stopped."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui.Clear();
        const QString device = scratch.path() + "/disk-" + QString::number(c.imageBytes);
        if (c.imageBytes > 0)
            ASSERT_TRUE(MakeCard(device, {}, c.imageBytes));
        else
            ASSERT_TRUE(QDir().mkpath(device));
        auto dialog = OpenOnDrivePage(device);
        SelectFirstDrive(*dialog);
        Ctl(*dialog).btnStart->click();
        if (c.cancel) {
            ASSERT_TRUE(WaitUntil([&] { return dialog->Scan().Engine() != nullptr; }, 10000));
            ui.QueueAnswer(IDYES);
            QTest::mouseClick(Ctl(*dialog).btnRecover, Qt::LeftButton);
        }
        ASSERT_TRUE(WaitUntil([&] { return DrivePageShown(*dialog) && !dialog->Scan().Running(); }, 20000));
        EXPECT_EQ(ui.Texts(), c.texts);
        for (QWidget* gone : std::initializer_list<QWidget*>{Ctl(*dialog).btnRecover, Ctl(*dialog).lstPhotos,
                                                             Ctl(*dialog).lstFiles, Ctl(*dialog).lblStatus,
                                                             Ctl(*dialog).lnkSelectPhotos, Ctl(*dialog).lnkSelectFiles})
            EXPECT_FALSE(gone->isVisible()) << gone->objectName().toStdString();
        EXPECT_FALSE(QFileInfo::exists(dialog->Scan().Workspace().root)) << "nothing left to recover";
        if (c.imageBytes == 4 << 20)
            Screenshot("i18-drive-page-after-no-results.png");
        // Start works again from here.
        Ctl(*dialog).btnStart->click();
        EXPECT_TRUE(dialog->Scan().Running() || dialog->Scan().Scanning());
        ui.QueueAnswer(IDYES);  // a slow machine is still scanning: the close asks first
        dialog->close();
        ASSERT_TRUE(WaitUntil([&] { return !dialog->Scan().Running(); }, 10000));
    }
}

TEST_F(WindowStatesTest, ScanEnd_ClosingRightAfterAShortScanAsksBeforeTheResultsAreListed)
{
    const QString image = scratch.path() + "/card.img";
    ASSERT_EQ(MakePhotoImage(image, 3, 1 << 20).size(), 3u);
    auto dialog = OpenOnDrivePage(image);
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return !dialog->Scan().Scanning(); }, 20000));
    const int listed = Ctl(*dialog).lstPhotos->Model().Count();
    ui.QueueAnswer(IDNO);
    EXPECT_FALSE(dialog->close()) << listed << " of 3 photos listed when the window was closed";
    EXPECT_EQ(ui.Texts(), std::vector<QString>({kCloseQuestion}));
    ASSERT_TRUE(WaitUntil([&] { return Ctl(*dialog).btnRecover->text() == "Recover"; }, 20000));
    EXPECT_EQ(Ctl(*dialog).lstPhotos->Model().Count(), 3) << "No kept every result";
}

TEST_F(WindowStatesTest, ScanEnd_AFreshInstallLooksForTheTypesTheDialogShowsTicked)
{
    // The dialog shows .tif ticked on a fresh install: the scan must find a TIFF.
    const QString tiff = scratch.path() + "/scan.tif";
    ASSERT_TRUE(MakeImageFile(tiff, {"-size", "120x90", "-seed", "17", "plasma:olive-cyan", "-compress", "none"}));
    const QString image = scratch.path() + "/card.img";
    ASSERT_TRUE(MakeCard(image, {tiff}, 1 << 20));
    ASSERT_FALSE(QFile::exists(programFolder.path() + "/formats.ini"));
    auto dialog = OpenOnDrivePage(image);
    SelectFirstDrive(*dialog);
    Ctl(*dialog).btnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return Ctl(*dialog).btnRecover->text() == "Recover"; }, 20000));
    ASSERT_EQ(Ctl(*dialog).lstPhotos->Model().Count(), 1) << "the TIFF is listed";
    EXPECT_TRUE(Ctl(*dialog).lstPhotos->Model().PathAt(0).endsWith(".tif"));
    EXPECT_EQ(ReadAll(Ctl(*dialog).lstPhotos->Model().PathAt(0)), ReadAll(tiff));
}

// ---- The ready view ----

TEST_F(WindowStatesTest, ReadyView_ClosingWithResultsNotRecoveredAsksFirst)
{
    auto dialog = ReadyView(2);
    const QString root = dialog->Scan().Workspace().root;
    ui.QueueAnswer(IDNO);
    EXPECT_FALSE(dialog->close());
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text, kCloseQuestion);
    EXPECT_EQ(ui.Boxes()[0].caption, "Confirm");
    EXPECT_EQ(ui.Boxes()[0].flags, unsigned(MB_YESNO | MB_ICONQUESTION));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(QFileInfo::exists(root)) << "No keeps every result";
    EXPECT_EQ(Ctl(*dialog).lstPhotos->Model().Count(), 2);

    ui.QueueAnswer(IDYES);
    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(QFileInfo::exists(root));
}

TEST_F(WindowStatesTest, ReadyView_LinksWithNothingToSelectAreDrawnGreyed)
{
    auto dialog = ReadyView(2);
    Ctl(*dialog).lstPhotos->Model().SetChecked(1, false);
    CStyledLabel* photos = Ctl(*dialog).lnkSelectPhotos;
    CStyledLabel* files = Ctl(*dialog).lnkSelectFiles;
    ASSERT_TRUE(photos->isEnabled());
    ASSERT_FALSE(files->isEnabled()) << "no other file was found";
    auto colours = [](QWidget* w) {
        const QImage image = w->grab().toImage();
        QSet<QRgb> seen;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                seen.insert(image.pixel(x, y) & 0xFFFFFF);
        return seen;
    };
    const QRgb blue = 0x0000B4;
    const QRgb grey = kDisabledTextColor.rgb() & 0xFFFFFF;
    EXPECT_TRUE(colours(photos).contains(blue));
    EXPECT_FALSE(colours(photos).contains(grey));
    EXPECT_FALSE(colours(files).contains(blue)) << "a disabled link must not look like a link";
    EXPECT_TRUE(colours(files).contains(grey));
    EXPECT_NE(files->cursor().shape(), Qt::PointingHandCursor);

    // The unticked box beside the second thumbnail stands out from the list's white.
    PhotoListView* list = Ctl(*dialog).lstPhotos;
    const QRect row = list->visualRect(list->Filter().mapFromSource(list->Model().index(1)));
    const QImage shown = list->viewport()->grab(row).toImage();
    int darkest = 255;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < 20 && x < shown.width(); ++x)
            darkest = std::min(darkest, qGray(shown.pixel(x, y)));
    EXPECT_LT(darkest, 128) << "the frame of an unticked box is plainly visible";
    Screenshot("i18-skin-states.png");
}

TEST_F(WindowStatesTest, ReadyView_RecoverMovesNoFocusFrameOntoThePhotos)
{
    auto dialog = ReadyView(2);
    dialog->activateWindow();
    Ctl(*dialog).btnRecover->setFocus();
    ASSERT_TRUE(WaitUntil([&] { return Ctl(*dialog).btnRecover->hasFocus(); }, 2000));
    QTest::mouseClick(Ctl(*dialog).btnRecover, Qt::LeftButton);
    ASSERT_TRUE(dialog->Timers().IsActive(TIMER_COPY_OUT));
    EXPECT_FALSE(Ctl(*dialog).lstPhotos->hasFocus()) << "the first thumbnail would show a focus frame";
    Screenshot("i18-copying.png");
}

TEST_F(WindowStatesTest, ReadyView_WhenNoProgramOpensTheOutputFolderSaysWhereTheFilesAre)
{
    auto dialog = ReadyView(1);
    ui.SetOpenResult(false);
    ui.QueueAnswer(IDYES);  // "view recovered files?"
    QTest::mouseClick(Ctl(*dialog).btnRecover, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return ui.Boxes().size() == 2; }, 10000));
    EXPECT_EQ(ui.OpenedPaths(), std::vector<QString>({output}));
    ASSERT_EQ(ui.Boxes().size(), 2u);
    EXPECT_EQ(ui.Boxes()[1].text,
              "No program could open the output folder. The recovered files are in:\n\n" + output);
    EXPECT_EQ(QDir(output).entryList(QDir::Files).size(), 1);
}

TEST_F(WindowStatesTest, ReadyView_DoubleClickedThumbnailOpensAPreviewThatStepsThroughTheList)
{
    auto dialog = ReadyView(2);
    PhotoListView* list = Ctl(*dialog).lstPhotos;
    const QPoint centre = list->visualRect(list->Filter().mapFromSource(list->Model().index(0))).center();
    // A user's double click: a press and release, then the second press as a double click.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
    auto* preview = dialog->findChild<PhotoPreviewWindow*>();
    ASSERT_TRUE(preview) << "a double click opens the preview";
    ASSERT_TRUE(WaitUntil([&] { return preview->Ready(); }, 10000));
    auto* picture = preview->findChild<QLabel*>("previewPicture");
    auto* caption = preview->findChild<QLabel*>("previewCaption");
    // The card's two photos are 80 x 60 and 96 x 68 pixels, listed in the order they were decoded.
    const QString name = QFileInfo(list->Model().PathAt(0)).fileName();
    const qint64 bytes = QFileInfo(list->Model().PathAt(0)).size();
    ASSERT_GE(bytes, 1024);
    ASSERT_LT(bytes, 1 << 20);
    const bool smallFirst = picture->pixmap().size() == QSize(80, 60);
    const QSize first = smallFirst ? QSize(80, 60) : QSize(96, 68);
    const QSize second = smallFirst ? QSize(96, 68) : QSize(80, 60);
    auto pixels = [](QSize size) { return QStringLiteral("%1 x %2 pixels").arg(size.width()).arg(size.height()); };
    EXPECT_EQ(caption->text(), QStringLiteral("%1    %2    %3 KB").arg(name, pixels(first)).arg(bytes / 1024.0, 0, 'f', 1));
    EXPECT_EQ(picture->pixmap().size(), first) << "a small photo is not blown up";
    EXPECT_FALSE(preview->isMaximized()) << "the window leaves the results in sight";

    // Next and Previous step through the photos as the list shows them; the ends stop.
    auto* previous = preview->findChild<QPushButton*>("previewPrevious");
    auto* next = preview->findChild<QPushButton*>("previewNext");
    EXPECT_FALSE(previous->isEnabled());
    next->click();
    ASSERT_TRUE(WaitUntil([&] { return preview->Ready(); }, 10000));
    EXPECT_EQ(preview->Current(), 1);
    EXPECT_TRUE(caption->text().contains(pixels(second))) << caption->text().toStdString();
    EXPECT_FALSE(next->isEnabled());
    QTest::keyClick(preview, Qt::Key_Left);
    ASSERT_TRUE(WaitUntil([&] { return preview->Ready(); }, 10000));
    EXPECT_EQ(preview->Current(), 0);
    EXPECT_TRUE(caption->text().contains(pixels(first)));
    QPointer<PhotoPreviewWindow> guard(preview);
    QTest::keyClick(preview, Qt::Key_Escape);
    EXPECT_TRUE(WaitUntil([&] { return guard.isNull(); }, 2000)) << "Escape closes the preview";

    // A photo larger than the window is fitted with its proportions; 100 % shows every pixel.
    const QString large = scratch.path() + "/large.jpg";
    ASSERT_TRUE(MakeImageFile(large, {"-size", "3000x1000", "gradient:red-blue", "-quality", "80"}));
    emit Ctl(*dialog).lstPhotos->photoActivated(large);
    preview = dialog->findChild<PhotoPreviewWindow*>();
    ASSERT_TRUE(preview && WaitUntil([&] { return preview->Ready(); }, 10000));
    const QSize shown = preview->findChild<QLabel*>("previewPicture")->pixmap().size();
    const QSizeF logical = preview->findChild<QLabel*>("previewPicture")->pixmap().deviceIndependentSize();
    EXPECT_LE(logical.width(), preview->width());
    EXPECT_LE(logical.height(), preview->height());
    EXPECT_NEAR(shown.width(), 3 * shown.height(), 3) << "proportions kept";
    EXPECT_TRUE(preview->findChild<QLabel*>("previewCaption")->text().contains("3000 x 1000 pixels"));
    Screenshot("i18-preview.png");
    preview->findChild<QPushButton*>("previewActualSize")->click();
    EXPECT_EQ(preview->findChild<QLabel*>("previewPicture")->pixmap().size(), QSize(3000, 1000));
    preview->findChild<QPushButton*>("previewFit")->click();
    EXPECT_EQ(preview->findChild<QLabel*>("previewPicture")->pixmap().size(), shown);
    guard = preview;

    // A file the decoder rejects: the fallback picture, and a caption that says so.
    const QString broken = scratch.path() + "/broken.jpg";
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(3000, 'x'));
    file.close();
    emit Ctl(*dialog).lstPhotos->photoActivated(broken);
    ASSERT_TRUE(WaitUntil([&] { return guard.isNull(); }, 2000)) << "the next photo replaces the last";
    preview = dialog->findChild<PhotoPreviewWindow*>();
    ASSERT_TRUE(preview && WaitUntil([&] { return preview->Ready(); }, 10000));
    EXPECT_EQ(preview->findChild<QLabel*>("previewCaption")->text(),
              "broken.jpg: this file cannot be shown as a photo (2.9 KB).");
    const QImage fallback(programFolder.path() + "/icon.png");
    ASSERT_FALSE(fallback.isNull());
    EXPECT_EQ(preview->findChild<QLabel*>("previewPicture")->pixmap().toImage().convertToFormat(fallback.format()),
              fallback);
    Screenshot("i18-preview-broken.png");
    preview->close();
}

TEST_F(WindowStatesTest, ReadyView_OtherFilesPreviewAsTextOrAsTheirFirstPage)
{
    auto dialog = ReadyView(1);
    auto open = [&](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        emit Ctl(*dialog).lstFiles->fileActivated(path);
        // The last one made: a closed one may wait for its deletion still.
        auto* preview = dialog->findChildren<PhotoPreviewWindow*>().last();
        EXPECT_TRUE(preview && WaitUntil([&] { return preview->Ready(); }, 10000));
        return preview;
    };
    // A text: its head only, control bytes made visible.
    auto* preview = open(scratch.path() + "/notes.txt", "line one\nline two\x01\n" + QByteArray(20000, 'a'));
    ASSERT_TRUE(preview);
    const QString text = preview->findChild<QPlainTextEdit*>("previewText")->toPlainText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("line one\nline two\uFFFD\naaa")));
    EXPECT_EQ(text.size(), 8192) << "the first 8 KiB";
    EXPECT_EQ(preview->findChild<QLabel*>("previewCaption")->text(), "notes.txt    first 8.0 KB of 19.5 KB");
    preview->close();

    // A PDF: its first page, proportions kept, the black square drawn.
    const QByteArray content = "0 0 0 rg 20 20 60 60 re f\n";
    const QByteArray objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream"};
    QByteArray pdf = "%PDF-1.4\n";
    QByteArray xref = "xref\n0 5\n0000000000 65535 f \n";
    for (int i = 0; i < 4; ++i) {
        xref += QByteArray::number(pdf.size()).rightJustified(10, '0') + " 00000 n \n";
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const QByteArray start = QByteArray::number(pdf.size());
    pdf += xref + "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + start + "\n%%EOF\n";
    preview = open(scratch.path() + "/f100.pdf", pdf);
    ASSERT_TRUE(preview);
    const QImage page = preview->findChild<QLabel*>("previewPicture")->pixmap().toImage();
    ASSERT_FALSE(page.isNull()) << preview->findChild<QLabel*>("previewCaption")->text().toStdString();
    EXPECT_NEAR(page.width(), 2 * page.height(), 3);
    EXPECT_EQ(qGray(page.pixel(page.width() / 4, page.height() / 2)), 0) << "inside the square";
    EXPECT_EQ(qGray(page.pixel(page.width() * 3 / 4, page.height() / 2)), 255) << "beside it";
    EXPECT_TRUE(preview->findChild<QLabel*>("previewCaption")->text().startsWith("f100.pdf    first page"));
    Screenshot("i18-preview-pdf.png");
    preview->close();

    // Neither: said so.
    preview = open(scratch.path() + "/f7.bin", QByteArray("\0\1\2\3", 4));
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->findChild<QLabel*>("previewCaption")->text(),
              "f7.bin: no preview for this kind of file (4 bytes).");
    preview->close();
}

// ---- The program's boxes ----

TEST(WindowBoxesTest, MessageTextIsSelectableAndTheCaptionFits)
{
    QtUiServices real;
    int width = 0;
    Qt::TextInteractionFlags flags;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        width = box->width();
        if (auto* label = box->findChild<QLabel*>("qt_msgbox_label"))
            flags = label->textInteractionFlags();
        Screenshot("i18-help-not-found.png");
        box->accept();
    });
    real.MessageBox(nullptr, "Help file is not found.", "Snapmend", MB_OK);
    EXPECT_TRUE(flags & Qt::TextSelectableByMouse) << "a path in a message can be copied";
    const int caption = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance("Snapmend");
    EXPECT_GE(width, caption + 150) << "room for the whole caption beside the title bar's buttons";
}

}  // namespace
