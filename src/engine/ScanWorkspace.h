#pragma once
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "FileSystem.h"
#include "Notice.h"
#include "ScanCheckpoint.h"

namespace snapmend {

// The folder inside the output folder that holds the scans' workspaces: the
// scan data lies on the output folder's disk, never on the disk scanned.
inline const QString kScanAreaName = QStringLiteral(".snapmend-scans");

// "tempdata" + local date and time, e.g. tempdata20240131_235907.
QString TempWorkspaceName(const QDateTime& localTime);

// The scans' folder of one output folder, held open: a real folder (never a
// link) of the running user with no access for anybody else. The output
// folder may belong to the person who asked, who can rename entries in it;
// every later step goes through this descriptor, so a swap redirects nothing.
struct ScanArea {
    UniqueFd fd;
    QString location;  // where it lies, for messages: OUTPUT/.snapmend-scans
    QString reach;     // a path to the held folder itself (DescriptorPath)
};

enum class ScanAreaProblem { None, NoOutputFolder, NotPrivate, CannotCreate };

// Opens the output folder's scans' folder, creating it (0700) when missing.
std::optional<ScanArea> OpenScanArea(const QString& outputFolder, ScanAreaProblem* problem = nullptr);

// The message for a scans' folder that could not be had.
QString ScanAreaProblemText(ScanAreaProblem problem, const QString& outputFolder);

// One scan's workspace, held open by descriptor for as long as a copy lives.
class WorkspaceHandle {
public:
    WorkspaceHandle(UniqueFd area, UniqueFd folder, QString name, QString location);
    // The folder with everything in it goes; the handle reaches nothing after.
    void Delete();
    const QString& Name() const { return m_name; }
    const QString& Location() const { return m_location; }

private:
    UniqueFd m_area;
    UniqueFd m_folder;
    QString m_name;
    QString m_location;
};

struct ScanWorkspace {
    QString root;             // reaches the held folder (/proc/<pid>/fd/<n>), for this process and the engine
    QString engineOutputDir;  // root + "/temp": the engine's output folder, which the window lists
    QString location;         // where it lies, for messages
    std::shared_ptr<WorkspaceHandle> handle;
};

// A fresh private workspace in `area`, named after the local time, with its
// empty engine output folder. Nothing when it cannot be made.
std::optional<ScanWorkspace> CreateScanWorkspace(const ScanArea& area, const QDateTime& localTime);
// The existing workspace `name` of `area` (a private folder of ours, never a link).
std::optional<ScanWorkspace> OpenScanWorkspace(const ScanArea& area, const QString& name);

// A workspace whose engine stopped before the end of the disk and recorded where.
struct UnfinishedScan {
    QString name;
    ScanCheckpoint checkpoint;
};

// The workspaces of `area` that can be continued, oldest name first.
std::vector<UnfinishedScan> UnfinishedScans(const ScanArea& area);
// The newest one that continues the disk of `identity`.
std::optional<UnfinishedScan> FindUnfinishedScan(const ScanArea& area, const QString& identity);
// Removes every workspace of `area` that cannot be continued (left by a
// window that ended without cleaning up). Call only while holding the
// single-instance lock and with no scan of this window running there.
void RemoveFinishedScans(const ScanArea& area);

// The identity of the disk or image `device` (size, serial, hash of its first
// MiB), as the engine records it; empty when it cannot be read.
QString DeviceIdentity(const QString& device);

// Removes the workspaces that earlier versions kept in the per-user data
// folder and in private parents in the temporary folder. Call only while
// holding the single-instance lock.
void RemoveStaleWorkspaces(const QString& appDataFolder, const QString& tempFolder);

}  // namespace snapmend
