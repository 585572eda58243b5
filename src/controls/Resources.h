#pragma once
#include <QCursor>
#include <QIcon>
#include <QImage>

namespace snapmend {

// Resource ids compiled into the program.
enum ResourceId { IDB_BACKGROUND = 129, IDR_MAINFRAME = 130, IDC_HAND = 131 };

// A null image / null icon for an unknown id.
QImage LoadBitmapResource(int id);
QIcon LoadIconResource(int id);
// Returns false and leaves `cursor` unchanged when there is no such cursor.
bool LoadCursorResource(int id, QCursor& cursor);

}  // namespace snapmend
