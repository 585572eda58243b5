#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

#include "FileSystem.h"

// Workspace paths as the window stores them. The engine writes names from the
// card, which need not be valid UTF-8, below folders deep enough to pass
// PATH_MAX. A stored path is a QString that keeps every byte: valid UTF-8 is
// decoded as usual, and each byte of an invalid sequence becomes the lone
// surrogate U+DC00 + byte, which no valid text contains. Files are opened
// through directory descriptors, one component at a time.
namespace snapmend {

// The stored path of raw file-system bytes, and back; BytesOfPath(PathFromBytes(b)) == b.
QString PathFromBytes(const QByteArray& bytes);
QByteArray BytesOfPath(const QString& path);

// The stored path as a person reads it: bytes that are not text, control
// characters and direction overrides (which make "gpj.exe" read as
// "exe.jpg") show as U+FFFD.
QString DisplayText(const QString& path);

// Opens the regular file at the stored `path` for reading: the folders from
// the root are resolved as far as the kernel takes them at once, the rest one
// folder at a time relative to the last, never through a link; the file itself
// is never a link, a FIFO or a device. Any length. Invalid with errno on failure.
UniqueFd OpenWorkspaceFile(const QString& path);

// Whether anything (a file, a link, a FIFO) is at the stored `path`, links
// not followed; reached like OpenWorkspaceFile.
bool WorkspaceEntryExists(const QString& path);

}  // namespace snapmend
