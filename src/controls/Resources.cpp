#include "Resources.h"

#include <QPixmap>
#include <QString>

// Resource initialisers live at global scope; a static library needs them called.
static void InitControlResources()
{
    Q_INIT_RESOURCE(resources);
    Q_INIT_RESOURCE(background);
}

namespace snapmend {
namespace {

void EnsureResources()
{
    static const bool done = (InitControlResources(), true);
    (void)done;
}

// Hot spot of the hand cursor: the tip of the index finger.
constexpr int kHandHotX = 5;
constexpr int kHandHotY = 0;

}  // namespace

QImage LoadBitmapResource(int id)
{
    EnsureResources();
    if (id != IDB_BACKGROUND)
        return {};
    return QImage(QStringLiteral(":/snapmend/background.bmp"));
}

QIcon LoadIconResource(int id)
{
    EnsureResources();
    if (id != IDR_MAINFRAME)
        return {};
    QIcon icon;
    for (const char* size : {"16", "32", "64"})
        icon.addFile(QStringLiteral(":/snapmend/icon%1.png").arg(QLatin1String(size)));
    return icon;
}

bool LoadCursorResource(int id, QCursor& cursor)
{
    EnsureResources();
    if (id != IDC_HAND)
        return false;
    const QPixmap hand(QStringLiteral(":/snapmend/hand.png"));
    if (hand.isNull())
        return false;
    cursor = QCursor(hand, kHandHotX, kHandHotY);
    return true;
}

}  // namespace snapmend
