// The file-system service: what it refuses to follow, open or wait for.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSystem.h"
#include "ThreadPriority.h"
#include "Sysfs.h"

using namespace snapmend;

namespace {

bool Touch(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

bool Link(const QString& target, const QString& link)
{
    return symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
}

}  // namespace

TEST(FileSystem, OpensForReadingNeverThroughALinkAndNeverWaiting)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    ASSERT_TRUE(Touch(d + "/file"));
    ASSERT_TRUE(Link(d + "/file", d + "/link"));
    ASSERT_EQ(mkfifo(QFile::encodeName(d + "/fifo").constData(), 0600), 0);
    ASSERT_TRUE(QDir().mkdir(d + "/folder"));
    struct Case {
        const char* name;
        int error;            // 0: opens
        FileKind kind;        // when it opens
    } cases[] = {
        {"file", 0, FileKind::Regular},
        {"link", ELOOP, FileKind::Other},
        {"fifo", 0, FileKind::Other},  // a writer-less FIFO must not block the open
        {"folder", 0, FileKind::Folder},
        {"missing", ENOENT, FileKind::Other},
    };
    for (const Case& c : cases) {
        errno = 0;
        const UniqueFd fd = OpenForReading(d + "/" + c.name);
        EXPECT_EQ(fd.valid() ? 0 : errno, c.error) << c.name;
        if (fd.valid())
            EXPECT_EQ(StatusOf(fd.get())->kind, c.kind) << c.name;
    }
    EXPECT_FALSE(OpenFolder(d + "/link", LastLink::Refuse).valid());
    ASSERT_TRUE(Link(d + "/folder", d + "/folderlink"));
    EXPECT_FALSE(OpenFolder(d + "/folderlink", LastLink::Refuse).valid());
    EXPECT_TRUE(OpenFolder(d + "/folderlink", LastLink::Follow).valid());
    EXPECT_FALSE(OpenFolderAt(OpenFolder(d, LastLink::Refuse).get(), "folderlink").valid());
}

TEST(FileSystem, NewFilesNeverReplaceOrFollowWhatIsThere)
{
    QTemporaryDir dir, outside;
    const QString d = dir.path();
    ASSERT_TRUE(Touch(d + "/taken"));
    ASSERT_TRUE(Link(outside.path() + "/planted", d + "/dangling"));
    const UniqueFd folder = OpenFolder(d, LastLink::Refuse);
    ASSERT_TRUE(folder.valid());

    for (const char* name : {"taken", "dangling"}) {
        errno = 0;
        EXPECT_FALSE(CreateNewFileAt(folder.get(), name, 0600).valid()) << name;
        EXPECT_EQ(errno, EEXIST) << name;
    }
    EXPECT_FALSE(QFileInfo::exists(outside.path() + "/planted")) << "the link's target must not appear";

    UniqueFd unnamed = CreateUnnamedFile(folder.get(), 0600);
    if (!unnamed.valid())
        GTEST_SKIP() << "this file system has no unnamed files (errno " << errno << ")";
    ASSERT_EQ(WriteSome(unnamed.get(), "abc", 3), 3);
    EXPECT_EQ(QDir(d).entryList(QDir::Files | QDir::System), QStringList({"dangling", "taken"})) << "invisible until named";
    errno = 0;
    EXPECT_FALSE(NameUnnamedFile(unnamed.get(), folder.get(), "taken"));
    EXPECT_EQ(errno, EEXIST);
    ASSERT_TRUE(NameUnnamedFile(unnamed.get(), folder.get(), "fresh"));
    QFile fresh(d + "/fresh");
    ASSERT_TRUE(fresh.open(QIODevice::ReadOnly));
    EXPECT_EQ(fresh.readAll(), "abc");
    EXPECT_EQ(StatusOfPath(d + "/fresh")->permissions, 0600u);
}

