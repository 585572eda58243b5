// Mountinfo parsing, disk mapping and the drive list over recorded samples.
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <iterator>
#include <map>

#include "DiskMapping.h"
#include "DriveEnumeration.h"
#include "MountInfo.h"
#include "SysfsSample.h"
#include "TestDrives.h"

using namespace snapmend;

namespace {

std::string Str(const QString& s) { return s.toStdString(); }

class DesktopSample : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        sysRoot = dir.path() + QStringLiteral("/sys");
        test::MaterializeSysfs(test::ReadSample(QStringLiteral("desktop.sysfs")), sysRoot);
        mounts = ParseMountInfo(test::ReadSample(QStringLiteral("desktop.mountinfo")));
    }

    QString DeviceDir(const char* majorMinor) const
    {
        return QFileInfo(sysRoot + QStringLiteral("/dev/block/") + QLatin1String(majorMinor)).canonicalFilePath();
    }

    QTemporaryDir dir;
    QString sysRoot;
    std::vector<MountEntry> mounts;
};

}  // namespace

TEST(MountInfoTest, FieldsAroundOptionalTagsAndEscapes)
{
    const QByteArray text =
        "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 shared:7 - ext3 /dev/root rw,errors=continue\n"
        "garbage line\n"
        "37 28 8:18 / /media/My\\040Photos\\011x\\134y\\12z rw - vfat /dev/sd\\040b2 rw\n"
        "38 28 0:40 / /btr rw - btrfs /dev/nvme1n1p1\n"
        "39 28 0:41 / /x rw -\n";
    const std::vector<MountEntry> entries = ParseMountInfo(text);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].major, 98u);
    EXPECT_EQ(entries[0].minor, 0u);
    EXPECT_EQ(Str(entries[0].root), "/mnt1");
    EXPECT_EQ(Str(entries[0].mountPoint), "/mnt2");
    EXPECT_EQ(Str(entries[0].fsType), "ext3");
    EXPECT_EQ(Str(entries[0].source), "/dev/root");
    // \040 space, \011 tab, \134 backslash; an incomplete escape stays as it is.
    EXPECT_EQ(Str(entries[1].mountPoint), "/media/My Photos\tx\\y\\12z");
    EXPECT_EQ(Str(entries[1].source), "/dev/sd b2");
    EXPECT_EQ(entries[2].major, 0u);
    EXPECT_EQ(Str(entries[2].source), "/dev/nvme1n1p1");
}

TEST_F(DesktopSample, MapsEachVolumeToItsOneWholeDisk)
{
    const struct {
        const char* device;
        const char* disk;  // nullptr: refused
        bool removable;
    } cases[] = {
        {"8:0", "/dev/sda", false},         // a whole disk maps to itself
        {"8:2", "/dev/sda", false},         // partition -> parent
        {"8:17", "/dev/sdb", true},         // removable flag is the disk's
        {"11:0", "/dev/sr0", true},
        {"259:1", "/dev/nvme0n1", false},
        {"179:1", "/dev/mmcblk0", false},
        {"104:1", "/dev/cciss/c0d0", false},  // '!' in the sysfs name
        {"7:1", "/dev/loop1", false},         // loop devices are whole disks
        {"254:0", "/dev/sda", false},         // LVM on one partition
        {"9:1", "/dev/sde", false},           // RAID 1 left with one member
        {"254:1", nullptr, false},            // striped over sdc and sdd
        {"9:0", nullptr, false},              // RAID 0 over sdc and sdd
        {"254:2", nullptr, false},            // device-mapper with no device under it
        {"254:3", nullptr, false},            // broken tree: its own slave
    };
    for (const auto& c : cases) {
        const QString deviceDir = DeviceDir(c.device);
        ASSERT_FALSE(deviceDir.isEmpty()) << c.device;
        const std::optional<DiskInfo> disk = MapVolumeToDisk(SysfsReader(sysRoot), deviceDir);
        if (!c.disk) {
            EXPECT_FALSE(disk) << c.device << " mapped to " << Str(disk->node);
            continue;
        }
        ASSERT_TRUE(disk) << c.device;
        EXPECT_EQ(Str(disk->node), c.disk) << c.device;
        EXPECT_EQ(disk->removable, c.removable) << c.device;
    }
}

