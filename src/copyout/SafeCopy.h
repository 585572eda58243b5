#pragma once
#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "FileSystem.h"

#include "Ownership.h"

namespace snapmend {

// Creates the output folder's last component when the folder does not exist
// (a missing parent is not created), private to its owner and handed to
// `owner` when one is given. False when it is not a folder afterwards.
bool EnsureOutputFolder(const QString& folder, const std::optional<Account>& owner = std::nullopt);

struct CopyOutcome {
    bool ok = false;
    int error = 0;   // errno of the step that failed
    QString target;  // the file written, when ok
};

// Copies the regular file `source` into `folder` as a new file: `fileName`,
// or the first free "name (n).ext" (n >= 2) when a file of that name exists.
// Nothing in the folder is ever replaced, and neither the source nor the
// target is opened through a symbolic link; a source that is not a regular
// file (a FIFO, a device) is refused without blocking. The copy appears under
// its name only when complete where the file system allows (O_TMPFILE);
// elsewhere a failed copy is removed. The file gets mode 0600 and, when
// `owner` is given, that owner and group.
CopyOutcome CopyToNewFile(const QString& source, const QString& folder, const QString& fileName,
                          const std::optional<Account>& owner = std::nullopt);

// Copies into one folder in batches, with the guarantees of CopyToNewFile and
// far fewer waits for the disk. Each copy is written to an unnamed file and
// its write-back started at once; Commit waits until the batch's contents are
// on the disk (one flush of the file system for all of them), then names the
// copies in the order they were added, then flushes the folder, so that a
// name never shows before its content is safe and no copy is reported done
// before its name is. A batch destroyed without Commit leaves nothing behind.
// Where the file system has no unnamed files, Add copies the file completely
// and at once.
class CopyBatch {
public:
    CopyBatch(QString folder, std::optional<Account> owner);

    // Copies `source` to be named `fileName` (or the first free "name (n).ext")
    // at the next Commit. Nothing when it waits for that commit; otherwise
    // the outcome, final already (a failure, or a copy made at once).
    std::optional<CopyOutcome> Add(int tag, const QString& source, const QString& fileName);
    // Copies waiting for Commit, and their bytes.
    int Size() const { return static_cast<int>(m_pending.size()); }
    qint64 Bytes() const { return m_bytes; }
    // Flushes and names the waiting copies: each one's tag and outcome, in the order added.
    std::vector<std::pair<int, CopyOutcome>> Commit();

private:
    struct Pending {
        int tag = 0;
        QString fileName;
        UniqueFd file;
    };
    bool OpenFolderOnce();

    QString m_folder;
    std::optional<Account> m_owner;
    UniqueFd m_dir;
    int m_dirError = 0;
    bool m_unnamedUnsupported = false;
    std::vector<Pending> m_pending;
    qint64 m_bytes = 0;
};

}  // namespace snapmend
