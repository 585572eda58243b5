#pragma once
#include <QByteArray>
#include <QString>
#include <vector>

namespace snapmend {

// One line of /proc/<pid>/mountinfo.
struct MountEntry {
    unsigned major = 0;   // device number of the mounted file system (0: no block device)
    unsigned minor = 0;
    QString root;         // the directory of the file system mounted here ("/" unless a bind mount)
    QString mountPoint;
    QString fsType;
    QString source;       // e.g. /dev/sda1, tmpfs, server:/export
};

// Undoes the kernel's octal escapes (\040 space, \011 tab, \012 newline, \134 backslash).
QByteArray UnescapeMountField(const QByteArray& field);

// Parses the whole file; malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(const QByteArray& text);

}  // namespace snapmend
