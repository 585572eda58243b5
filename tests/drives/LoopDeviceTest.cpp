// The Linux drive source on real loop devices: needs root, losetup and ext4 mounts.
// Every test skips with its reason when the machine cannot provide them, and
// undoes everything it set up (unmount, detach) whatever happens.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <iterator>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "DevicePresence.h"
#include "DriveRecord.h"
#include "DriveSource.h"

using namespace snapmend;

namespace {

struct Result {
    bool ok = false;
    QString output;
};

Result RunTool(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return {false, program + QStringLiteral(": cannot start")};
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {false, program + QStringLiteral(": timed out")};
    }
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return {process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, output};
}

std::string Str(const QString& s) { return s.toStdString(); }

class LoopDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to attach loop devices and mount them";
        ASSERT_TRUE(work.isValid());
    }

    void TearDown() override
    {
        while (!undo.empty()) {
            undo.back()();
            undo.pop_back();
        }
    }

    // Each step returns false and leaves its reason in `why` when the machine refuses it.
    bool MakeImage(const QString& path, qint64 megabytes)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(megabytes << 20)) {
            why = QStringLiteral("cannot create ") + path;
            return false;
        }
        return true;
    }

    bool Step(const QString& program, const QStringList& args, const QByteArray& input = {})
    {
        const Result result = RunTool(program, args, input);
        if (!result.ok)
            why = program + ' ' + args.join(' ') + QStringLiteral(" failed: ") + result.output;
        return result.ok;
    }

    bool Attach(const QString& image, bool partitioned, QString& device)
    {
        QStringList args{QStringLiteral("-f"), QStringLiteral("--show")};
        if (partitioned)
            args << QStringLiteral("-P");
        args << image;
        const Result result = RunTool(QStringLiteral("losetup"), args);
        if (!result.ok || !result.output.startsWith(QStringLiteral("/dev/loop"))) {
            why = QStringLiteral("losetup failed: ") + result.output;
            return false;
        }
        device = result.output;
        undo.push_back([device] { RunTool(QStringLiteral("losetup"), {QStringLiteral("-d"), device}); });
        return true;
    }

    // The partition nodes of a partitioned loop device appear asynchronously, or not at all
    // without a nudge from partx.
    bool WaitForPartitions(const QString& device, int partitions)
    {
        const QString last = device + QStringLiteral("p") + QString::number(partitions);
        const auto present = [&] {
            return QFileInfo::exists(QStringLiteral("/sys/class/block/") + QFileInfo(last).fileName()) &&
                   QFileInfo::exists(last);
        };
        for (int attempt = 0; attempt < 2; ++attempt) {
            for (int i = 0; i < 40 && !present(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (present())
                return true;
            RunTool(QStringLiteral("partx"), {QStringLiteral("-a"), device});
            undo.push_back([device] { RunTool(QStringLiteral("partx"), {QStringLiteral("-d"), device}); });
        }
        why = QStringLiteral("the partitions of ") + device + QStringLiteral(" did not appear");
        return false;
    }

    bool Mount(const QString& device, const QString& dir, const QStringList& options = {})
    {
        QDir().mkpath(dir);
        if (!Step(QStringLiteral("mount"), options + QStringList{device, dir}))
            return false;
        undo.push_back([dir] {
            if (!RunTool(QStringLiteral("umount"), {dir}).ok)
                RunTool(QStringLiteral("umount"), {QStringLiteral("-l"), dir});
        });
        return true;
    }

    bool FillFile(const QString& path, qint64 megabytes)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(1 << 20, 'x');
        for (qint64 i = 0; i < megabytes; ++i)
            file.write(block);
        return file.flush() && fsync(file.handle()) == 0;
    }

    // Total size as df reports it, for comparison.
    quint64 DfTotal(const QString& dir)
    {
        const Result result = RunTool(QStringLiteral("df"), {QStringLiteral("-B1"), QStringLiteral("--output=size"), dir});
        return result.output.split('\n').last().trimmed().toULongLong();
    }

    static std::vector<DriveRecord> OnDevice(const std::vector<DriveRecord>& drives, const QString& device,
                                             bool mounted = true)
    {
        std::vector<DriveRecord> found;
        for (const DriveRecord& drive : drives) {
            if (drive.engineDevice == device && drive.mounted == mounted)
                found.push_back(drive);
        }
        return found;
    }

    QTemporaryDir work;
    QString why;
    std::vector<std::function<void()>> undo;
};

}  // namespace

