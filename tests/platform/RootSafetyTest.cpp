// A second, unprivileged local user attacks what the program does as root.
// Each attack must leave nothing written outside the workspace and the output
// folder, no file of another user copied, nothing blocking, and a clear
// refusal where the program refuses.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "ChildProcess.h"
#include "CopyOutRun.h"
#include "CopyPlan.h"
#include "EngineCommand.h"
#include "EngineInstallation.h"
#include "FileSystem.h"
#include "Ownership.h"
#include "Paths.h"
#include "SafeCopy.h"
#include "ScanFixture.h"
#include "ScanWorkspace.h"
#include "ScriptedUiServices.h"
#include "SingleInstance.h"
#include "UiServices.h"

using namespace snapmend;
using snapmend::test::ReadAll;

namespace {

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

struct stat Lstat(const QString& path)
{
    struct stat info {};
    ::lstat(Native(path).constData(), &info);
    return info;
}

class Attack : public ::testing::Test {
protected:
    // The throwaway user has a home of its own and a supplementary group
    // besides its primary one.
    static void SetUpTestSuite()
    {
        if (::geteuid() != 0)
            return;
        s_name = "snapatk" + QUuid::createUuid().toString(QUuid::Id128).left(8).toLocal8Bit();
        const QString name = QString::fromLatin1(s_name);
        QByteArray home = "/tmp/snapatk-home-XXXXXX";
        if (!::mkdtemp(home.data()) || QProcess::execute("groupadd", {name + "g"}) != 0)
            return;
        s_home = QFile::decodeName(home);
        if (QProcess::execute("useradd", {"-M", "-N", "-d", s_home, "-s", "/usr/sbin/nologin", "-G", name + "g",
                                          name}) != 0)
            return;
        const passwd* entry = ::getpwnam(s_name.constData());
        const group* extra = ::getgrnam((s_name + "g").constData());
        if (!entry || !extra || ::chown(home.constData(), entry->pw_uid, entry->pw_gid) != 0)
            return;
        s_uid = entry->pw_uid;
        s_gid = entry->pw_gid;
        s_extraGroup = extra->gr_gid;
    }
    static void TearDownTestSuite()
    {
        if (!s_name.isEmpty()) {
            QProcess::execute("userdel", {QString::fromLatin1(s_name)});
            QProcess::execute("groupdel", {QString::fromLatin1(s_name) + "g"});
        }
        if (!s_home.isEmpty())
            DeleteFolderTree(s_home, true);
    }

    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "attacks need root to make a throwaway user";
        if (s_uid == 0)
            GTEST_SKIP() << "useradd failed: no throwaway user";
        ASSERT_TRUE(scratch.isValid());
        ASSERT_EQ(::chmod(Native(scratch.path()).constData(), 0755), 0);
        // A folder the attacker owns, and one only root may read.
        attackerDir = scratch.path() + "/attacker";
        rootOnly = scratch.path() + "/rootonly";
        ASSERT_TRUE(QDir().mkpath(attackerDir) && QDir().mkpath(rootOnly));
        ASSERT_EQ(::chown(Native(attackerDir).constData(), s_uid, s_gid), 0);
        ASSERT_EQ(::chmod(Native(rootOnly).constData(), 0700), 0);
        secret = rootOnly + "/secret";
        QFile file(secret);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("root's secret") > 0);
        file.close();
        ASSERT_EQ(::chmod(Native(secret).constData(), 0600), 0);
    }

    void TearDown() override
    {
        for (pid_t pid : helpers) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        for (const QString& path : planted) {
            if (S_ISDIR(Lstat(path).st_mode))
                DeleteFolderTree(path, true);
            else
                ::unlink(Native(path).constData());
        }
    }

    // Runs `attack` in a child process as the throwaway user; its exit code
    // (0: the attack step succeeded).
    static int AsAttacker(const std::function<int()>& attack)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(s_gid, s_gid, s_gid) != 0 ||
                ::setresuid(s_uid, s_uid, s_uid) != 0)
                ::_exit(99);
            ::_exit(attack());
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
    }

    // Leaves a process of the attacker running `attack` until the test ends.
    void AsAttackerInBackground(const std::function<void()>& attack)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(s_gid, s_gid, s_gid) != 0 ||
                ::setresuid(s_uid, s_uid, s_uid) != 0)
                ::_exit(99);
            attack();
            for (;;)
                ::pause();
        }
        helpers.push_back(pid);
    }

    static inline QByteArray s_name;
    static inline QString s_home;
    static inline uid_t s_uid = 0;
    static inline gid_t s_gid = 0;
    static inline gid_t s_extraGroup = 0;

    QTemporaryDir scratch;
    QString attackerDir;
    QString rootOnly;
    QString secret;
    std::vector<pid_t> helpers;
    QStringList planted;
};

