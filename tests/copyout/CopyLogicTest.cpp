// The copy plan, the texts of a recovery, target names and the single-file copy.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSet>

#include "CopyOutRun.h"
#include "CopyPlan.h"
#include "Paths.h"
#include "SafeCopy.h"
#include "TargetNames.h"

using namespace snapmend;

namespace {

std::string Str(const QString& s) { return s.toStdString(); }

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList Entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

TEST(CopyPlan, PhotosComeFirstInRowOrderThenFiles)
{
    const std::vector<int> photos{0, 3};
    const std::vector<int> files{2};
    struct Case {
        int k;
        bool present;
        bool photo;
        int row;
    };
    const Case cases[] = {{0, true, true, 0}, {1, true, true, 3}, {2, true, false, 2}, {3, false, false, -1},
                          {-1, false, false, -1}};
    for (const Case& c : cases) {
        const std::optional<CopyItem> item = CopyItemAt(photos, files, c.k);
        ASSERT_EQ(item.has_value(), c.present) << "k=" << c.k;
        if (item) {
            EXPECT_EQ(item->photo, c.photo) << "k=" << c.k;
            EXPECT_EQ(item->row, c.row) << "k=" << c.k;
        }
    }
    EXPECT_FALSE(CopyItemAt({}, {}, 0));
    EXPECT_EQ(CopyItemAt({}, {5}, 0)->row, 5);
}

TEST(CopyTexts, ProgressAndOutputDirectoryMessage)
{
    EXPECT_EQ(Str(RecoveringText(2, 3)), "Recovering photo 2 of 3");
    EXPECT_EQ(Str(RecoveringText(70000, 70001)), "Recovering photo 70000 of 70001");
    EXPECT_EQ(Str(OutputDirectoryMessage("/media/out")), "Output directory \"/media/out\" does not exists.");
    EXPECT_EQ(Str(OutputDirectoryMessage("")), "Output directory \"\" does not exists.");
}

TEST(CopyTexts, FinalReportCountsOnlyFilesCopied)
{
    struct Case {
        int copied, missing, failed;
        const char* text;
        const char* caption;
        bool offer, keep;
    };
    const Case cases[] = {
        {3, 0, 0, "3 files recovered.\n\nDo you want to view recovered files?", "Confirm", true, false},
        {0, 0, 0, "0 files recovered.\n\nDo you want to view recovered files?", "Confirm", true, false},
        {2, 1, 0,
         "2 files recovered.\n\n1 files could not be recovered, they are no longer in the scan results.\n\n"
         "Do you want to view recovered files?",
         "Confirm", true, false},
        {1, 1, 2,
         "1 files recovered.\n\n3 files could not be recovered, they are still selected.\n\n"
         "Please check the output folder and press 'Recover' to try again.",
         "Snapmend", false, true},
    };
    for (const Case& c : cases) {
        const FinalReport report = MakeFinalReport(c.copied, c.missing, c.failed);
        EXPECT_EQ(Str(report.text), c.text);
        EXPECT_EQ(Str(report.caption), c.caption);
        EXPECT_EQ(report.offerToOpen, c.offer) << c.text;
        EXPECT_EQ(report.keepResults, c.keep) << c.text;
    }
}

TEST(TargetNames, FileNamesAndNumberedNames)
{
    const std::pair<const char*, const char*> names[] = {
        {"/ws/temp/f1234.jpg", "f1234.jpg"}, {"/ws/a/b/notes", "notes"}, {"plain.txt", "plain.txt"}};
    for (const auto& [path, name] : names)
        EXPECT_EQ(Str(SourceFileName(path)), name);
    // Names from a workspace an older or tampered engine wrote.
    const std::pair<QString, const char*> targets[] = {{".bashrc", "_bashrc"},
                                                       {"..", "_."},
                                                       {QString::fromUtf8("gpj.\u202Eexe"), "gpj.\uFFFDexe"},
                                                       {"DSC_0001.JPG", "DSC_0001.JPG"}};
    for (const auto& [workspaceName, target] : targets)
        EXPECT_EQ(TargetName(workspaceName), QString::fromUtf8(target));
    const std::pair<const char*, const char*> numbered[] = {{"f1.jpg", "f1 (2).jpg"},
                                                            {"archive.tar.gz", "archive.tar (2).gz"},
                                                            {"README", "README (2)"},
                                                            {".profile", ".profile (2)"}};
    for (const auto& [name, expected] : numbered)
        EXPECT_EQ(Str(NumberedFileName(name, 2)), expected);
}

// Two cards give the same result names: a clash never replaces a file, in one
// recovery or across recoveries.
TEST(SafeCopy, ClashesGetTheNextFreeNumberAndNothingIsReplaced)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString out = work.filePath("out");
    QDir().mkdir(out);
    ASSERT_TRUE(WriteFile(out + "/a.jpg", "earlier card"));
    ASSERT_TRUE(WriteFile(out + "/a (3).jpg", "user's own"));
    const char* const expected[] = {"a (2).jpg", "a (4).jpg", "a (5).jpg"};
    for (int i = 0; i < 3; ++i) {
        const QString source = work.filePath(QStringLiteral("card%1.jpg").arg(i));
        ASSERT_TRUE(WriteFile(source, QByteArray("card ") + QByteArray::number(i)));
        const CopyOutcome copied = CopyToNewFile(source, out + "/", "a.jpg");
        ASSERT_TRUE(copied.ok) << strerror(copied.error);
        EXPECT_EQ(Str(copied.target), Str(out + "/" + expected[i]));
        EXPECT_EQ(ReadFile(copied.target), QByteArray("card ") + QByteArray::number(i));
    }
    EXPECT_EQ(ReadFile(out + "/a.jpg"), QByteArray("earlier card"));
    EXPECT_EQ(ReadFile(out + "/a (3).jpg"), QByteArray("user's own"));
}

