#pragma once
#include <QString>
#include <QStringList>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "FileSystem.h"
#include "Ownership.h"

namespace snapmend {

// Everything below is done in the output folder with the file-system identity
// of `person` (see ActingAsPerson) when one is given: the kernel allows only
// what they could do themselves, and what is created is theirs. The sources
// in the workspace are opened with the program's own rights.

// Creates the output folder's last component when the folder does not exist
// (a missing parent is not created), private to its maker. False when it is
// not a folder afterwards.
bool EnsureOutputFolder(const QString& folder, const std::optional<Account>& person = std::nullopt);

// False when `person` may not create files in `folder` (or, when the folder
// does not exist yet, in its parent); true when they may, or when that is
// for the copy to find out (nothing there at all, not a folder).
bool PersonMayWriteFolder(const QString& folder, const std::optional<Account>& person);

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
// elsewhere a failed copy is removed. The file gets mode 0600.
CopyOutcome CopyToNewFile(const QString& source, const QString& folder, const QString& fileName,
                          const std::optional<Account>& person = std::nullopt);

// Copies into one output folder in batches, with the guarantees of
// CopyToNewFile and far fewer waits for the disk. A copy may go to a
// sub-folder path below the output folder: its folders are opened or made
// (mode 0700) one at a time, each inside the one before and never through a
// link; where one cannot be (a link, a file, no permission) the copy goes to
// the deepest folder reached. Each copy is written to an unnamed file and its
// write-back started at once; Commit waits until the batch's contents are on
// the disk (one flush of the file system for all of them), then names the
// copies in the order they were added, then flushes their folders, so that a
// name never shows before its content is safe and no copy is reported done
// before its name is. A batch destroyed without Commit leaves no file behind
// (folders it made stay). Where the file system has no unnamed files, Add
// copies the file completely and at once.
class CopyBatch {
public:
    CopyBatch(QString folder, std::optional<Account> person);

    // Copies `source` to be named `fileName` (or the first free "name (n).ext")
    // in the sub-folder path `subfolders` at the next Commit. Nothing when it
    // waits for that commit; otherwise the outcome, final already (a failure,
    // or a copy made at once).
    std::optional<CopyOutcome> Add(int tag, const QString& source, const QString& fileName,
                                   const QStringList& subfolders = {});
    // Copies waiting for Commit, and their bytes.
    int Size() const { return static_cast<int>(m_pending.size()); }
    qint64 Bytes() const { return m_bytes; }
    // Flushes and names the waiting copies: each one's tag and outcome, in the order added.
    std::vector<std::pair<int, CopyOutcome>> Commit();

private:
    struct Folder {
        UniqueFd fd;
        QString path;
        bool dirty = false;  // holds a name or a folder not flushed yet
    };
    struct Pending {
        int tag = 0;
        QString fileName;
        QString folderKey;
        UniqueFd file;
    };
    bool OpenFolderOnce();
    // The deepest folder of `subfolders` that can be had safely, and its key.
    std::pair<QString, Folder*> Reach(const QStringList& subfolders);
    void MarkDirty(const QString& key);
    bool FlushDirtyFolders();
    std::optional<CopyOutcome> AddAsPerson(int tag, int in, qint64 size, const QString& fileName,
                                           const QStringList& subfolders);

    QString m_folder;
    std::optional<Account> m_person;
    std::map<QString, Folder> m_folders;  // "" is the output folder; keys are relative paths
    int m_dirError = 0;
    bool m_unnamedUnsupported = false;
    std::vector<Pending> m_pending;
    qint64 m_bytes = 0;
};

}  // namespace snapmend