// The scan workspace in an output folder the attacker owns: a scans' folder
// the attacker made is refused; during a real scan the attacker swaps the
// scans' folder for a link into a root-only folder and plants links and FIFOs.
TEST_F(Attack, WorkspaceInTheAttackersOutputFolderCannotBeRedirected)
{
    const QString output = attackerDir + "/Pictures";
    const QString area = output + "/.snapmend-scans";
    ASSERT_EQ(AsAttacker([&] {
                  int failed = ::mkdir(Native(output).constData(), 0755) != 0;
                  failed += ::symlink(Native(rootOnly).constData(), Native(area).constData()) != 0;
                  return failed;
              }),
              0);
    EXPECT_FALSE(OpenScanArea(output)) << "a scans' folder planted as a link";
    ASSERT_EQ(AsAttacker([&] { return ::unlink(Native(area).constData()); }), 0);

    const std::optional<ScanArea> scans = OpenScanArea(output);
    ASSERT_TRUE(scans);
    const std::optional<ScanWorkspace> workspace = CreateScanWorkspace(*scans, QDateTime::currentDateTime());
    ASSERT_TRUE(workspace);
    EXPECT_TRUE(IsPrivateFolder(area));
    EXPECT_TRUE(IsPrivateFolder(workspace->location));

    // The attacker moves the scans' folder away and plants a link in its place before the engine starts.
    const QString moved = output + "/moved";
    ASSERT_EQ(AsAttacker([&] {
                  int failed = ::rename(Native(area).constData(), Native(moved).constData()) != 0;
                  failed += ::symlink(Native(rootOnly).constData(), Native(area).constData()) != 0;
                  return failed;
              }),
              0);
    const QString image = scratch.path() + "/card.img";
    ASSERT_EQ(test::MakePhotoImage(image, 3, 4 << 20).size(), 3u);
    const QString engine = test::BuildDir() + "/engine/kestrova/photo";
    std::unique_ptr<ChildProcess> scan =
        ChildProcess::Start(engine, BuildEngineCommand(workspace->engineOutputDir, image, "jpg").arguments);
    ASSERT_TRUE(scan);
    const QString outputSeen = moved + "/" + workspace->handle->Name() + "/temp";
    const int plantedInside = AsAttacker([&] {
        int made = 0;
        made += ::symlink("/etc/shadow", Native(outputSeen + "/f0000000000.jpg").constData()) == 0;
        made += ::mkfifo(Native(outputSeen + "/f0000000001.jpg").constData(), 0666) == 0;
        made += ::open(Native(outputSeen).constData(), O_RDONLY | O_DIRECTORY) >= 0;
        return made;
    });
    EXPECT_EQ(scan->Wait(), 0);
    EXPECT_EQ(plantedInside, 0) << "the attacker reached into the workspace";

    const QStringList results = QDir(outputSeen).entryList(QDir::Files);
    EXPECT_EQ(results.size(), 3) << "the engine wrote where the window holds the workspace";
    for (const QString& name : results) {
        const struct stat info = Lstat(outputSeen + "/" + name);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 077, 0u) << "a result other users can read: " << name.toStdString();
    }
    EXPECT_EQ(QDir(rootOnly).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"secret"})
        << "written through a planted link";
    workspace->handle->Delete();
    EXPECT_FALSE(QFileInfo::exists(moved + "/" + workspace->handle->Name())) << "deleted where it is";
    EXPECT_TRUE(QFileInfo::exists(secret));
}

