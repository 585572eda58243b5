// Cards the user could not choose before, on the whole road with the real
// engine: an unmounted card whose file system is destroyed (root, loop
// devices), a disk image file chosen through the picker, and the status
// line's share read during a scan of a 4 GiB image.
//
// SNAPMEND_SCREENSHOT_DIR=dir (with a real display) saves drives.png and scanning.png there.
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QTest>
#include <iostream>
#include <map>
#include <signal.h>
#include <unistd.h>

#include "CStyledButton.h"
#include "CStyledLabel.h"
#include "ChildProcess.h"
#include "DriveListView.h"
#include "ScanFixture.h"

using namespace snapmend;
using namespace snapmend::test;

namespace {

std::string Str(const QString& s) { return s.toStdString(); }

QByteArray Digest(const QByteArray& bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256); }

QSet<QByteArray> FolderDigests(const QString& folder)
{
    QSet<QByteArray> digests;
    QDirIterator it(folder, QDir::Files | QDir::Hidden);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            digests.insert(Digest(file.readAll()));
    }
    return digests;
}

class AnyCardRoadTest : public ScanFixture {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        platform.drives = PlatformServices::Default().drives;  // listed as a user's card is
        ASSERT_TRUE(InstallEngine(dataHome.path())) << "engine not built in " << Str(BuildDir());
    }

    void TearDown() override
    {
        if (!m_loop.isEmpty())
            QProcess::execute("losetup", {"-d", m_loop});
        ScanFixture::TearDown();
    }

    // An 80 MiB disk with one FAT32 partition from 1 MiB on, that held the
    // photos until they were deleted, and whose boot sector and its backup
    // were then wiped: no tool recognises a file system on it any more.
    bool MakeDamagedCard(const QString& disk, QString& why)
    {
        photos = MakePhotoImage(scratch.path() + "/photos.raw", 5, 0);
        if (photos.size() != 5) {
            why = "ImageMagick's convert is not installed";
            return false;
        }
        QString names;
        for (size_t i = 0; i < photos.size(); ++i) {
            const QString path = scratch.path() + QStringLiteral("/IMG_%1.JPG").arg(i);
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(photos[i]) != photos[i].size())
                return false;
            names += ' ' + path;
        }
        const QString part = scratch.path() + "/part.img";
        const QString script = QStringLiteral(
            "mkfs.vfat -F 32 -s 1 -C '%1' 65536 >/dev/null\n"
            "mcopy -i '%1' %3 ::/\n"
            "mdel -i '%1' '::/IMG_*.JPG'\n"
            "dd if=/dev/zero of='%1' bs=512 count=1 conv=notrunc status=none\n"
            "dd if=/dev/zero of='%1' bs=512 seek=6 count=1 conv=notrunc status=none\n"
            "truncate -s 80M '%2'\n"
            "printf 'label: dos\\n2048,131072,c\\n' | sfdisk -q '%2'\n"
            "dd if='%1' of='%2' bs=1M seek=1 conv=notrunc status=none\n")
                                   .arg(part, disk, names);
        if (!Bash(script, &why))
            return false;
        return true;
    }

    std::unique_ptr<MainDialog> OpenDrivePage()
    {
        auto dialog = std::make_unique<MainDialog>(platform);
        dialog->OnInitDialog();
        dialog->show();
        dialog->OnTimer(TIMER_STARTUP);
        Ctl(*dialog).edtOutputDir->setText(scratch.path() + "/recovered");
        return dialog;
    }

    static QTreeWidgetItem* Row(MainDialog& dialog, const QString& name, QStringList* listed = nullptr)
    {
        for (int i = 0; i < Ctl(dialog).lstDrives->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = Ctl(dialog).lstDrives->topLevelItem(i);
            if (listed)
                *listed << row->text(0);
            if (row->text(0) == name)
                return row;
        }
        return nullptr;
    }

    // Start on `row`, wait for the ready view; returns every status text seen on the way.
    // With `paced`, the engine is kept stopped and runs a 3 ms slice each
    // time the status line changes (or has stood still for 100 ms, so that a
    // slice too short to move the share on a busy machine cannot stall the
    // scan), so every share it reaches can be shown however fast the machine reads.
    QStringList ScanToReady(MainDialog& dialog, QTreeWidgetItem* row, bool paced = false)
    {
        Ctl(dialog).lstDrives->setCurrentItem(row);
        row->setSelected(true);
        QTest::mouseClick(Ctl(dialog).btnStart, Qt::LeftButton);
        QStringList seen;
        pid_t engine = 0;
        QElapsedTimer still;
        still.start();
        const bool ready = WaitUntil(
            [&] {
                const QString text = Ctl(dialog).lblStatus->text();
                if (paced && !engine && (engine = EngineChild()) != 0)
                    ::kill(engine, SIGSTOP);
                if (paced && engine && (seen.isEmpty() || seen.back() != text || still.elapsed() > 100)) {
                    ::kill(engine, SIGCONT);
                    QThread::msleep(3);
                    ::kill(engine, SIGSTOP);
                    still.restart();
                }
                if (seen.isEmpty() || seen.back() != text)
                    seen << text;
                if (seen.size() == 20)
                    Screenshot("scanning.png");
                return Ctl(dialog).btnRecover->text() == "Recover" && Ctl(dialog).btnRecover->isVisible();
            },
            300000);
        if (engine)
            ::kill(engine, SIGCONT);
        EXPECT_TRUE(ready) << "no ready view";
        return seen;
    }

    // Recovers everything; the recovered files' digests.
    QSet<QByteArray> RecoverAll(MainDialog& dialog)
    {
        ui.QueueAnswer(IDNO);  // do not open the folder
        QTest::mouseClick(Ctl(dialog).btnRecover, Qt::LeftButton);
        EXPECT_TRUE(WaitUntil([&] { return !ui.Boxes().empty(); }, 60000));
        return FolderDigests(scratch.path() + "/recovered");
    }

    void ExpectEveryPhoto(const QSet<QByteArray>& recovered)
    {
        for (size_t i = 0; i < photos.size(); ++i)
            EXPECT_TRUE(recovered.contains(Digest(photos[i]))) << "photo " << i << " was not recovered";
    }

    std::vector<QByteArray> photos;
    QString m_loop;
};

}  // namespace

