// Output folders that are mount points left without their disk.
#include <QSet>
#include <gtest/gtest.h>

#include "MountPointIntent.h"

using namespace snapmend;

TEST(MountPointTest, FindsTheMountPointAFolderWasMeantToLieOn)
{
    const QStringList fstab = ParseFstabMountPoints(
        "# <file system> <mount point> <type> <options> <dump> <pass>\n"
        "UUID=1234 / ext4 errors=remount-ro 0 1\n"
        "UUID=5678 none swap sw 0 0\n"
        "/dev/sdb1\t/srv/backup\\040disk  ext4 noauto 0 2\n"
        "LABEL=ARCHIVE /data/archive/ xfs defaults 0 2\n"
        "broken-line\n");
    ASSERT_EQ(fstab, QStringList({"/", "/srv/backup disk", "/data/archive"}));

    const QStringList mounted = {"/", "/home", "/media/user/STICK", "/data/archive"};
    const QSet<QString> occupied = {"/srv/backup disk", "/mnt/old", "/media/user"};  // hold files
    const auto emptyOrMissing = [&](const QString& path) { return !occupied.contains(path); };
    const struct {
        const char* folder;
        const char* meant;  // nullptr: no question
    } cases[] = {
        {"/media/user/CARD", "/media/user/CARD"},             // a desktop's mount point, its card gone
        {"/media/user/CARD/DCIM/saved", "/media/user/CARD"},  // deeper inside it
        {"/mnt/usb", "/mnt/usb"},
        {"/run/media/anna/SD/out", "/run/media/anna/SD"},
        {"/media/user/STICK/saved", nullptr},                 // that disk is mounted
        {"/data/archive/photos", nullptr},                    // fstab's disk is mounted
        {"/srv/backup disk/photos", nullptr},                 // not empty: written there before
        {"/mnt/old/photos", nullptr},
        {"/home/user/Pictures", nullptr},                     // an ordinary folder
        {"/mnt", nullptr},
        {"/", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<QString> meant = MeantMountPoint(c.folder, mounted, fstab, emptyOrMissing);
        if (!c.meant)
            EXPECT_FALSE(meant) << c.folder << " -> " << meant->toStdString();
        else
            EXPECT_EQ(meant, std::optional<QString>(c.meant)) << c.folder;
    }
    // An fstab entry outside the usual places, its disk not mounted and the folder empty.
    EXPECT_EQ(MeantMountPoint("/srv/backup disk/photos", {"/"}, fstab, [](const QString&) { return true; }),
              std::optional<QString>("/srv/backup disk"));
}