// The copy-out into a folder the attacker can write: links and FIFOs under the
// result names, and results that are themselves links or FIFOs.
TEST_F(Attack, CopyOutNeitherFollowsNorBlocksNorReplaces)
{
    const QString output = attackerDir + "/out";
    ASSERT_EQ(AsAttacker([&] {
                  int failed = ::mkdir(Native(output).constData(), 0777) != 0;
                  failed += ::symlink(Native(secret).constData(), Native(output + "/f1.jpg").constData()) != 0;
                  failed += ::mkfifo(Native(output + "/f2.jpg").constData(), 0666) != 0;
                  return failed;
              }),
              0);
    const QString workspace = scratch.path() + "/ws";
    ASSERT_TRUE(QDir().mkpath(workspace));
    for (const char* name : {"f1.jpg", "f2.jpg"}) {
        QFile result(workspace + "/" + name);
        ASSERT_TRUE(result.open(QIODevice::WriteOnly) && result.write(QByteArray("photo ") + name) > 0);
    }
    ASSERT_EQ(::symlink(Native(secret).constData(), Native(workspace + "/f3.jpg").constData()), 0);
    ASSERT_EQ(::mkfifo(Native(workspace + "/f4.jpg").constData(), 0600), 0);

    for (const char* name : {"f1.jpg", "f2.jpg"}) {
        const CopyOutcome copied = CopyToNewFile(workspace + "/" + name, output, name);
        ASSERT_TRUE(copied.ok) << name;
        EXPECT_EQ(QFileInfo(copied.target).fileName(), QString(name).replace(".jpg", " (2).jpg"));
        EXPECT_EQ(ReadAll(copied.target), QByteArray("photo ") + name);
    }
    EXPECT_EQ(ReadAll(secret), "root's secret") << "written through the planted link";
    EXPECT_TRUE(S_ISLNK(Lstat(output + "/f1.jpg").st_mode));
    EXPECT_TRUE(S_ISFIFO(Lstat(output + "/f2.jpg").st_mode));
    for (const char* name : {"f3.jpg", "f4.jpg"}) {
        const CopyOutcome refused = CopyToNewFile(workspace + "/" + name, output, name);
        EXPECT_FALSE(refused.ok) << name;
    }
    EXPECT_FALSE(QFileInfo::exists(output + "/f3.jpg")) << "another user's file was copied";
    EXPECT_FALSE(QFileInfo::exists(output + "/f4.jpg"));
}

// A lock file pre-created and held in the temporary folder, where the lock
// used to live, and an attempt on the private runtime folder.
TEST_F(Attack, PreCreatedLockFileDoesNotStopTheProgram)
{
    const QString lockName = "KestrovaSnapmend Test " + QUuid::createUuid().toString(QUuid::Id128);
    const QString fileName = SingleInstance::ServerName(lockName) + ".lock";
    const QString oldPlace = "/tmp/" + fileName;
    planted << oldPlace;
    const QString runtime = PrivateRuntimeFolder(UserDataFolder());
    ASSERT_FALSE(runtime.isEmpty());
    AsAttackerInBackground([&] {
        const int fd = ::open(Native(oldPlace).constData(), O_RDWR | O_CREAT, 0666);
        ::flock(fd, LOCK_EX);
        ::open(Native(runtime + "/" + fileName).constData(), O_RDWR | O_CREAT, 0666);
    });
    ASSERT_TRUE(test::WaitUntil([&] { return QFileInfo::exists(oldPlace); }));
    EXPECT_FALSE(QFileInfo::exists(runtime + "/" + fileName));

    QProcess probe;
    probe.start(test::BuildDir() + "/tests/app/single_instance_probe", {lockName, "Kestrova Snapmend"});
    ASSERT_TRUE(probe.waitForReadyRead(10000));
    EXPECT_EQ(QString::fromLatin1(probe.readLine()).trimmed(), "first");
    probe.kill();
    probe.waitForFinished(5000);
}

