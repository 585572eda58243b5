#include "WorkspaceWalk.h"

#include "FileSystem.h"

namespace snapmend {

void CollectWorkspaceFiles(const QString& folder, QStringList& out) { CollectRegularFiles(folder, out); }

}  // namespace snapmend
