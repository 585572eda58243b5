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
        udevRoot = dir.path() + QStringLiteral("/udev");
        test::MaterializeSysfs(test::ReadSample(QStringLiteral("desktop.sysfs")), sysRoot);
        test::MaterializeSysfs(test::ReadSample(QStringLiteral("desktop.udev")), udevRoot);
        mounts = ParseMountInfo(test::ReadSample(QStringLiteral("desktop.mountinfo")));
    }

    QString DeviceDir(const char* majorMinor) const
    {
        return QFileInfo(sysRoot + QStringLiteral("/dev/block/") + QLatin1String(majorMinor)).canonicalFilePath();
    }

    QTemporaryDir dir;
    QString sysRoot;
    QString udevRoot;
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

    const std::vector<DriveRecord> drives =
        BuildDriveRecords(mounts, SysfsReader(sysRoot), UdevDatabase(udevRoot), capacityOf);

    // Each row describes the whole disk the scan reads: its kind, its maker's
    // names (udev first, sysfs without a udev record) and its own size (the
    // file system's where sysfs has none).
    const struct {
        const char* name;
        const char* disk;
        quint64 capacity;
        const char* fileSystem;
        const char* kind;
        const char* model;
    } expected[] = {
        {"/", "/dev/sda", 976773168ull * 512, "ext4", "Internal disk", "Samsung SSD 860 EVO 500GB"},
        {"/boot/efi", "/dev/sda", 976773168ull * 512, "vfat", "Internal disk", "Samsung SSD 860 EVO 500GB"},
        {"/btr", "/dev/nvme1n1", 114, "btrfs", "Internal disk", ""},
        {"/data", "/dev/nvme0n1", 1953525168ull * 512, "ext4", "Internal disk", "Samsung SSD 970 EVO Plus 1TB"},
        {"/home", "/dev/sda", 976773168ull * 512, "ext4", "Internal disk", "Samsung SSD 860 EVO 500GB"},
        {"/legacy", "/dev/cciss/c0d0", 116, "ext3", "Internal disk", ""},
        {"/media/cdrom", "/dev/sr0", 108, "iso9660", "Compact Disc", "HL-DT-ST DVD+-RW GH24NSD1"},
        {"/media/sd", "/dev/mmcblk0", 62333952ull * 512, "vfat", "SD card", "SD32G"},
        {"/media/user/My Photos", "/dev/nvme0n1", 1953525168ull * 512, "ext4", "Internal disk",
         "Samsung SSD 970 EVO Plus 1TB"},
        {"/media/user/STICK", "/dev/sdb", 30031872ull * 512, "vfat", "USB disk", "SanDisk Cruzer Blade"},
        {"/media/user/tab\tand\\slash", "/dev/sdb", 30031872ull * 512, "ext4", "USB disk", "SanDisk Cruzer Blade"},
        {"/mirror", "/dev/sde", 111, "ext4", "Internal disk", "WDC WD40EFRX-68N"},
        {"/mnt/image", "/dev/loop1", 104, "ext4", "Loop device", "disk.img"},
        {"/var/tmp/z", "/dev/zram0", 117, "ext4", "", ""},
    };
    ASSERT_EQ(drives.size(), std::size(expected));
    for (size_t i = 0; i < drives.size(); ++i) {
        const DriveRecord& d = drives[i];
        const auto& e = expected[i];
        EXPECT_EQ(Str(d.name), e.name) << i;
        EXPECT_EQ(Str(d.physicalPath), e.disk) << e.name;
        EXPECT_EQ(Str(d.engineDevice), e.disk) << e.name;
        EXPECT_EQ(d.capacity, e.capacity) << e.name;
        EXPECT_EQ(Str(d.fileSystem), e.fileSystem) << e.name;
        EXPECT_EQ(Str(d.typeText), e.kind) << e.name;
        EXPECT_EQ(Str(d.model), e.model) << e.name;
    }
    EXPECT_EQ(Str(InformationText(drives[9])), "USB disk, SanDisk Cruzer Blade");
    EXPECT_EQ(Str(InformationText(drives[2])), "Internal disk");
    EXPECT_EQ(drives[0].volumeSize, 100u) << "the file system's own size stays for the tool tip";

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
    test::MaterializeSysfs(test::ReadSample(QStringLiteral("cardreader.udev")), dir.path() + QStringLiteral("/udev"));
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

    const std::vector<DriveRecord> drives = BuildUnmountedRecords(SysfsReader(sysRoot), UdevDatabase(dir.path() + QStringLiteral("/udev")), mounted, probe);

    // A whole disk with a partition table says so instead of naming a file
    // system; every row shows the size of the disk the scan reads.
    struct Row {
        const char* name;
        const char* disk;
        quint64 volumeSize;
        const char* fileSystem;
        const char* label;
        const char* type;
        const char* information;
        quint64 capacity;
    } const expected[] = {
        {"/dev/loop2", "/dev/loop2", 2097152ull * 512, "unknown", "", "Loop device", "Loop device, card copy.img",
         2097152ull * 512},
        {"/dev/mmcblk0", "/dev/mmcblk0", 61071360ull * 512, "unknown", "", "Internal disk", "Internal disk",
         61071360ull * 512},
        {"/dev/sda", "/dev/sda", 1000215216ull * 512, "GPT partitions", "", "Internal disk", "Internal disk",
         1000215216ull * 512},
        {"/dev/sdb", "/dev/sdb", 31116288ull * 512, "MBR partitions", "", "SD card", "SD card, Generic- SD/MMC",
         31116288ull * 512},
        {"/dev/sdb1", "/dev/sdb", 20480000ull * 512, "vfat", "EOS_DIGITAL", "SD card", "SD card, Generic- SD/MMC",
         31116288ull * 512},
        {"/dev/sdb5", "/dev/sdb", 10633216ull * 512, "unknown", "", "SD card", "SD card, Generic- SD/MMC",
         31116288ull * 512},
    };
    ASSERT_EQ(drives.size(), std::size(expected));
    for (size_t i = 0; i < drives.size(); ++i) {
        const DriveRecord& d = drives[i];
        const Row& e = expected[i];
        EXPECT_EQ(Str(d.name), e.name) << i;
        EXPECT_EQ(Str(d.device), e.name);
        EXPECT_EQ(Str(d.engineDevice), e.disk) << e.name;
        EXPECT_EQ(Str(d.physicalPath), e.disk) << e.name;
        EXPECT_EQ(d.volumeSize, e.volumeSize) << e.name;
        EXPECT_EQ(d.capacity, e.capacity) << e.name;
        EXPECT_EQ(Str(FileSystemText(d)), e.fileSystem) << e.name;
        EXPECT_EQ(Str(d.label), e.label) << e.name;
        EXPECT_EQ(Str(d.typeText), e.type) << e.name;
        EXPECT_EQ(Str(InformationText(d)), e.information) << e.name;
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
    card.model = "SanDisk Ultra";
    card.volumeSize = 31914983424ULL;
    card.capacity = 31914983424ULL + 4194304;
    EXPECT_EQ(Str(DriveToolTip(card)),
              "/media/user/EOS_DIGITAL\nDevice: /dev/sdb1\nLabel: EOS_DIGITAL\nDisk: SanDisk Ultra\n"
              "Volume size: 29.7 GB\nDisk size: 29.7 GB\nScanned through the whole disk /dev/sdb");
    card.name = card.device = card.engineDevice = "/dev/sdc";
    card.mounted = false;
    card.label.clear();
    card.model.clear();
    card.capacity = card.volumeSize = 2048;
    EXPECT_EQ(Str(DriveToolTip(card)), "/dev/sdc\nNot mounted\nDisk size: 2.0 KB");
}