// Engine folders the attacker could change: refused with the installation
// message and a line saying why; the build tree's engine passes.
TEST_F(Attack, EngineOutsideOthersReachOnly)
{
    const auto makePieces = [](const QString& folder) {
        int failed = ::mkdir(Native(folder).constData(), 0755) != 0;
        static const char script[] = "#!/bin/sh\ntouch /tmp/owned\n";
        for (const char* piece : {"/photo", "/libcarver.so"}) {
            const int fd = ::open(Native(folder + piece).constData(), O_WRONLY | O_CREAT, 0755);
            failed += fd < 0 || ::write(fd, script, sizeof script - 1) != static_cast<ssize_t>(sizeof script - 1);
            ::close(fd);
        }
        return failed + (::mkdir(Native(folder + "/formats").constData(), 0755) != 0);
    };
    const QString own = attackerDir + "/kestrova";
    ASSERT_EQ(AsAttacker([&] { return makePieces(own); }), 0);
    const QString open = scratch.path() + "/open";
    ASSERT_EQ(makePieces(open), 0);
    ASSERT_EQ(::chmod(Native(open).constData(), 0777), 0);
    const QString linked = scratch.path() + "/linked";
    ASSERT_EQ(makePieces(linked), 0);
    ASSERT_EQ(::unlink(Native(linked + "/photo").constData()), 0);
    ASSERT_EQ(::symlink(Native(own + "/photo").constData(), Native(linked + "/photo").constData()), 0);

    const struct {
        QString folder;
        const char* why;
    } refused[] = {
        {own, "belongs to another user"},
        {open, "can be changed by other users"},
        {linked, "belongs to another user"},
    };
    for (const auto& c : refused) {
        Notices notices;
        QString enginePath;
        EXPECT_FALSE(CheckEngineFolder(c.folder, enginePath, notices)) << c.folder.toStdString();
        ASSERT_EQ(test::TextsOf(notices).size(), 1u);
        EXPECT_TRUE(test::TextsOf(notices)[0].startsWith("Failed to load engine, error code -1003. Installation may be corrupted"));
        EXPECT_TRUE(test::TextsOf(notices)[0].contains(c.why)) << test::TextsOf(notices)[0].toStdString();
    }
    Notices notices;
    QString enginePath;
    EXPECT_TRUE(CheckEngineFolder(test::BuildDir() + "/engine/kestrova", enginePath, notices));
    EXPECT_TRUE(notices.empty());
}

// Started through pkexec or sudo by the throwaway user: everything written to
// the output folder is written in their name, and the folder opener runs as
// them. A root login keeps root's rights.
class PersonRights : public Attack {
protected:
    void SetUp() override
    {
        Attack::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        for (const char* name : {"PKEXEC_UID", "SUDO_UID", "PATH", "DISPLAY", "XAUTHORITY", "SNAPMEND_ROOT_ONLY"})
            saved.emplace_back(name, qgetenv(name));
        qputenv("PKEXEC_UID", QByteArray::number(s_uid));
        qputenv("SUDO_UID", QByteArray::number(s_uid));
        person = InvokingPerson();
        ASSERT_TRUE(person);
        ASSERT_EQ(person->uid, s_uid);
        // The workspace: root's private folder, as a scan leaves it.
        workspace = scratch.path() + "/ws/temp";
        ASSERT_TRUE(QDir().mkpath(workspace));
        ASSERT_EQ(::chmod(Native(scratch.path() + "/ws").constData(), 0700), 0);
    }
    void TearDown() override
    {
        for (const auto& [name, value] : saved) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
        Attack::TearDown();
    }
    static void LoginAsRoot()
    {
        qunsetenv("PKEXEC_UID");
        qunsetenv("SUDO_UID");
    }

    // Results below the workspace, private to root like the engine's.
    std::vector<QString> Results(const QStringList& relativePaths)
    {
        std::vector<QString> sources;
        for (const QString& relative : relativePaths) {
            sources.push_back(workspace + "/" + relative);
            EXPECT_TRUE(QDir().mkpath(QFileInfo(sources.back()).path()));
            QFile file(sources.back());
            EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(relative.toUtf8()) > 0);
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        return sources;
    }
    // A whole recovery as the window runs it.
    CopyRun Recover(const std::vector<QString>& sources, const QString& output)
    {
        CopyOutRun run;
        run.Begin(sources, workspace);
        run.Start(output);
        while (!run.Finished())
            ::usleep(1000);
        CopyRun done;
        for (const QString& source : sources)
            run.WasCopied(source) ? ++done.copied : ++done.failed;
        return done;
    }
    // Every regular file and folder below `folder`, links not followed.
    static QStringList Tree(const QString& folder)
    {
        QStringList entries;
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << it.next();
        return entries;
    }

    std::vector<std::pair<const char*, QByteArray>> saved;
    std::optional<Account> person;
    QString workspace;
};

