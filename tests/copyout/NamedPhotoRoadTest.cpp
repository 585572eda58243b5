// A deleted photo comes back under the name the camera gave it: a FAT32 card
// image written by mtools (no mount needed) holds DCIM/100CAMERA/DSC_0412.JPG
// and a document, both deleted, next to a photo that was kept (a short name
// loses its first character on deletion; the kept DSC_0411.JPG tells it
// back); the card is attached as a loop device, listed
// by the real drive source, scanned by the real engine through the window and
// recovered into the same folders. Needs root and a loop device; skips with the reason otherwise.
//
// SNAPMEND_SCREENSHOT_DIR=dir (with a real display) saves named-ready.png there.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <unistd.h>

#include "CStyledButton.h"
#include "ResultModels.h"
#include "ResultViews.h"
#include "ScanFixture.h"

using namespace snapmend;
using namespace snapmend::test;

namespace {

std::string Str(const QString& s) { return s.toStdString(); }

// A one-page PDF whose cross-reference table points at its objects.
QByteArray SmallPdf()
{
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    const char* objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >>",
    };
    for (int i = 0; i < 3; ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 4\n0000000000 65535 f \n";
    for (qsizetype at : offsets)
        pdf += QByteArray::number(at).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

class NamedPhotoRoadTest : public ScanFixture {
protected:
    void TearDown() override
    {
        if (!m_loop.isEmpty())
            QProcess::execute("losetup", {"-d", m_loop});
        ScanFixture::TearDown();
    }

    QString m_loop;
};

}  // namespace

TEST_F(NamedPhotoRoadTest, ADeletedPhotoIsRecoveredUnderItsOriginalName)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to attach a loop device";
    platform.drives = PlatformServices::Default().drives;  // listed as a user's card is
    ASSERT_TRUE(InstallEngine(dataHome.path())) << "engine not built in " << Str(BuildDir());
    const QString dir = scratch.path();
    const QString image = dir + "/card.img";
    QString why;
    if (!Bash(QStringLiteral("cd '%1' && convert -size 320x240 plasma:orange-navy -seed 4 -quality 88 DSC_0412.JPG && "
                             "convert -size 160x120 plasma:green-white -seed 5 DSC_0411.JPG")
                  .arg(dir),
              &why))
        GTEST_SKIP() << "needs ImageMagick: " << Str(why);
    QFile notes(dir + "/Trip notes.pdf");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write(SmallPdf()) > 0);
    notes.close();
    if (!Bash(QStringLiteral("cd '%1' && mkfs.vfat -F 32 -s 1 -C card.img 65536 >/dev/null && "
                            "mmd -i card.img ::/DCIM ::/DCIM/100CAMERA ::/Documents && "
                            "mcopy -i card.img DSC_0411.JPG DSC_0412.JPG ::/DCIM/100CAMERA/ && "
                            "mcopy -i card.img 'Trip notes.pdf' ::/Documents/ && "
                            "mdel -i card.img ::/DCIM/100CAMERA/DSC_0412.JPG '::/Documents/Trip notes.pdf'")
                 .arg(dir),
             &why))
        GTEST_SKIP() << "needs dosfstools and mtools: " << Str(why);
    if (!Bash("losetup -f --show '" + image + "'", &m_loop) || !m_loop.startsWith("/dev/loop")) {
        const QString reason = m_loop;
        m_loop.clear();
        GTEST_SKIP() << "no loop device: " << Str(reason);
    }
    const QByteArray photo = ReadAll(dir + "/DSC_0412.JPG");
    ASSERT_TRUE(ChooseFormats("jpg,pdf"));

    auto dialog = std::make_unique<MainDialog>(platform);
    dialog->OnInitDialog();
    dialog->show();
    dialog->OnTimer(TIMER_STARTUP);
    QTreeWidgetItem* row = nullptr;
    for (int i = 0; i < Ctl(*dialog).lstDrives->topLevelItemCount() && !row; ++i)
        if (Ctl(*dialog).lstDrives->topLevelItem(i)->text(0) == m_loop)
            row = Ctl(*dialog).lstDrives->topLevelItem(i);
    ASSERT_TRUE(row) << Str(m_loop) << " is not listed";
    const QString output = dir + "/recovered";
    Ctl(*dialog).edtOutputDir->setText(output);
    Ctl(*dialog).lstDrives->setCurrentItem(row);
    row->setSelected(true);
    QTest::mouseClick(Ctl(*dialog).btnStart, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil(
        [&] { return Ctl(*dialog).btnRecover->isVisible() && Ctl(*dialog).btnRecover->text() == "Recover"; }, 120000))
        << "no ready view";
    EXPECT_TRUE(ui.Boxes().empty()) << Str(ui.Texts().front());

    // The engine's layout keeps the card's folders; the window lists the photo and the named document.
    const QString workspace = dialog->Scan().Workspace().root;
    ASSERT_EQ(Ctl(*dialog).lstPhotos->Model().Count(), 2) << "the deleted photo and the kept one";
    QStringList listed;
    for (int i = 0; i < 2; ++i)
        listed << Ctl(*dialog).lstPhotos->Model().PathAt(i);
    const QStringList named = listed.filter(QRegularExpression("^" + QRegularExpression::escape(workspace) +
                                                                "/.+/DCIM/100CAMERA/DSC_0412\\.JPG$"));
    ASSERT_EQ(named.size(), 1) << "below the engine's output folder: " << Str(listed.join(", "));
    EXPECT_EQ(ReadAll(named[0]), photo);
    ASSERT_EQ(Ctl(*dialog).lstFiles->Model().Count(), 1);
    EXPECT_EQ(Str(Ctl(*dialog).lstFiles->Model().ItemAt(0).fileName), "Trip notes.pdf");
    Screenshot("named-ready.png");

    ui.QueueAnswer(IDNO);
    QTest::mouseClick(Ctl(*dialog).btnRecover, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return !ui.Boxes().empty(); }, 60000));
    // Each in its original folder below the output folder.
    EXPECT_EQ(ReadAll(output + "/DCIM/100CAMERA/DSC_0412.JPG"), photo)
        << "the photo under its original name, byte for byte";
    EXPECT_EQ(ReadAll(output + "/Documents/Trip notes.pdf"), SmallPdf());
    QStringList recovered;
    for (QDirIterator it(output, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        recovered << it.next();
    // The scan data kept in the output folder for more recoveries is not among them.
    recovered.removeIf([&](const QString& path) { return path.startsWith(output + "/.snapmend-scans/"); });
    EXPECT_EQ(recovered.size(), 3) << Str(recovered.join(", "));
    EXPECT_TRUE(QFileInfo::exists(workspace)) << "the results stay for more recoveries";
    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(QFileInfo::exists(workspace)) << "closing deletes the workspace";
}
