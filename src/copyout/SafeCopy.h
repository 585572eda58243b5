#pragma once
#include <QString>

namespace snapmend {

// Creates the output folder's last component when the folder does not exist
// (a missing parent is not created). False when it is not a folder afterwards.
bool EnsureOutputFolder(const QString& folder);

struct CopyOutcome {
    bool ok = false;
    int error = 0;  // errno of the step that failed
};

// Copies a regular file onto target, replacing a file of that name. The bytes
// go to a hidden temporary file beside the target, are flushed to the disk and
// renamed into place, so the target is either the old file or the complete
// copy: on any failure (a full disk, a vanished source) the temporary file is
// removed and the target is left as it was.
CopyOutcome CopyFileReplacing(const QString& source, const QString& target);

}  // namespace snapmend