TEST_F(AnyCardRoadTest, AnUnmountedCardWithADestroyedFileSystemIsListedScannedAndRecovered)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to attach a loop device";
    const QString disk = scratch.path() + "/card.img";
    QString why;
    if (!MakeDamagedCard(disk, why))
        GTEST_SKIP() << "cannot build the card image: " << Str(why);
    if (!Bash("losetup -f --show -P '" + disk + "'", &m_loop) || !m_loop.startsWith("/dev/loop")) {
        const QString reason = m_loop;
        m_loop.clear();
        GTEST_SKIP() << "no loop device: " << Str(reason);
    }
    const QString partition = m_loop + "p1";
    // Without udev the partition nodes may need a nudge.
    if (!WaitUntil([&] { return QFileInfo::exists(partition); }, 2000))
        QProcess::execute("partx", {"-a", m_loop});
    if (!WaitUntil([&] { return QFileInfo::exists(partition); }, 3000))
        GTEST_SKIP() << "the partition node " << Str(partition) << " did not appear";

    auto dialog = OpenDrivePage();
    QStringList listed;
    QTreeWidgetItem* row = Row(*dialog, partition, &listed);
    ASSERT_TRUE(row) << "not listed; rows: " << Str(listed.join(", "));
    EXPECT_EQ(row->text(kFileSystemColumn), "unknown");
    EXPECT_EQ(row->text(kCapacityColumn), "80.0 MB") << "the size of the disk the scan reads";
    EXPECT_EQ(row->text(kInformationColumn), "Loop device, card.img");
    ASSERT_TRUE(Row(*dialog, m_loop)) << "the whole disk is listed too";
    Screenshot("drives.png");

    ScanToReady(*dialog, row);
    EXPECT_EQ(dialog->Scan().Device(), m_loop) << "a partition is scanned through its whole disk";
    EXPECT_TRUE(ui.Boxes().empty()) << Str(ui.Texts().front());
    ExpectEveryPhoto(RecoverAll(*dialog));
}

