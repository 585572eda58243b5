#include "DiskImage.h"

#include <QFile>
#include <sys/stat.h>

namespace snapmend {

QString DiskImageProblem(const QString& path)
{
    const QString prefix = QStringLiteral("The chosen file cannot be scanned: ");
    if (path.contains(QLatin1Char('"')))
        return prefix + QStringLiteral("its name contains a double quote.");
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return prefix + QStringLiteral("it cannot be found.");
    // A pipe or a character device would leave the engine waiting forever.
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
        return prefix + QStringLiteral("it is not a disk image file.");
    if (S_ISREG(st.st_mode) && st.st_size < 512)
        return prefix + QStringLiteral("it is empty.");
    return {};
}

}  // namespace snapmend
