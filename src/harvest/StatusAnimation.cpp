#include "StatusAnimation.h"

namespace snapmend {

QString NextStatusText(const QString& current)
{
    const QString base = QStringLiteral("Analyzing disk, please wait");
    for (int dots = 0; dots < 5; ++dots)
        if (current == base + QString(dots, QLatin1Char('.')))
            return base + QString(dots + 1, QLatin1Char('.'));
    return base;
}

}  // namespace snapmend
