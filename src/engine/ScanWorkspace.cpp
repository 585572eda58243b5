#include "ScanWorkspace.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <unistd.h>

#include "EngineInstallation.h"
#include "Ownership.h"
#include "Paths.h"
#include "carver/device_identity.h"

namespace snapmend {
namespace {

const QString kTempParentPrefix = QStringLiteral("snapmend-");
const QString kEngineOutputName = QStringLiteral("temp");
// Held workspace descriptors get numbers that ordinary opens, which take the
// lowest free number, do not reuse soon: a stale path to a workspace must not
// reach some other folder.
constexpr int kHeldDescriptorFloor = 200;
// Scans started within the same second get a numbered name.
constexpr int kMaxNameTries = 100;

// A real folder of the running user that nobody else may enter; on a file
// system without owners and modes (a FAT card or stick), any real folder:
// the mount decides who owns it, and it can hold no link.
bool IsPrivateFolderFd(int fd)
{
    const std::optional<FileStatus> status = StatusOf(fd);
    if (!status || status->kind != FileKind::Folder)
        return false;
    return (status->owner == ::geteuid() && (status->permissions & 077) == 0) || !KeepsOwnersAndModes(fd);
}

UniqueFd HoldHigh(UniqueFd fd)
{
    if (!fd.valid())
        return fd;
    const int high = DuplicateHigh(fd.get(), kHeldDescriptorFloor);
    return high >= 0 ? UniqueFd(high) : std::move(fd);
}

UniqueFd Duplicate(int fd) { return UniqueFd(DuplicateHigh(fd, kHeldDescriptorFloor)); }

ScanWorkspace MakeWorkspace(const ScanArea& area, UniqueFd folder, const QString& name)
{
    ScanWorkspace workspace;
    workspace.root = DescriptorPath(folder.get());
    workspace.engineOutputDir = JoinPath(workspace.root, kEngineOutputName);
    workspace.location = JoinPath(area.location, name);
    workspace.handle =
        std::make_shared<WorkspaceHandle>(Duplicate(area.fd.get()), std::move(folder), name, workspace.location);
    return workspace;
}

}  // namespace

QString TempWorkspaceName(const QDateTime& localTime)
{
    const QDate d = localTime.date();
    const QTime t = localTime.time();
    return QString::asprintf("tempdata%d%02d%02d_%02d%02d%02d", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                             t.second());
}

std::optional<ScanArea> OpenScanArea(const QString& outputFolder, ScanAreaProblem* problem)
{
    const auto fail = [problem](ScanAreaProblem why) {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    if (problem)
        *problem = ScanAreaProblem::None;
    // The folder the user chose may itself be a link: that is their choice.
    const UniqueFd output = OpenFolder(outputFolder, LastLink::Follow);
    if (!output.valid())
        return fail(ScanAreaProblem::NoOutputFolder);
    if (!MakeFolderAt(output.get(), kScanAreaName, 0700) && errno != EEXIST)
        return fail(ScanAreaProblem::CannotCreate);
    UniqueFd area = HoldHigh(OpenFolderAt(output.get(), kScanAreaName));
    if (!area.valid())
        return fail(errno == ELOOP || errno == ENOTDIR ? ScanAreaProblem::NotPrivate : ScanAreaProblem::CannotCreate);
    if (!IsPrivateFolderFd(area.get()))
        return fail(ScanAreaProblem::NotPrivate);
    ScanArea result;
    result.reach = DescriptorPath(area.get());
    result.fd = std::move(area);
    result.location = JoinPath(outputFolder, kScanAreaName);
    return result;
}

QString ScanAreaProblemText(ScanAreaProblem problem, const QString& outputFolder)
{
    const QString area = JoinPath(outputFolder, kScanAreaName);
    switch (problem) {
    case ScanAreaProblem::NoOutputFolder:
        return QStringLiteral("The output folder \"%1\" does not exist and cannot be made. Snapmend keeps the scan "
                              "data in the output folder.\n\nPlease choose a folder on another disk than the one to "
                              "scan.")
            .arg(outputFolder);
    case ScanAreaProblem::NotPrivate:
        return QStringLiteral("Failed to initialize data. \"%1\" is not a private folder of Snapmend (it belongs to "
                              "another user, or is a link or a file).\n\nRemove it, or choose another output folder.")
            .arg(area);
    default:
        return QStringLiteral("Failed to initialize data");
    }
}

WorkspaceHandle::WorkspaceHandle(UniqueFd area, UniqueFd folder, QString name, QString location)
    : m_area(std::move(area)), m_folder(std::move(folder)), m_name(std::move(name)), m_location(std::move(location))
{
}

void WorkspaceHandle::Delete()
{
    if (m_area.valid() && !m_name.isEmpty())
        DeleteFolderTreeAt(m_area.get(), m_name);
    m_folder.Close();
    m_area.Close();
}

std::optional<ScanWorkspace> CreateScanWorkspace(const ScanArea& area, const QDateTime& localTime)
{
    const QString stem = TempWorkspaceName(localTime);
    for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
        const QString name = attempt == 0 ? stem : stem + QStringLiteral("_%1").arg(attempt);
        if (!MakeFolderAt(area.fd.get(), name, 0700)) {
            if (errno == EEXIST)
                continue;
            return std::nullopt;
        }
        UniqueFd folder = HoldHigh(OpenFolderAt(area.fd.get(), name));
        if (!folder.valid() || !IsPrivateFolderFd(folder.get()) ||
            !MakeFolderAt(folder.get(), kEngineOutputName, 0700)) {
            DeleteFolderTreeAt(area.fd.get(), name);
            return std::nullopt;
        }
        return MakeWorkspace(area, std::move(folder), name);
    }
    return std::nullopt;
}

std::optional<ScanWorkspace> OpenScanWorkspace(const ScanArea& area, const QString& name)
{
    UniqueFd folder = HoldHigh(OpenFolderAt(area.fd.get(), name));
    if (!folder.valid() || !IsPrivateFolderFd(folder.get()))
        return std::nullopt;
    return MakeWorkspace(area, std::move(folder), name);
}

std::vector<UnfinishedScan> UnfinishedScans(const ScanArea& area)
{
    std::vector<UnfinishedScan> found;
    QStringList names = FolderEntries(area.fd.get());
    std::sort(names.begin(), names.end());
    for (const QString& name : names) {
        const UniqueFd folder = OpenFolderAt(area.fd.get(), name);
        if (!folder.valid() || !IsPrivateFolderFd(folder.get()))
            continue;
        const QString output = JoinPath(DescriptorPath(folder.get()), kEngineOutputName);
        if (std::optional<ScanCheckpoint> checkpoint = ReadCheckpoint(output); checkpoint && checkpoint->Continuable())
            found.push_back({name, std::move(*checkpoint)});
    }
    return found;
}

std::optional<UnfinishedScan> FindUnfinishedScan(const ScanArea& area, const QString& identity)
{
    if (identity.isEmpty())
        return std::nullopt;
    std::vector<UnfinishedScan> scans = UnfinishedScans(area);
    for (auto it = scans.rbegin(); it != scans.rend(); ++it)
        if (it->checkpoint.identity == identity)
            return std::move(*it);
    return std::nullopt;
}

void RemoveFinishedScans(const ScanArea& area)
{
    QStringList keep;
    for (const UnfinishedScan& scan : UnfinishedScans(area))
        keep << scan.name;
    for (const QString& name : FolderEntries(area.fd.get()))
        if (!keep.contains(name))
            DeleteFolderTreeAt(area.fd.get(), name);
}

QString DeviceIdentity(const QString& device)
{
    const UniqueFd fd = OpenForReading(device);
    if (!fd.valid())
        return {};
    const std::optional<FileStatus> status = StatusOf(fd.get());
    if (!status || (status->kind != FileKind::Regular && status->kind != FileKind::BlockDevice))
        return {};
    return QString::fromStdString(carver::identity::device_identity(fd.get()));
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