TEST_F(DesktopSample, FindsTheBlockDeviceOfAMount)
{
    const auto entry = [](unsigned major, unsigned minor, const char* source) {
        MountEntry e;
        e.major = major;
        e.minor = minor;
        e.source = QString::fromUtf8(source);
        return e;
    };
    const struct {
        MountEntry mount;
        const char* device;  // the expected folder below the sysfs root; nullptr: none
    } cases[] = {
        {entry(8, 2, "/dev/sda2"), "dev/block/8:2"},
        {entry(99, 9, "/dev/sda2"), "class/block/sda2"},  // number unknown: by name
        {entry(0, 40, "/dev/nvme1n1p1"), "class/block/nvme1n1p1"},
        {entry(0, 44, "/dev/mapper/vg-home"), "dev/block/254:0"},
        {entry(0, 45, "/dev/cciss/c0d0p1"), "dev/block/104:1"},
        {entry(0, 46, "tmpfs"), nullptr},
        {entry(0, 47, "/dev/nosuch"), nullptr},
        {entry(0, 48, "/dev/mapper/nosuch"), nullptr},
        {entry(0, 49, "server:/export"), nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<QString> dir = BlockDeviceDir(SysfsReader(sysRoot), c.mount);
        if (!c.device) {
            EXPECT_FALSE(dir) << Str(c.mount.source);
            continue;
        }
        ASSERT_TRUE(dir) << Str(c.mount.source);
        const QString expected = QFileInfo(sysRoot + '/' + QLatin1String(c.device)).canonicalFilePath();
        ASSERT_FALSE(expected.isEmpty()) << c.device;
        EXPECT_EQ(Str(*dir), Str(expected)) << Str(c.mount.source);
    }
}

TEST_F(DesktopSample, ListsOneRowPerScannableVolumeSortedByName)
{
    // Capacities of every mount point; the card reader's medium cannot be queried.
    const std::map<QString, quint64> capacities = {
        {"/", 100}, {"/boot/efi", 101}, {"/home", 102}, {"/snap/core/123", 103}, {"/mnt/image", 104},
        {"/mnt/image/again", 904}, {"/media/user/My Photos", 105}, {"/srv/ph", 905}, {"/mnt/d", 906},
        {"/data", 106}, {"/media/user/STICK", 107}, {"/media/cdrom", 108}, {"/big", 109}, {"/raid", 110},
        {"/mirror", 111}, {"/zero", 112}, {"/looped", 113}, {"/btr", 114}, {"/btr/snaps", 914},
        {"/media/sd", 115}, {"/legacy", 116}, {"/var/tmp/z", 117}, {"/net/home", 118}, {"/mnt/share", 119},
        {"/media/user/tab\tand\\slash", 120}, {"/proc", 1}, {"/sys", 1}, {"/dev", 1}, {"/run", 1},
    };
    QStringList queried;
    const auto capacityOf = [&](const QString& mountPoint) -> std::optional<quint64> {
        queried << mountPoint;
        const auto it = capacities.find(mountPoint);
        if (it == capacities.end())
            return std::nullopt;
        return it->second;
    };

    const std::vector<DriveRecord> drives = BuildDriveRecords(mounts, SysfsReader(sysRoot), capacityOf);

    const auto row = test::Drive;
    const std::vector<DriveRecord> expected = {
        row("/", "/dev/sda", 100, "ext4", "Local Disk"),
        row("/boot/efi", "/dev/sda", 101, "vfat", "Local Disk"),
        row("/btr", "/dev/nvme1n1", 114, "btrfs", "Local Disk"),
        row("/data", "/dev/nvme0n1", 106, "ext4", "Local Disk"),
        row("/home", "/dev/sda", 102, "ext4", "Local Disk"),
        row("/legacy", "/dev/cciss/c0d0", 116, "ext3", "Local Disk"),
        row("/media/cdrom", "/dev/sr0", 108, "iso9660", "Compact Disc"),
        row("/media/sd", "/dev/mmcblk0", 115, "vfat", "Local Disk"),
        row("/media/user/My Photos", "/dev/nvme0n1", 105, "ext4", "Local Disk"),
        row("/media/user/STICK", "/dev/sdb", 107, "vfat", "Removable Disk"),
        row("/media/user/tab\tand\\slash", "/dev/sdb", 120, "ext4", "Removable Disk"),
        row("/mirror", "/dev/sde", 111, "ext4", "Local Disk"),
        row("/mnt/image", "/dev/loop1", 104, "ext4", "Local Disk"),
        row("/var/tmp/z", "/dev/zram0", 117, "ext4", ""),
    };
    ASSERT_EQ(drives.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const DriveRecord& d = drives[i];
        const DriveRecord& e = expected[i];
        EXPECT_EQ(Str(d.name), Str(e.name)) << i;
        EXPECT_EQ(Str(d.physicalPath), Str(e.physicalPath)) << Str(e.name);
        EXPECT_EQ(Str(d.engineDevice), Str(e.engineDevice)) << Str(e.name);
        EXPECT_EQ(d.capacity, e.capacity) << Str(e.name);
        EXPECT_EQ(Str(d.fileSystem), Str(e.fileSystem)) << Str(e.name);
        EXPECT_EQ(Str(d.typeText), Str(e.typeText)) << Str(e.name);
    }

    // Pseudo, network and image file systems are never even queried.
    for (const char* skipped : {"/proc", "/sys", "/dev", "/run", "/net/home", "/mnt/share", "/snap/core/123"})
        EXPECT_FALSE(queried.contains(QString::fromUtf8(skipped))) << skipped;

    // The row key finds the first record of that name.
    const DriveRecord* home = FindDriveByName(drives, QStringLiteral("/home"));
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(Str(home->engineDevice), "/dev/sda");
    EXPECT_EQ(FindDriveByName(drives, QStringLiteral("/home/")), nullptr);
}

TEST(DriveNameTest, TrailingSlashesGoExceptForTheRoot)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/", "/"}, {"/mnt/usb/", "/mnt/usb"}, {"/mnt/usb", "/mnt/usb"}, {"//", "/"}, {"/a//", "/a"}};
    for (const auto& [mountPoint, name] : cases)
        EXPECT_EQ(Str(DriveNameFromMountPoint(QString::fromUtf8(mountPoint))), name) << mountPoint;
}

