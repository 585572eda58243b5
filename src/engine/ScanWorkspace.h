#pragma once
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>

#include "Notice.h"

namespace snapmend {

// The C runtime's linear congruential generator, never seeded: the first
// draws are 41, 18467, 6334, 26500, ...
class CrtRandom {
public:
    int Next()
    {
        m_state = m_state * 214013u + 2531011u;
        return static_cast<int>((m_state >> 16) & 0x7FFF);
    }

private:
    std::uint32_t m_state = 1;
};

// The process's one generator that picks where each scan's workspace goes.
CrtRandom& WorkspaceBranchRandom();

// An odd draw puts the workspace in the per-user folder, an even one in the
// temporary folder.
inline bool UsesPerUserWorkspace(int draw) { return draw % 2 == 1; }

// "tempdata" + local date and time, e.g. tempdata20240131_235907.
QString TempWorkspaceName(const QDateTime& localTime);

struct ScanWorkspace {
    QString root;             // emptied, ready for a scan
    QString engineOutputDir;  // root + "/temp" (or "/temp_1" when the old one survived)
};

// Chooses and creates the workspace of a new scan: a fresh folder of mode
// 0700, either "kestrova/data" in the per-user data folder or a "tempdata..."
// folder inside this process's private parent in the temporary folder (made by
// mkdtemp; a temporary folder others can change is refused). Says "Failed to
// initialize data" and returns nothing when a folder cannot be created, and
// "Internal error, error code: -1008" when an old engine output folder could
// not be deleted (the scan then goes on with "_1" appended). Those messages
// are appended to `notices` for the caller to show.
std::optional<ScanWorkspace> PrepareScanWorkspace(CrtRandom& random, const QString& appDataFolder,
                                                  const QString& tempFolder, const QDateTime& localTime,
                                                  Notices& notices);

// Removes the workspaces a crashed run left behind: the per-user data root
// and the private parents in the temporary folder that are provably ours
// (owned by the running user, mode 0700, not links). Call only while holding
// the single-instance lock, so that no other run of this user is using them.
void RemoveStaleWorkspaces(const QString& appDataFolder, const QString& tempFolder);

}  // namespace snapmend