TEST_F(PersonRights, PicturesLinkedToARootOnlyFolderIsRefusedAndNothingLandsThere)
{
    const QString pictures = s_home + "/Pictures";
    ASSERT_EQ(AsAttacker([&] { return ::symlink(Native(rootOnly).constData(), Native(pictures).constData()); }), 0);
    ASSERT_EQ(UserPicturesFolder(), pictures);

    const std::optional<QString> refusal = OutputFolderRefusal(pictures, person);
    ASSERT_TRUE(refusal) << "the person cannot write there, root can";
    EXPECT_EQ(*refusal, "Output directory \"" + pictures + "\" cannot be written by " + QString::fromLatin1(s_name) +
                            ".\n\nPlease choose a folder that " + QString::fromLatin1(s_name) + " can write to.");
    EXPECT_TRUE(OutputFolderRefusal(rootOnly + "/new", person)) << "a folder to be made where they cannot";
    EXPECT_FALSE(OutputFolderRefusal(attackerDir, person));
    EXPECT_FALSE(OutputFolderRefusal(attackerDir + "/new", person));

    // Past the refusal (a link made after it), the copy itself is refused by the kernel.
    const CopyRun done = Recover(Results({"f1.jpg", "DCIM/100CAMERA/DSC_0412.JPG"}), pictures);
    EXPECT_EQ(done.copied, 0);
    EXPECT_FALSE(EnsureOutputFolder(pictures + "/sub", person));
    EXPECT_EQ(Tree(rootOnly), QStringList{secret}) << "created in the root-only folder";

    LoginAsRoot();
    EXPECT_FALSE(OutputFolderRefusal(pictures, InvokingPerson())) << "root's own login writes as root";
}

TEST_F(PersonRights, CopiesAreTheirsByCreationAndTheirGroupsCount)
{
    // A folder the person may write only through their supplementary group.
    const QString shared = scratch.path() + "/shared";
    ASSERT_TRUE(QDir().mkpath(shared));
    ASSERT_EQ(::chown(Native(shared).constData(), 0, s_extraGroup), 0);
    ASSERT_EQ(::chmod(Native(shared).constData(), 0770), 0);
    EXPECT_FALSE(OutputFolderRefusal(shared, person));
    const std::vector<QString> sources = Results({"f1.jpg", "DCIM/100CAMERA/DSC_0412.JPG"});
    const CopyRun done = Recover(sources, shared);
    EXPECT_EQ(done.copied, 2);
    const struct {
        const char* path;
        unsigned mode;
    } made[] = {{"/f1.jpg", 0600}, {"/DCIM", 0700}, {"/DCIM/100CAMERA", 0700}, {"/DCIM/100CAMERA/DSC_0412.JPG", 0600}};
    for (const auto& m : made) {
        const struct stat info = Lstat(shared + m.path);
        EXPECT_EQ(info.st_uid, s_uid) << m.path;
        EXPECT_EQ(info.st_gid, s_gid) << m.path;
        EXPECT_EQ(info.st_mode & 07777, m.mode) << m.path;
    }
    EXPECT_EQ(ReadAll(shared + "/DCIM/100CAMERA/DSC_0412.JPG"), "DCIM/100CAMERA/DSC_0412.JPG");

    LoginAsRoot();
    const QString rootsOwn = scratch.path() + "/roots";
    EXPECT_EQ(Recover(sources, rootsOwn).copied, 2);
    for (const char* path : {"", "/f1.jpg", "/DCIM/100CAMERA/DSC_0412.JPG"})
        EXPECT_EQ(Lstat(rootsOwn + path).st_uid, 0u) << path;
}

// While the copy runs, the person keeps swapping a folder inside the output
// folder for a link to a root-only folder. (The output folder itself as such
// a link is the Pictures case above.)
TEST_F(PersonRights, AFolderSwappedForALinkDuringTheCopyLetsNothingOut)
{
    const QString output = attackerDir + "/out";
    ASSERT_EQ(AsAttacker([&] {
                  return (::mkdir(Native(output).constData(), 0755) != 0) +
                         (::mkdir(Native(output + "/DCIM").constData(), 0755) != 0);
              }),
              0);
    AsAttackerInBackground([&] {
        const QByteArray target = Native(rootOnly);
        const QByteArray name = Native(output + "/DCIM");
        const QByteArray aside = name + ".real";
        for (;;) {
            if (::rename(name.constData(), aside.constData()) != 0)
                continue;
            ::symlink(target.constData(), name.constData());
            ::usleep(200);
            ::unlink(name.constData());
            ::rename(aside.constData(), name.constData());
        }
    });
    QStringList relative;
    for (int i = 0; i < 300; ++i)
        relative << (i % 3 ? QStringLiteral("DCIM/100CAMERA/f%1.jpg") : QStringLiteral("f%1.jpg")).arg(i);
    const CopyRun done = Recover(Results(relative), output);
    for (pid_t pid : helpers) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    helpers.clear();
    EXPECT_GT(done.copied, 0) << "the swaps left no time to copy anything: the test shows nothing";
    EXPECT_EQ(Tree(rootOnly), QStringList{secret}) << "written through a swapped link";
    int found = 0;
    for (const QString& entry : Tree(attackerDir)) {
        const struct stat info = Lstat(entry);
        if (S_ISREG(info.st_mode)) {
            ++found;
            EXPECT_EQ(info.st_uid, s_uid) << entry.toStdString();
        }
    }
    EXPECT_EQ(found, done.copied);
}

