#pragma once
#include <QString>
#include <QStringList>

namespace snapmend {

// The engine's own bookkeeping folder directly below the workspace; never listed.
inline constexpr char kEngineBookkeepingFolder[] = ".snapmend";

// Appends the stored path (see WorkspaceFile.h) of every regular file below
// `folder`, depth first, in the order the file system lists each folder (a
// sub-folder is walked before the next entry), except the engine's
// bookkeeping folder at the top. Every folder is opened relative to its
// parent by its raw name, so names that are not text and paths longer than
// PATH_MAX are listed too. Symbolic links are neither followed nor listed, so
// the walk stays inside the workspace and cannot loop. An unreadable folder
// adds nothing.
void CollectWorkspaceFiles(const QString& folder, QStringList& out);

}  // namespace snapmend