TEST_F(LoopDeviceTest, BothPartitionsOfAPartitionedImageMapToTheLoopDisk)
{
    const QString image = work.filePath(QStringLiteral("disk.img"));
    QString device;
    if (!MakeImage(image, 64) ||
        !Step(QStringLiteral("sfdisk"), {QStringLiteral("-q"), image}, "label: dos\n,24M,L\n,,L\n") ||
        !Attach(image, true, device) || !WaitForPartitions(device, 2))
        GTEST_SKIP() << Str(why);
    const QString part1 = device + QStringLiteral("p1");
    const QString part2 = device + QStringLiteral("p2");
    const QString photos = work.filePath(QStringLiteral("my photos"));  // \040 in mountinfo
    const QString second = work.filePath(QStringLiteral("second"));
    const QString bound = work.filePath(QStringLiteral("b"));
    if (!Step(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), part1}) ||
        !Step(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), part2}) || !Mount(part1, photos) ||
        !Mount(part2, second) || !Mount(second, bound, {QStringLiteral("--bind")}))
        GTEST_SKIP() << Str(why);
    ASSERT_TRUE(FillFile(photos + QStringLiteral("/fill"), 8)) << "so that free space differs from the total";

    const std::vector<DriveRecord> drives = LinuxDriveSource().ListDrives();
    const std::vector<DriveRecord> mine = OnDevice(drives, device);

    ASSERT_EQ(mine.size(), 2u) << "one row per partition, the bind mount folded into its partition's row";
    EXPECT_EQ(Str(mine[0].name), Str(bound)) << "the shortest mount point of the second partition";
    EXPECT_EQ(Str(mine[1].name), Str(photos));
    for (const DriveRecord& drive : mine) {
        EXPECT_EQ(Str(drive.physicalPath), Str(device)) << "the whole disk, not the partition";
        EXPECT_EQ(Str(drive.fileSystem), "ext4");
        EXPECT_EQ(Str(drive.typeText), "Loop device");
        EXPECT_EQ(Str(drive.model), "disk.img") << "a loop disk is named by its image file";
        EXPECT_EQ(drive.volumeSize, DfTotal(drive.name)) << Str(drive.name);
        EXPECT_EQ(drive.capacity, 64u << 20) << "the size of the disk the scan reads";
        const DriveRecord* byKey = FindDriveByName(drives, drive.name);
        ASSERT_NE(byKey, nullptr);
        EXPECT_EQ(Str(byKey->engineDevice), Str(device));
    }
    EXPECT_GT(mine[1].volumeSize, 16u << 20);
    EXPECT_LE(mine[1].volumeSize, 24u << 20);
    // Its partitions are mounted, the whole disk is not: listed by its node.
    const std::vector<DriveRecord> unmounted = OnDevice(drives, device, false);
    ASSERT_EQ(unmounted.size(), 1u);
    EXPECT_EQ(Str(unmounted[0].name), Str(device));
    EXPECT_EQ(Str(FileSystemText(unmounted[0])), "MBR partitions");
}