TEST_F(AnyCardRoadTest, ADiskImageFileChosenThroughThePickerIsScannedAndRecovered)
{
    const QString disk = scratch.path() + "/card copy.img";  // a space on the command line
    QString why;
    if (!MakeDamagedCard(disk, why))
        GTEST_SKIP() << "cannot build the card image: " << Str(why);

    auto dialog = OpenDrivePage();
    const int rows = Ctl(*dialog).lstDrives->topLevelItemCount();
    QTreeWidgetItem* row = Ctl(*dialog).lstDrives->topLevelItem(rows - 1);
    ASSERT_EQ(row->text(0), "Image file...") << "the last row";
    EXPECT_EQ(row->text(kInformationColumn), "Disk image file");

    // Cancelling the picker starts nothing; a file that is no image is refused.
    Ctl(*dialog).lstDrives->setCurrentItem(row);
    row->setSelected(true);
    ui.QueueFile(std::nullopt);
    QTest::mouseClick(Ctl(*dialog).btnStart, Qt::LeftButton);
    ui.QueueFile(scratch.path());
    QTest::mouseClick(Ctl(*dialog).btnStart, Qt::LeftButton);
    EXPECT_TRUE(Ctl(*dialog).lstDrives->isVisible()) << "still on the drive page";
    ASSERT_EQ(ui.Texts().size(), 1u);
    EXPECT_EQ(Str(ui.Texts()[0]), "The chosen file cannot be scanned: it is not a disk image file.");
    ui.Clear();

    ui.QueueFile(disk);
    ScanToReady(*dialog, row);
    EXPECT_EQ(dialog->Scan().Device(), disk);
    EXPECT_TRUE(ui.Boxes().empty()) << Str(ui.Texts().front());
    ExpectEveryPhoto(RecoverAll(*dialog));
}

TEST_F(AnyCardRoadTest, AFourGibibyteScanShowsItsShareRisingTo100Percent)
{
    // Sparse, with the photos in its last mebibyte: the engine reads all of
    // it, and the photos are still being listed after it has finished.
    const QString image = scratch.path() + "/big.img";
    photos = MakePhotoImage(scratch.path() + "/tail.raw", 3, 1 << 20);
    if (photos.size() != 3)
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    QFile tail(scratch.path() + "/tail.raw");
    QFile big(image);
    ASSERT_TRUE(tail.open(QIODevice::ReadOnly) && big.open(QIODevice::WriteOnly));
    const qint64 size = 4LL << 30;
    ASSERT_TRUE(big.seek(size - (1 << 20)));
    big.write(tail.readAll());
    ASSERT_TRUE(big.resize(size));
    big.close();

    auto dialog = OpenDrivePage();
    QTreeWidgetItem* row = Ctl(*dialog).lstDrives->topLevelItem(Ctl(*dialog).lstDrives->topLevelItemCount() - 1);
    ui.QueueFile(image);
    const QStringList seen = ScanToReady(*dialog, row, /*paced=*/true);

    const QRegularExpression share(QStringLiteral("^Analyzing disk, please wait\\.{0,5} (\\d+)%"));
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_TRUE(seen.front().startsWith("Analyzing disk, please wait")) << "from the first moment: " << Str(seen.front());
    std::vector<int> percents;
    for (const QString& text : seen) {
        const QRegularExpressionMatch match = share.match(text);
        if (match.hasMatch() && (percents.empty() || percents.back() != match.captured(1).toInt()))
            percents.push_back(match.captured(1).toInt());
    }
    QStringList shown;
    for (int p : percents)
        shown << QString::number(p);
    std::cout << "[   INFO   ] shares shown: " << Str(shown.join(' ')) << std::endl;
    EXPECT_GE(percents.size(), 5u) << Str(shown.join(' '));
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << Str(shown.join(' '));
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(Ctl(*dialog).lstPhotos->Model().Count(), 3);
}
