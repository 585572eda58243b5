#pragma once
#include <QString>
#include <string_view>

#include "Notice.h"
#include "carver/contract.h"

namespace snapmend {

struct PlatformServices;

// The engine folder holds the program, its carving library and its runtime
// tree (the format table). The per-user data folder's "kestrova" folder holds
// the first scan workspace.
// A name of the engine's contract as a QString.
inline QString ContractText(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
inline const QString kEngineFolderName = QStringLiteral("kestrova");
inline const QString kEngineFileName = ContractText(carver::contract::kProgramName);
inline const QString kEngineLibraryName = ContractText(carver::contract::kLibraryName);
inline const QString kEngineRuntimeTreeName = ContractText(carver::contract::kRuntimeTreeName);

// The per-user data folder (not created).
QString GetAppDataFolder();
// The system temporary folder with a trailing '/'.
QString GetTempFolder();

// The engine folder: the one `platform` names (a test's own), else the running
// layout's (the build tree's staging folder or the installed private library folder).
QString EngineFolder(const PlatformServices& platform);

// True when every piece of the engine is installed in `engineFolder`. Fills
// `enginePath` with the engine program's full path before testing it; adds a
// numbered message to `notices` for a missing folder or the first missing piece.
bool CheckEngineInstalled(const QString& engineFolder, QString& enginePath, Notices& notices);

// The same check on the engine folder `folder`, wherever it was found. Each
// piece must also be out of other users' reach (IsPathTrusted: every folder on
// its way, link targets included, owned by root or the running user and
// writable by nobody else); otherwise the piece's numbered message is added
// with a line saying why.
bool CheckEngineFolder(const QString& folder, QString& enginePath, Notices& notices);

}  // namespace snapmend
