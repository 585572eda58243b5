#include "ScanWorkspace.h"

#include <QDir>

#include "EngineInstallation.h"
#include "FileSystem.h"
#include "Ownership.h"
#include "Paths.h"

namespace snapmend {
namespace {

const QString kTempParentPrefix = QStringLiteral("snapmend-");

// Creates `path` afresh as a private folder. Whatever was there (ours: the
// parent is private) is deleted first; what cannot be deleted is reused when
// it is a private folder of ours.
bool CreateFreshFolder(const QString& path)
{
    DeleteFolderTree(path, true);
    return MakePrivateFolder(path);
}

// The process's private parent for temporary-folder workspaces: a fresh
// "snapmend-XXXXXX" made by mkdtemp, so nobody can guess or pre-create it.
// Removed with what is left in it when the process ends (no engine outlives
// the process); after a crash, RemoveStaleWorkspaces removes it.
struct TempParent {
    QString path;
    QString madeIn;
    ~TempParent() { DeleteFolderTree(path, true); }
};

QString PrivateTempParent(const QString& tempFolder)
{
    static TempParent parent;
    if (!parent.path.isEmpty() && parent.madeIn == tempFolder && IsPrivateFolder(parent.path))
        return parent.path;
    parent.path.clear();
    if (!IsPathTrusted(tempFolder, nullptr, true))
        return {};
    parent.path = MakeUniqueFolder(tempFolder, kTempParentPrefix);
    if (parent.path.isEmpty())
        return {};
    parent.madeIn = tempFolder;
    return parent.path;
}

}  // namespace

CrtRandom& WorkspaceBranchRandom()
{
    static CrtRandom random;
    return random;
}

QString TempWorkspaceName(const QDateTime& localTime)
{
    const QDate d = localTime.date();
    const QTime t = localTime.time();
    return QString::asprintf("tempdata%d%02d%02d_%02d%02d%02d", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                             t.second());
}

std::optional<ScanWorkspace> PrepareScanWorkspace(CrtRandom& random, const QString& appDataFolder,
                                                  const QString& tempFolder, const QDateTime& localTime,
                                                  Notices& notices)
{
    QString root;
    bool created = false;
    if (UsesPerUserWorkspace(random.Next())) {
        const QString engineFolder = JoinPath(appDataFolder, kEngineFolderName);
        root = JoinPath(engineFolder, QStringLiteral("data"));
        created = QDir().mkpath(appDataFolder) && IsPathTrusted(appDataFolder) && MakePrivateFolder(engineFolder) &&
                  CreateFreshFolder(root);
    } else {
        const QString parent = PrivateTempParent(tempFolder);
        root = JoinPath(parent, TempWorkspaceName(localTime));
        created = !parent.isEmpty() && CreateFreshFolder(root);
    }
    if (!created) {
        notices.push_back({QStringLiteral("Failed to initialize data")});
        return std::nullopt;
    }

    ScanWorkspace workspace;
    workspace.root = root;
    workspace.engineOutputDir = JoinPath(root, QStringLiteral("temp"));
    if (PathExists(workspace.engineOutputDir)) {
        notices.push_back({QStringLiteral("Internal error, error code: -1008")});
        workspace.engineOutputDir += QStringLiteral("_1");
    }
    return workspace;
}

void RemoveStaleWorkspaces(const QString& appDataFolder, const QString& tempFolder)
{
    const QString engineFolder = JoinPath(appDataFolder, kEngineFolderName);
    if (IsPrivateFolder(engineFolder) && IsPathTrusted(engineFolder))
        DeleteFolderTree(JoinPath(engineFolder, QStringLiteral("data")), true);
    if (!IsPathTrusted(tempFolder, nullptr, true))
        return;
    const QDir temp(tempFolder);
    const QStringList parents =
        temp.entryList({kTempParentPrefix + QStringLiteral("??????")}, QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& name : parents) {
        // Only a private folder of ours: nobody else can have made it, nobody else can have filled it.
        const QString parent = temp.filePath(name);
        if (IsPrivateFolder(parent))
            DeleteFolderTree(parent, true);
    }
}

}  // namespace snapmend
