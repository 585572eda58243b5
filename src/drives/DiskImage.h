#pragma once
#include <QString>

namespace snapmend {

// Why `path` cannot be scanned as a disk image, or empty when it can: it
// must be (or link to) a regular file or a block device holding at least one
// sector, and its name must fit the engine's command line (no double quote).
QString DiskImageProblem(const QString& path);

}  // namespace snapmend