TEST(TargetNames, SubfoldersBelowTheSourceRoot)
{
    const struct {
        const char* path;
        const char* root;
        QStringList folders;
    } cases[] = {
        {"/ws/temp/DCIM/100CAMERA/DSC_0412.JPG", "/ws/temp", {"DCIM", "100CAMERA"}},
        {"/ws/temp/DCIM/100CAMERA/DSC_0412.JPG", "/ws/temp/", {"DCIM", "100CAMERA"}},
        {"/ws/temp/f1.jpg", "/ws/temp", {}},
        {"/ws/temp2/a/f1.jpg", "/ws/temp", {}},  // a sibling whose name starts alike
        {"/elsewhere/a/f1.jpg", "/ws/temp", {}},
        {"/ws/temp/a/f1.jpg", "", {}},
        {"/ws/temp/../x/./y//f1.jpg", "/ws/temp", {"x", "y"}},  // never climbs
    };
    for (const auto& c : cases)
        EXPECT_EQ(SourceSubfolders(c.path, c.root), c.folders) << c.path << " below " << c.root;
}

// A recovery keeps the folders a file had in the workspace, made one at a time
// below the output folder; a link or a file in the way is never followed: the
// copy goes to the deepest real folder reached. Clashes are numbered inside
// the folder.
TEST(CopyOutRun, KeepsOriginalFoldersAndStopsAtLinksAndFiles)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString root = work.filePath("ws/temp");
    const QString out = work.filePath("out");
    const QString elsewhere = work.filePath("elsewhere");
    for (const QString& folder : {root, out + "/DCIM/100CAMERA", elsewhere})
        ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(WriteFile(out + "/DCIM/100CAMERA/DSC_1.JPG", "older"));
    ASSERT_TRUE(WriteFile(out + "/plain", "a file, not a folder"));
    ASSERT_EQ(::symlink(QFile::encodeName(elsewhere).constData(), QFile::encodeName(out + "/linked").constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(elsewhere).constData(), QFile::encodeName(out + "/DCIM/lnk").constData()),
              0);
    const struct {
        const char* source;  // below the workspace root
        const char* target;  // below the output folder
    } cases[] = {
        {"top.jpg", "top.jpg"},
        {"DCIM/100CAMERA/DSC_1.JPG", "DCIM/100CAMERA/DSC_1 (2).JPG"},
        {"Documents/a/b/notes.txt", "Documents/a/b/notes.txt"},
        {"linked/x/l.jpg", "l.jpg"},
        {"plain/p.jpg", "p.jpg"},
        {"DCIM/lnk/y/d.jpg", "DCIM/d.jpg"},
    };
    std::vector<QString> sources;
    for (const auto& c : cases) {
        sources.push_back(root + "/" + c.source);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(sources.back()).path()));
        ASSERT_TRUE(WriteFile(sources.back(), c.source));
    }
    sources.push_back(work.filePath("ws/outside.jpg"));  // not below the root: the top
    ASSERT_TRUE(WriteFile(sources.back(), "outside"));

    CopyOutRun run;
    run.Begin(sources, root);
    run.Start(out);
    while (!run.Finished())
        ::usleep(1000);
    EXPECT_EQ(run.Report().text, "7 files recovered.\n\nDo you want to view recovered files?");
    for (const auto& c : cases)
        EXPECT_EQ(ReadFile(out + "/" + c.target), QByteArray(c.source)) << c.source;
    EXPECT_EQ(ReadFile(out + "/outside.jpg"), QByteArray("outside"));
    EXPECT_EQ(ReadFile(out + "/DCIM/100CAMERA/DSC_1.JPG"), QByteArray("older"));
    EXPECT_TRUE(QDir(elsewhere).isEmpty()) << "written through a link";
    for (const char* made : {"Documents", "Documents/a", "Documents/a/b"}) {
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(out + "/" + made).constData(), &info), 0) << made;
        EXPECT_EQ(info.st_mode & 0777, 0700u) << made;
    }
}

