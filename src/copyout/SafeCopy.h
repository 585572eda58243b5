#pragma once
#include <QString>
#include <optional>

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

}  // namespace snapmend