TEST_F(LoopDeviceTest, UnmountedPartitionsAreListedWithTypeAndLabelAndADamagedOneAsUnknown)
{
    const QString image = work.filePath(QStringLiteral("card.img"));
    QString device;
    if (!MakeImage(image, 48) ||
        !Step(QStringLiteral("sfdisk"), {QStringLiteral("-q"), image}, "label: dos\n,16M,c\n,16M,L\n,,L\n") ||
        !Attach(image, true, device) || !WaitForPartitions(device, 3))
        GTEST_SKIP() << Str(why);
    const QString p1 = device + QStringLiteral("p1");
    const QString p2 = device + QStringLiteral("p2");
    const QString p3 = device + QStringLiteral("p3");
    // p2 had ext4 until its superblock was wiped; p3 never had a file system.
    if (!Step(QStringLiteral("mkfs.vfat"), {QStringLiteral("-n"), QStringLiteral("HOLIDAY"), p1}) ||
        !Step(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-L"), QStringLiteral("gone"), p2}) ||
        !Step(QStringLiteral("dd"), {QStringLiteral("if=/dev/zero"), QStringLiteral("of=") + p2, QStringLiteral("bs=4096"),
                                     QStringLiteral("count=1"), QStringLiteral("conv=fsync")}))
        GTEST_SKIP() << Str(why);

    const std::vector<DriveRecord> drives = LinuxDriveSource().ListDrives();
    const std::vector<DriveRecord> mine = OnDevice(drives, device, false);

    struct Row {
        QString name;
        const char* fileSystem;
        const char* label;
        quint64 capacity;
    } const expected[] = {
        {device, "MBR partitions", "", 48u << 20},
        {p1, "vfat", "HOLIDAY", 16u << 20},
        {p2, "unknown", "", 16u << 20},
        {p3, "unknown", "", (16u << 20) - (1u << 20)},  // after the first MiB that holds the table
    };
    ASSERT_EQ(mine.size(), std::size(expected));
    for (size_t i = 0; i < mine.size(); ++i) {
        EXPECT_EQ(Str(mine[i].name), Str(expected[i].name));
        EXPECT_EQ(Str(mine[i].device), Str(expected[i].name));
        EXPECT_EQ(Str(FileSystemText(mine[i])), expected[i].fileSystem) << Str(mine[i].name);
        EXPECT_EQ(Str(mine[i].label), expected[i].label) << Str(mine[i].name);
        EXPECT_EQ(mine[i].volumeSize, expected[i].capacity) << Str(mine[i].name);
        EXPECT_EQ(mine[i].capacity, 48u << 20) << Str(mine[i].name);
        EXPECT_EQ(Str(mine[i].engineDevice), Str(device)) << "scanned through the whole disk";
        EXPECT_EQ(Str(mine[i].typeText), "Loop device");
        EXPECT_EQ(FindDriveByName(drives, mine[i].name), &*std::find(drives.begin(), drives.end(), mine[i]));
    }
}

TEST_F(LoopDeviceTest, APlainLoopDeviceMountedTwiceIsOneRowOnItself)
{
    const QString image = work.filePath(QStringLiteral("plain.img"));
    QString device;
    if (!MakeImage(image, 32) ||
        !Step(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), image}) ||
        !Attach(image, false, device))
        GTEST_SKIP() << Str(why);
    const QString shortDir = work.filePath(QStringLiteral("x"));
    const QString longDir = work.filePath(QStringLiteral("plain-mount"));
    if (!Mount(device, longDir) || !Mount(device, shortDir))
        GTEST_SKIP() << Str(why);

    const std::vector<DriveRecord> mine = OnDevice(LinuxDriveSource().ListDrives(), device);

    ASSERT_EQ(mine.size(), 1u);
    EXPECT_EQ(Str(mine[0].name), Str(shortDir));
    EXPECT_EQ(Str(mine[0].physicalPath), Str(device));
    EXPECT_EQ(Str(mine[0].fileSystem), "ext4");
    EXPECT_EQ(mine[0].volumeSize, DfTotal(shortDir));
    EXPECT_EQ(mine[0].capacity, 32u << 20);
}

TEST_F(LoopDeviceTest, AVolumeOverTwoLoopDisksIsNotListed)
{
    QString first;
    QString second;
    if (!MakeImage(work.filePath(QStringLiteral("a.img")), 16) || !MakeImage(work.filePath(QStringLiteral("b.img")), 16) ||
        !Attach(work.filePath(QStringLiteral("a.img")), false, first) ||
        !Attach(work.filePath(QStringLiteral("b.img")), false, second))
        GTEST_SKIP() << Str(why);
    // A linear device-mapper volume: the first disk, then the second (16 MiB = 32768 sectors each).
    const QString name = QStringLiteral("snapmend-test-%1").arg(getpid());
    const QByteArray table = QStringLiteral("0 32768 linear %1 0\n32768 32768 linear %2 0\n")
                                 .arg(first, second)
                                 .toLocal8Bit();
    if (!Step(QStringLiteral("dmsetup"), {QStringLiteral("create"), name}, table))
        GTEST_SKIP() << "device-mapper is not available here (" << Str(why)
                     << "); the recorded sysfs samples cover this case";
    undo.push_back([name] { RunTool(QStringLiteral("dmsetup"), {QStringLiteral("remove"), name}); });
    const QString volume = QStringLiteral("/dev/mapper/") + name;
    const QString dir = work.filePath(QStringLiteral("spanned"));
    if (!Step(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), volume}) || !Mount(volume, dir))
        GTEST_SKIP() << Str(why);

    const std::vector<DriveRecord> drives = LinuxDriveSource().ListDrives();

    EXPECT_EQ(FindDriveByName(drives, dir), nullptr);
    EXPECT_TRUE(OnDevice(drives, first).empty());
    EXPECT_TRUE(OnDevice(drives, second).empty());
}

TEST_F(LoopDeviceTest, ADetachedDeviceOrADeletedImageIsNoLongerThere)
{
    const QString image = work.filePath(QStringLiteral("gone.img"));
    QString device;
    if (!MakeImage(image, 8) || !Attach(image, false, device))
        GTEST_SKIP() << Str(why);
    const DevicePresence disk(device);
    const DevicePresence file(image);
    EXPECT_TRUE(disk.StillThere());
    EXPECT_TRUE(file.StillThere());

    ASSERT_TRUE(Step(QStringLiteral("losetup"), {QStringLiteral("-d"), device})) << Str(why);
    ASSERT_TRUE(QFile::remove(image));
    // Detaching is asynchronous: the sysfs entry goes a moment later.
    for (int i = 0; i < 100 && disk.StillThere(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(disk.StillThere());
    EXPECT_FALSE(file.StillThere());
}