TEST(FileSystem, DeleteFolderTreeRemovesTheTreeButNeverFollowsALinkOut)
{
    QTemporaryDir outside, workspace;
    ASSERT_TRUE(Touch(outside.path() + "/precious.jpg"));
    const QString root = workspace.path() + "/ws";
    ASSERT_TRUE(QDir().mkpath(root + "/temp/a/b"));
    ASSERT_TRUE(Touch(root + "/temp/a/b/f1.jpg"));
    ASSERT_TRUE(Touch(root + "/temp/f2.png"));
    ASSERT_TRUE(Link(outside.path(), root + "/temp/link"));
    ASSERT_TRUE(Link(outside.path() + "/precious.jpg", root + "/filelink"));

    DeleteFolderTree(root + "/", true);  // a trailing separator deletes the same tree
    EXPECT_FALSE(QFileInfo::exists(root));
    EXPECT_TRUE(QFile::exists(outside.path() + "/precious.jpg")) << "the link's target must survive";

    ASSERT_TRUE(QDir().mkpath(root + "/x"));
    ASSERT_TRUE(Touch(root + "/x/y"));
    DeleteFolderTree(root, false);
    EXPECT_TRUE(QDir(root).exists()) << "without the flag the folder itself stays";
    EXPECT_TRUE(QDir(root).isEmpty());

    ASSERT_TRUE(Link(outside.path(), root + "/rootlink"));
    DeleteFolderTree(root + "/rootlink", true);
    EXPECT_FALSE(QFileInfo(root + "/rootlink").isSymLink()) << "a link given as the root is removed";
    EXPECT_TRUE(QFile::exists(outside.path() + "/precious.jpg"));
    DeleteFolderTree(QString(), true);  // nothing to do, no crash
}

TEST(FileSystem, UniqueFoldersArePrivateAndPipesNeverBlockTheReader)
{
    QTemporaryDir dir;
    const QString a = MakeUniqueFolder(dir.path(), "p-");
    const QString b = MakeUniqueFolder(dir.path(), "p-");
    ASSERT_FALSE(a.isEmpty());
    EXPECT_NE(a, b);
    EXPECT_TRUE(QFileInfo(a).fileName().startsWith("p-"));
    EXPECT_EQ(StatusOfEntry(a)->permissions, 0700u);
    EXPECT_TRUE(MakeUniqueFolder(dir.path() + "/missing", "p-").isEmpty());

    int readEnd = -1, writeEnd = -1;
    ASSERT_TRUE(MakePipe(readEnd, writeEnd));
    char byte;
    errno = 0;
    EXPECT_EQ(ReadSome(readEnd, &byte, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    CloseDescriptor(writeEnd);
    EXPECT_EQ(ReadSome(readEnd, &byte, 1), 0) << "the writer's end closed: the end of the data";
    CloseDescriptor(readEnd);
}

TEST(Sysfs, ReadsAFakeTreeThroughItsLinks)
{
    QTemporaryDir dir;
    const SysfsReader sysfs(dir.path() + "/sys");
    ASSERT_TRUE(QDir().mkpath(sysfs.Path("devices/disk/sda")));
    ASSERT_TRUE(QDir().mkpath(sysfs.Path("dev/block")));
    QFile size(sysfs.Path("devices/disk/sda/size"));
    ASSERT_TRUE(size.open(QIODevice::WriteOnly) && size.write("2048\n") == 5);
    size.close();
    ASSERT_TRUE(Link("../../devices/disk/sda", sysfs.Path("dev/block/8:0")));

    const QString disk = sysfs.Resolve(sysfs.Path("dev/block/8:0"));
    EXPECT_EQ(disk, QFileInfo(sysfs.Path("devices/disk/sda")).canonicalFilePath());
    EXPECT_EQ(sysfs.Read(disk + "/size"), "2048\n");
    EXPECT_EQ(sysfs.Entries(sysfs.Path("dev/block")), QStringList{"8:0"});
    EXPECT_TRUE(sysfs.Exists(disk + "/size"));
    EXPECT_TRUE(sysfs.Resolve(sysfs.Path("dev/block/8:1")).isEmpty());
    EXPECT_TRUE(sysfs.Read(disk + "/removable").isEmpty());
}

// Only the calling thread gives way: the thread that asked keeps its priority,
// and so does the rest of the process.
TEST(ThreadPriority, LowersTheCallingThreadAlone)
{
    const auto niceOf = [](pid_t thread) { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread)); };
    const pid_t self = static_cast<pid_t>(::syscall(SYS_gettid));
    const int before = niceOf(self);
    if (before > 0)
        GTEST_SKIP() << "the test runs with a lowered priority already";
    int worker = 0;
    int workerAfterTwoCalls = 0;
    std::thread([&] {
        const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
        LowerThisThreadPriority();
        worker = niceOf(tid);
        LowerThisThreadPriority();
        workerAfterTwoCalls = niceOf(tid);
    }).join();
    EXPECT_GT(worker, before);
    EXPECT_EQ(workerAfterTwoCalls, worker) << "asking again lowers nothing further";
    EXPECT_EQ(niceOf(self), before);
}
