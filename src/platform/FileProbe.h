#pragma once
#include <QString>

namespace snapmend {

// True when no process is writing the file: a non-blocking exclusive flock on
// a fresh read-only open succeeds. The engine holds such a lock on a file it
// is still writing. False also when the file cannot be opened (gone, a link,
// no permission). Never blocks.
bool IsFileWriteFinished(const QString& path);
// The same for a file already open.
bool IsOpenFileWriteFinished(int fd);

}  // namespace snapmend