TEST_F(PersonRights, TheFolderOpenerRunsAsThePersonWithTheirEnvironment)
{
    const QString bin = scratch.path() + "/bin";
    ASSERT_TRUE(QDir().mkpath(bin));
    QFile opener(bin + "/xdg-open");
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly) &&
                opener.write("#!/bin/sh\n{ id -u; id -g; id -G; env; } > \"$1/opened.tmp\" && "
                             "mv \"$1/opened.tmp\" \"$1/opened\"\n") > 0);
    opener.close();
    ASSERT_EQ(::chmod(Native(opener.fileName()).constData(), 0755), 0);
    qputenv("PATH", Native(bin) + ":" + qgetenv("PATH"));
    qputenv("DISPLAY", ":97");
    qputenv("XAUTHORITY", Native(secret));  // root's: not theirs to read
    qputenv("SNAPMEND_ROOT_ONLY", "x");

    QtUiServices ui;
    ASSERT_TRUE(ui.OpenWithDefaultHandler(attackerDir));
    const QString record = attackerDir + "/opened";
    ASSERT_TRUE(test::WaitUntil([&] { return QFileInfo::exists(record); }, 10000));
    const QStringList lines = QString::fromUtf8(ReadAll(record)).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0].toUInt(), s_uid);
    EXPECT_EQ(lines[1].toUInt(), s_gid);
    const QStringList groups = lines[2].split(' ');
    EXPECT_TRUE(groups.contains(QString::number(s_extraGroup))) << lines[2].toStdString();
    EXPECT_FALSE(groups.contains("0")) << lines[2].toStdString();
    const QStringList environment = lines.mid(3);
    for (const QString& expected :
         {"HOME=" + s_home, "USER=" + QString::fromLatin1(s_name), QString("DISPLAY=:97"),
          QString("PATH=/usr/local/bin:/usr/bin:/bin"), QStringLiteral("XDG_RUNTIME_DIR=/run/user/%1").arg(s_uid)})
        EXPECT_TRUE(environment.contains(expected)) << expected.toStdString();
    for (const QString& entry : environment) {
        EXPECT_FALSE(entry.startsWith("SNAPMEND_ROOT_ONLY=")) << "root's environment passed on";
        EXPECT_FALSE(entry.startsWith("XAUTHORITY=")) << "a file they cannot read";
    }

    qputenv("PATH", Native(scratch.path() + "/nowhere"));
    EXPECT_FALSE(ui.OpenWithDefaultHandler(attackerDir)) << "no opener: the window shows the path";
}

// kill -9 of the front-end in the middle of a scan: the engine goes with it.
TEST(EngineLife, EndsWithinASecondOfTheFrontEndsKill)
{
    QTemporaryDir scratch;
    const QString image = scratch.path() + "/big.img";
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(qint64(64) << 30)) << "sparse 64 GiB image";
    file.close();
    QProcess frontEnd;
    frontEnd.start(test::BuildDir() + "/tests/platform/engine_parent_probe",
                   {test::BuildDir() + "/engine/kestrova/photo", scratch.path() + "/out", image});
    ASSERT_TRUE(frontEnd.waitForReadyRead(10000));
    const pid_t engine = QString::fromLatin1(frontEnd.readLine()).trimmed().toInt();
    ASSERT_GT(engine, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const QString stat = QStringLiteral("/proc/%1/stat").arg(engine);
    ASSERT_TRUE(QFileInfo::exists(stat)) << "the engine ended before the kill";

    ::kill(static_cast<pid_t>(frontEnd.processId()), SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    // Gone, or a zombie waiting to be reaped by init: either way it runs no more.
    const auto running = [&] {
        const QByteArray text = ReadAll(stat);
        const int close = text.lastIndexOf(')');
        return close > 0 && text.size() > close + 2 && text[close + 2] != 'Z';
    };
    while (running() && std::chrono::steady_clock::now() - killed < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - killed);
    EXPECT_FALSE(running());
    EXPECT_LT(took.count(), 1000) << "the engine outlived the front-end by " << took.count() << " ms";
    frontEnd.waitForFinished(5000);
}

}  // namespace