TEST(OutputFolder, CreatesOnlyTheLastComponent)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(WriteFile(root.filePath("a-file"), "x"));
    struct Case {
        QString folder;
        bool ok;
    };
    const Case cases[] = {
        {root.path(), true},                            // exists already
        {root.filePath("new"), true},                   // last component created
        {root.filePath("made/"), true},                 // trailing slash
        {root.filePath("missing/parent/out"), false},   // the parent is not created
        {root.filePath("a-file"), false},               // a file is not a folder
        {QString(), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EnsureOutputFolder(c.folder), c.ok) << Str(c.folder);
    EXPECT_TRUE(QFileInfo(root.filePath("new")).isDir());
    EXPECT_FALSE(QFileInfo::exists(root.filePath("missing")));
}

TEST(SafeCopy, CopiesAndLeavesNothingBehindOnFailure)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString source = work.filePath("src.bin");
    QByteArray bytes(3 * 1024 * 1024 + 17, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 131 + (i >> 9));
    ASSERT_TRUE(WriteFile(source, bytes));
    QDir().mkdir(work.filePath("out"));

    const CopyOutcome ok = CopyToNewFile(source, work.filePath("out"), "src.bin");
    EXPECT_TRUE(ok.ok) << strerror(ok.error);
    EXPECT_EQ(ReadFile(work.filePath("out/src.bin")), bytes);

    // A vanished source and a folder as source fail without touching the output folder.
    const CopyOutcome vanished = CopyToNewFile(work.filePath("gone.jpg"), work.filePath("out"), "gone.jpg");
    EXPECT_FALSE(vanished.ok);
    EXPECT_EQ(vanished.error, ENOENT);
    EXPECT_FALSE(CopyToNewFile(work.filePath("out"), work.filePath("out"), "folder").ok);
    EXPECT_EQ(Entries(work.filePath("out")), QStringList{"src.bin"});
}

TEST(SafeCopy, AFullDiskLeavesNoPartialFileAndKeepsTheOlderFile)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString small = work.filePath("small");
    QDir().mkdir(small);
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", small}) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        QString dir;
        ~Unmount() { QProcess::execute("umount", {dir}); }
    } unmount{small};

    const QString source = work.filePath("big.jpg");
    ASSERT_TRUE(WriteFile(source, QByteArray(600 * 1024, 'j')));
    ASSERT_TRUE(WriteFile(small + "/big.jpg", "older"));

    const CopyOutcome full = CopyToNewFile(source, small, "big.jpg");
    EXPECT_FALSE(full.ok);
    EXPECT_EQ(full.error, ENOSPC) << strerror(full.error);
    EXPECT_EQ(Entries(small), QStringList{"big.jpg"}) << "no partial file is left";
    EXPECT_EQ(ReadFile(small + "/big.jpg"), QByteArray("older"));
}

