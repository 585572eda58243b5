#pragma once
#include <QSet>
#include <QString>
#include <QStringList>

namespace snapmend {

// The engine's own bookkeeping folder below its output folder; never listed
// (carved names never begin with a dot, so no carved folder has this name).
inline constexpr char kEngineBookkeepingFolder[] = ".snapmend";

// Appends the stored path (see WorkspaceFile.h) of every regular file below
// `folder`, depth first, in the order the file system lists each folder (a
// sub-folder is walked before the next entry), except the engine's
// bookkeeping folders. Every folder is opened relative to its
// parent by its raw name, so names that are not text and paths longer than
// PATH_MAX are listed too. Symbolic links are neither followed nor listed, so
// the walk stays inside the workspace and cannot loop. An unreadable folder
// adds nothing.
void CollectWorkspaceFiles(const QString& folder, QStringList& out);

// The files below `root` that are not in `listed`: what deleting the
// workspace would lose without anyone having seen it.
QStringList UnlistedWorkspaceFiles(const QString& root, const QSet<QString>& listed);

// `reportText` (the final message of a recovery) saying after its first
// paragraph that `count` files found by the scan could not be listed and are
// kept in `root`; unchanged when `count` is 0.
QString WithUnlistedFilesKept(const QString& reportText, qsizetype count, const QString& root);

}  // namespace snapmend
