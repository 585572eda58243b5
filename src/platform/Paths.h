#pragma once
#include <QString>

namespace snapmend {

// Joins two path pieces with exactly one '/' between them.
QString JoinPath(const QString& base, const QString& more);

// True for an existing file or folder (a dangling symbolic link counts as absent).
bool PathExists(const QString& path);

// The folder of the running executable, with a trailing '/'.
QString ExecutableFolder();

// The running user's data folder (~/.local/share or $XDG_DATA_HOME), not
// created. The environment's choice holds only where no other user can change
// it; otherwise the folder comes from the account's home in the password database.
QString UserDataFolder();

// The system temporary folder with a trailing '/'.
QString SystemTempFolder();

// The pictures folder of the person the program works for: the one behind
// pkexec or sudo when known, else the running user's.
QString UserPicturesFolder();

}  // namespace snapmend
