#include "FileProbe.h"

#include <cerrno>
#include <sys/file.h>

#include "FileSystem.h"

namespace snapmend {

bool IsFileWriteFinished(const QString& path)
{
    if (path.isEmpty())
        return false;
    // A FIFO does not block the open.
    const UniqueFd fd = OpenForReading(path);
    return fd.valid() && IsOpenFileWriteFinished(fd.get());
}

bool IsOpenFileWriteFinished(int fd)
{
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    const bool free = rc == 0;
    if (free)
        ::flock(fd, LOCK_UN);
    return free;
}

}  // namespace snapmend
