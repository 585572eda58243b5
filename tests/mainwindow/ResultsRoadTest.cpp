// One road through the results page with the real engine: scan a card, go
// back to the drive page and return, filter, preview, recover half, then the
// other half into the same folder.
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <algorithm>

#include "ControlIds.h"
#include "PhotoPreviewWindow.h"
#include "ScanFixture.h"

using namespace snapmend;
using namespace snapmend::test;

namespace {

std::vector<QByteArray> Contents(const QString& folder)
{
    std::vector<QByteArray> contents;
    for (const QString& name : QDir(folder).entryList(QDir::Files))
        contents.push_back(ReadAll(folder + "/" + name));
    std::sort(contents.begin(), contents.end());
    return contents;
}

}  // namespace

TEST_F(ScanFixture, ResultsStayThroughBackAndForthFilteringPreviewAndTwoRecoveries)
{
    ASSERT_TRUE(InstallEngine(dataHome.path()));
    const QString image = scratch.path() + "/card.img";
    std::vector<QByteArray> photos = MakePhotoImage(image, 6, 4 << 20);
    ASSERT_EQ(photos.size(), 6u);
    std::sort(photos.begin(), photos.end());
    {  // and a note, for the other-files list
        QFile card(image);
        ASSERT_TRUE(card.open(QIODevice::ReadWrite) && card.seek(3 << 20));
        card.write(QByteArray("Meeting notes\nBring the camera and the spare card.\n").repeated(40));
    }
    const QString output = scratch.path() + "/recovered";
    ASSERT_TRUE(ChooseFormats("jpg,txt"));
    auto dialog = OpenOnDrivePage(image);
    const WindowControls c(*dialog);
    c.edtOutputDir->setText(output);
    SelectFirstDrive(*dialog);
    c.btnStart->click();
    ASSERT_TRUE(WaitUntil([&] { return dialog->View() == WindowView::Results && !dialog->Scan().Running(); }, 60000));
    PhotoResultModel& model = c.lstPhotos->Model();
    ASSERT_EQ(model.Count(), 6);
    FileResultModel& files = c.lstFiles->Model();
    ASSERT_EQ(files.Count(), 1);
    auto* counts = dialog->findChild<CStyledLabel*>(QStringLiteral("control%1").arg(IDC_COUNTS));
    EXPECT_EQ(counts->text(), "6 photos, 1 other file");
    Screenshot("results-page.png");
    EXPECT_TRUE(c.edtOutputDir->isVisible() && c.btnBrowse->isVisible()) << "the output folder on the results page";
    const QString workspace = dialog->Scan().Workspace().root;

    // Back to the drive page and return: the same results, nothing asked, nothing rescanned.
    dialog->findChild<QPushButton*>(QStringLiteral("control%1").arg(IDC_BACK_TO_DRIVES))->click();
    EXPECT_EQ(dialog->View(), WindowView::DrivePage);
    EXPECT_TRUE(DrivePageShown(*dialog));
    Screenshot("results-back-on-drive-page.png");
    EXPECT_FALSE(c.lstPhotos->isVisible());
    dialog->findChild<QPushButton*>(QStringLiteral("control%1").arg(IDC_BACK_TO_RESULTS))->click();
    EXPECT_EQ(dialog->View(), WindowView::Results);
    EXPECT_EQ(model.Count(), 6);
    EXPECT_EQ(dialog->Scan().Workspace().root, workspace);
    EXPECT_TRUE(ui.Boxes().empty());

    // The filter narrows the list to one name; cleared, all come back.
    auto* filter = dialog->findChild<QLineEdit*>(QStringLiteral("control%1").arg(IDC_FILTER));
    const QString first = QFileInfo(model.PathAt(0)).fileName();
    QTest::keyClicks(filter, first);
    EXPECT_EQ(c.lstPhotos->Filter().rowCount(), 1);
    EXPECT_EQ(c.lstFiles->Filter().rowCount(), 0);
    EXPECT_EQ(counts->text(), "6 photos, 1 other file (1 shown)");
    Screenshot("results-filtered.png");
    filter->clear();
    EXPECT_EQ(c.lstPhotos->Filter().rowCount(), 6);

    // The preview steps to the next photo and back.
    emit c.lstPhotos->photoActivated(model.PathAt(0));
    auto* preview = dialog->findChild<PhotoPreviewWindow*>();
    ASSERT_TRUE(preview && WaitUntil([&] { return preview->Ready(); }, 10000));
    preview->ShowNext();
    ASSERT_TRUE(WaitUntil([&] { return preview->Ready(); }, 10000));
    EXPECT_EQ(preview->Current(), 1);
    preview->ShowPrevious();
    ASSERT_TRUE(WaitUntil([&] { return preview->Ready(); }, 10000));
    EXPECT_EQ(preview->Current(), 0);
    preview->close();

    // Recover half: the other half stays unticked, the recovered half is marked and unticked.
    for (int row = 3; row < 6; ++row)
        model.SetChecked(row, false);
    files.SetChecked(0, false);
    ui.QueueAnswer(IDNO);
    c.btnRecover->click();
    ASSERT_TRUE(WaitUntil([&] { return dialog->View() == WindowView::Results && ui.Boxes().size() == 1; }, 30000));
    EXPECT_EQ(ui.Texts()[0], "3 files recovered.\n\nDo you want to view recovered files?");
    EXPECT_EQ(QDir(output).entryList(QDir::Files).size(), 3);
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(model.IsRecovered(row), row < 3) << row;
        EXPECT_FALSE(model.IsChecked(row)) << row;
    }
    EXPECT_EQ(counts->text(), "6 photos, 1 other file, 3 recovered");
    Screenshot("results-half-recovered.png");

    // A new scan would discard what is not recovered yet: it asks first, and No keeps everything.
    dialog->findChild<QPushButton*>(QStringLiteral("control%1").arg(IDC_BACK_TO_DRIVES))->click();
    SelectFirstDrive(*dialog);
    c.btnStart->click();  // unscripted: No
    ASSERT_EQ(ui.Boxes().size(), 2u);
    EXPECT_EQ(ui.Boxes()[1].caption, "Confirm");
    EXPECT_EQ(dialog->View(), WindowView::DrivePage);
    EXPECT_EQ(dialog->Scan().Workspace().root, workspace);
    dialog->findChild<QPushButton*>(QStringLiteral("control%1").arg(IDC_BACK_TO_RESULTS))->click();
    ASSERT_EQ(model.Count(), 6);

    // The other half into the same folder: every photo once, byte for byte, nothing overwritten.
    for (int row = 3; row < 6; ++row)
        model.SetChecked(row, true);
    files.SetChecked(0, true);
    ui.QueueAnswer(IDNO);
    c.btnRecover->click();
    ASSERT_TRUE(WaitUntil([&] { return dialog->View() == WindowView::Results && ui.Boxes().size() == 3; }, 30000));
    EXPECT_EQ(ui.Texts()[2], "4 files recovered.\n\nDo you want to view recovered files?");
    std::vector<QByteArray> expected = photos;
    expected.push_back(ReadAll(files.ItemAt(0).fullPath));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Contents(output), expected);
    EXPECT_EQ(model.RecoveredCount() + files.RecoveredCount(), 7);
    EXPECT_EQ(dialog->Scan().Workspace().root, workspace) << "nothing rescanned";
    EXPECT_TRUE(QFileInfo::exists(workspace)) << "the results stay until a new scan or closing";

    // Everything recovered: closing asks nothing and takes the workspace with it.
    EXPECT_TRUE(dialog->close());
    EXPECT_EQ(ui.Boxes().size(), 3u);
    EXPECT_FALSE(QFileInfo::exists(workspace));
}
