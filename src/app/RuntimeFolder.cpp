#include "RuntimeFolder.h"

#include <QFile>

#include "Ownership.h"
#include "Paths.h"

namespace snapmend {

void UsePrivateRuntimeFolder()
{
    const QString folder = PrivateRuntimeFolder(UserDataFolder());
    if (!folder.isEmpty())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
}

}  // namespace snapmend
