#pragma once
#include <QString>
#include <QStringList>

namespace snapmend {

// Appends the full path of every regular file below `folder`, depth first, in
// the order the file system lists each folder (a sub-folder is walked before
// the next entry). Symbolic links are neither followed nor listed, so the walk
// stays inside the workspace and cannot loop. An unreadable folder adds nothing.
void CollectWorkspaceFiles(const QString& folder, QStringList& out);

}  // namespace snapmend
