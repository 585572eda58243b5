#pragma once
#include <QString>

namespace snapmend {

// Joins two path pieces with exactly one '/' between them.
QString JoinPath(const QString& base, const QString& more);

// True for an existing file or folder (a dangling symbolic link counts as absent).
bool PathExists(const QString& path);

// The folder of the running executable, with a trailing '/'.
QString ExecutableFolder();

// The per-user data folder (~/.local/share or $XDG_DATA_HOME), not created.
QString UserDataFolder();

// The system temporary folder with a trailing '/'.
QString SystemTempFolder();

// The user's pictures folder.
QString UserPicturesFolder();

}  // namespace snapmend