TEST(UnmountedSample, ListsCardsWithoutAFileSystemAndLeavesOutWhatCannotBeScanned)
{
    QTemporaryDir dir;
    const QString sysRoot = dir.path() + QStringLiteral("/sys");
    test::MaterializeSysfs(test::ReadSample(QStringLiteral("cardreader.sysfs")), sysRoot);
    const QSet<QString> mounted = {
        QFileInfo(sysRoot + QStringLiteral("/dev/block/8:1")).canonicalFilePath(),
        QFileInfo(sysRoot + QStringLiteral("/dev/block/254:0")).canonicalFilePath(),
    };
    // What libblkid would read on each node; sdb5 and the eMMC have lost theirs.
    const std::map<QString, VolumeIdentity> identities = {
        {"/dev/sda", {"gpt", ""}},      {"/dev/sdb", {"dos", ""}},          {"/dev/sdb1", {"vfat", "EOS_DIGITAL"}},
        {"/dev/loop0", {"squashfs", ""}}, {"/dev/zram0", {"swap", ""}},
    };
    QStringList probed;
    const auto probe = [&](const QString& node) {
        probed << node;
        const auto it = identities.find(node);
        return it == identities.end() ? VolumeIdentity{} : it->second;
    };

    const std::vector<DriveRecord> drives = BuildUnmountedRecords(SysfsReader(sysRoot), mounted, probe);

    struct Row {
        const char* name;
        const char* disk;
        quint64 capacity;
        const char* fileSystem;
        const char* label;
        const char* type;
    } const expected[] = {
        {"/dev/mmcblk0", "/dev/mmcblk0", 61071360ull * 512, "unknown", "", "Local Disk"},
        {"/dev/sda", "/dev/sda", 1000215216ull * 512, "gpt", "", "Local Disk"},
        {"/dev/sdb", "/dev/sdb", 31116288ull * 512, "dos", "", "Removable Disk"},
        {"/dev/sdb1", "/dev/sdb", 20480000ull * 512, "vfat", "EOS_DIGITAL", "Removable Disk"},
        {"/dev/sdb5", "/dev/sdb", 10633216ull * 512, "unknown", "", "Removable Disk"},
    };
    ASSERT_EQ(drives.size(), std::size(expected));
    for (size_t i = 0; i < drives.size(); ++i) {
        const DriveRecord& d = drives[i];
        const Row& e = expected[i];
        EXPECT_EQ(Str(d.name), e.name) << i;
        EXPECT_EQ(Str(d.device), e.name);
        EXPECT_EQ(Str(d.engineDevice), e.disk) << e.name;
        EXPECT_EQ(Str(d.physicalPath), e.disk) << e.name;
        EXPECT_EQ(d.capacity, e.capacity) << e.name;
        EXPECT_EQ(Str(d.fileSystem), e.fileSystem) << e.name;
        EXPECT_EQ(Str(d.label), e.label) << e.name;
        EXPECT_EQ(Str(d.typeText), e.type) << e.name;
        EXPECT_FALSE(d.mounted);
    }
    for (const char* skipped : {"/dev/sdc", "/dev/sdb2", "/dev/sda2", "/dev/zram0", "/dev/mmcblk0boot0", "/dev/loop1"})
        EXPECT_FALSE(probed.contains(QString::fromUtf8(skipped))) << skipped << " is not even read";
}

TEST(DriveToolTipTest, NamesTheVolumeItsDeviceLabelAndSize)
{
    DriveRecord card;
    card.name = "/media/user/EOS_DIGITAL";
    card.device = "/dev/sdb1";
    card.engineDevice = "/dev/sdb";
    card.label = "EOS_DIGITAL";
    card.capacity = 31914983424ULL;
    EXPECT_EQ(Str(DriveToolTip(card)),
              "/media/user/EOS_DIGITAL\nDevice: /dev/sdb1\nLabel: EOS_DIGITAL\nSize: 29.7 GB\n"
              "Scanned through the whole disk /dev/sdb");
    card.name = card.device = card.engineDevice = "/dev/sdc";
    card.mounted = false;
    card.label.clear();
    card.capacity = 2048;
    EXPECT_EQ(Str(DriveToolTip(card)), "/dev/sdc\nNot mounted\nSize: 2.0 KB");
}
