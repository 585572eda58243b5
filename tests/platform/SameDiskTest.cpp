// The output folder must not lie on the disk being scanned: a partitioned
// loop disk, mounted, against folders on it and elsewhere.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "SameDisk.h"
#include "ScanFixture.h"
#include "TestUtil.h"

using namespace snapmend;

namespace {

QString Output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

class PartitionedCard : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "loop devices and mounting need root";
        QFile image(scratch.path() + "/card.img");
        ASSERT_TRUE(image.open(QIODevice::WriteOnly) && image.resize(32 << 20));
        image.close();
        QProcess sfdisk;
        sfdisk.start("sfdisk", {"-q", image.fileName()});
        sfdisk.write("label: dos\nstart=2048, type=83\n");
        sfdisk.closeWriteChannel();
        ASSERT_TRUE(sfdisk.waitForFinished(30000) && sfdisk.exitCode() == 0);
        disk = Output("losetup", {"-f", "--show", "-P", image.fileName()});
        if (disk.isEmpty())
            GTEST_SKIP() << "no loop device could be attached here";
        // The kernel's partition scan may not run here; ask for it. Without
        // udev no node appears for the partition: make one from sysfs.
        QProcess::execute("partx", {"-a", disk});
        const QString sysDev = "/sys/class/block/" + QFileInfo(disk).fileName() + "p1/dev";
        for (int i = 0; i < 100 && !QFileInfo::exists(sysDev); ++i)
            usleep(20000);
        QFile numbers(sysDev);
        ASSERT_TRUE(numbers.open(QIODevice::ReadOnly)) << "no partition on the loop disk";
        const QList<QByteArray> majorMinor = numbers.readAll().trimmed().split(':');
        ASSERT_EQ(majorMinor.size(), 2);
        partition = scratch.path() + "/p1";
        ASSERT_EQ(::mknod(QFile::encodeName(partition).constData(), S_IFBLK | 0600,
                          makedev(majorMinor[0].toUInt(), majorMinor[1].toUInt())),
                  0);
        mountPoint = scratch.path() + "/mnt";
        ASSERT_TRUE(QDir().mkpath(mountPoint));
        ASSERT_EQ(QProcess::execute("mkfs.ext4", {"-q", partition}), 0);
        ASSERT_EQ(QProcess::execute("mount", {partition, mountPoint}), 0);
        mounted = true;
    }
    void TearDown() override
    {
        if (mounted)
            QProcess::execute("umount", {mountPoint});
        if (!disk.isEmpty())
            QProcess::execute("losetup", {"-d", disk});
    }

    QTemporaryDir scratch;
    QString disk, partition, mountPoint;
    bool mounted = false;
};

TEST_F(PartitionedCard, FolderOnTheScannedDiskIsNamedByItsWholeDisk)
{
    ASSERT_TRUE(QDir().mkpath(mountPoint + "/photos"));
    QFile image(mountPoint + "/inner.img");
    ASSERT_TRUE(image.open(QIODevice::WriteOnly) && image.resize(1 << 20));
    image.close();
    const struct {
        QString source;
        QString folder;
        std::optional<QString> disk;
    } cases[] = {
        {disk, mountPoint + "/photos", disk},                // the disk, a folder on its partition
        {partition, mountPoint + "/not/made/yet", disk},     // a partition, a folder still to be created
        {disk, mountPoint + "/photos/../photos/", disk},     // path text does not matter
        {scratch.path() + "/card.img", mountPoint, disk},   // the image the card's loop disk reads
        {disk, scratch.path(), std::nullopt},                // another disk
        {image.fileName(), mountPoint, std::nullopt},        // an image lying on the card: its blocks are its own
        {scratch.path() + "/card.img", scratch.path(), std::nullopt},
        {"/nonexistent/device", mountPoint, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FolderOnScannedDisk(c.source, c.folder), c.disk)
            << c.source.toStdString() << " -> " << c.folder.toStdString();
    }
    EXPECT_TRUE(FolderOnScannedDiskMessage(mountPoint, disk).contains(disk));
}

// btrfs gives its files anonymous device numbers: the mount table names the disk.
TEST(SameDisk, BtrfsIsTracedToItsDiskThroughTheMountTable)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "loop devices and mounting need root";
    QTemporaryDir scratch;
    QFile image(scratch.path() + "/btrfs.img");
    ASSERT_TRUE(image.open(QIODevice::WriteOnly) && image.resize(160 << 20));
    image.close();
    if (QProcess::execute("mkfs.btrfs", {"-q", image.fileName()}) != 0)
        GTEST_SKIP() << "mkfs.btrfs is not installed";
    const QString disk = Output("losetup", {"-f", "--show", image.fileName()});
    if (disk.isEmpty())
        GTEST_SKIP() << "no loop device could be attached here";
    const QString mountPoint = scratch.path() + "/mnt";
    QDir().mkpath(mountPoint);
    const bool mounted = QProcess::execute("mount", {"-t", "btrfs", disk, mountPoint}) == 0;
    if (mounted) {
        EXPECT_EQ(FolderOnScannedDisk(disk, mountPoint + "/photos"), std::optional<QString>(disk));
        EXPECT_EQ(FolderOnScannedDisk(disk, scratch.path()), std::nullopt);
        QProcess::execute("umount", {mountPoint});
    }
    QProcess::execute("losetup", {"-d", disk});
    if (!mounted)
        GTEST_SKIP() << "the kernel cannot mount btrfs here";
}

// The window refuses the folder when it is chosen and when a scan would start.
TEST_F(PartitionedCard, TheWindowRefusesAFolderOnTheScannedDisk)
{
    const QString folder = mountPoint + "/recovered";
    const QString refusal = FolderOnScannedDiskMessage(folder, disk);
    test::ScriptedUiServices ui;
    test::FakeSystemInfo system;
    test::FixedDriveSource drives;
    QTemporaryDir programFolder;
    PlatformServices platform{&ui, &system, &drives, programFolder.path() + "/"};
    DriveRecord record;
    record.name = mountPoint;
    record.physicalPath = disk;
    record.engineDevice = disk;
    drives.drives = {record};
    MainDialog dialog(platform);
    dialog.OnInitDialog();
    dialog.OnTimer(TIMER_STARTUP);
    const QString before = test::Ctl(dialog).edtOutputDir->text();
    test::Ctl(dialog).lstDrives->topLevelItem(0)->setSelected(true);

    ui.QueueFolder(folder);
    test::Ctl(dialog).btnBrowse->click();
    EXPECT_EQ(ui.Texts(), std::vector<QString>{refusal});
    EXPECT_EQ(test::Ctl(dialog).edtOutputDir->text(), before) << "the refused folder was taken";

    ui.Clear();
    test::Ctl(dialog).edtOutputDir->setText(folder);  // as a saved settings file would give it
    test::Ctl(dialog).btnStart->click();
    EXPECT_EQ(ui.Texts(), std::vector<QString>{OutputAndScanDataOnScannedDiskText(
                              folder, folder + "/.snapmend-scans", disk)})
        << "the scan data would lie there too";
    EXPECT_FALSE(dialog.Scan().Running()) << "a scan was started";
    EXPECT_TRUE(dialog.Scan().Workspace().root.isEmpty()) << "a workspace was made";
    EXPECT_FALSE(QFileInfo::exists(folder));
}

}  // namespace