TEST(CopyBatch, NamesAppearOnlyAtCommitInTheOrderAddedAndADroppedBatchLeavesNothing)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    const QString out = work.filePath("out");
    QDir().mkdir(out);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(WriteFile(work.filePath(QString("s%1").arg(i)), QByteArray(1000 + i, char('a' + i))));
    ASSERT_TRUE(WriteFile(out + "/same.jpg", "older"));
    {
        CopyBatch dropped(out, std::nullopt);
        EXPECT_FALSE(dropped.Add(0, work.filePath("s0"), "dropped.jpg").has_value());
        EXPECT_EQ(dropped.Size(), 1);
    }
    CopyBatch batch(out, std::nullopt);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(batch.Add(i, work.filePath(QString("s%1").arg(i)), "same.jpg").has_value());
    const std::optional<CopyOutcome> refused = batch.Add(9, out, "folder.jpg");
    ASSERT_TRUE(refused.has_value()) << "a source that is no regular file fails at once";
    EXPECT_FALSE(refused->ok);
    EXPECT_EQ(Entries(out), QStringList{"same.jpg"}) << "nothing named before the commit, nothing of the dropped batch";

    const auto outcomes = batch.Commit();
    ASSERT_EQ(outcomes.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(outcomes[i].first, i);
        EXPECT_TRUE(outcomes[i].second.ok);
    }
    EXPECT_EQ(Entries(out), (QStringList{"same (2).jpg", "same (3).jpg", "same (4).jpg", "same.jpg"}));
    EXPECT_EQ(ReadFile(out + "/same.jpg"), QByteArray("older"));
    EXPECT_EQ(ReadFile(out + "/same (3).jpg"), QByteArray(1001, 'b'));
    EXPECT_EQ(batch.Size(), 0);
}

// Stopped at any moment, a recovery leaves only whole copies under final
// names, exactly the ones it counts as copied; a source that cannot be copied
// (a FIFO) among them is counted as failed and never as copied.
TEST(CopyOutRun, AStopAtAnyMomentLeavesOnlyWholeCopiesAndTrueCounts)
{
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    QDir().mkdir(work.filePath("src"));
    std::vector<QString> sources;
    for (int i = 0; i < 640; ++i) {
        sources.push_back(work.filePath(QString("src/f%1.jpg").arg(i)));
        ASSERT_TRUE(WriteFile(sources.back(), QByteArray(4096 + i, char('a' + i % 26))));
    }
    const QString fifo = work.filePath("src/pipe.jpg");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    sources.insert(sources.begin() + 320, fifo);

    for (const int stopAfterMs : {60, 300, -1}) {  // -1: runs to its end
        SCOPED_TRACE(stopAfterMs);
        const QString out = work.filePath(QString("out%1").arg(stopAfterMs));
        CopyOutRun run;
        run.Begin(sources);
        run.Start(out);
        if (stopAfterMs >= 0) {
            ::usleep(static_cast<useconds_t>(stopAfterMs) * 1000);
            run.Stop();
        } else {
            while (!run.Finished())
                ::usleep(1000);
        }
        int copied = 0;
        QSet<QString> copiedNames;
        for (const QString& source : sources)
            if (run.WasCopied(source)) {
                ++copied;
                copiedNames.insert(QFileInfo(source).fileName());
            }
        const QStringList entries = QDir(out).exists() ? Entries(out) : QStringList();
        EXPECT_EQ(QSet<QString>(entries.begin(), entries.end()), copiedNames) << "no temporary or uncounted file";
        for (const QString& name : entries)
            EXPECT_EQ(ReadFile(out + "/" + name), ReadFile(work.filePath("src/" + name))) << Str(name);
        EXPECT_FALSE(run.WasCopied(fifo));
        EXPECT_GE(run.Done(), copied);
        EXPECT_LE(run.Done(), copied + 1) << "only the FIFO counts beside the copies";
        if (stopAfterMs < 0) {
            EXPECT_EQ(run.Done(), run.Total());
            EXPECT_EQ(copied, 640);
            EXPECT_TRUE(run.Report().keepResults) << "the failed FIFO stays selected";
            EXPECT_TRUE(run.Report().text.startsWith("640 files recovered.")) << Str(run.Report().text);
        }
    }
}
