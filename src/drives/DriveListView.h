#pragma once
#include "DriveRecord.h"

#include <vector>

class QTreeWidget;

namespace snapmend {

// The drive list's columns, in order.
enum DriveColumn { kDriveColumn, kLabelColumn, kFileSystemColumn, kCapacityColumn, kInformationColumn, kDriveColumnCount };

// Widths for columns that want `wanted` pixels in a view `available` pixels
// wide: what is left over goes to the last column; when they do not fit, the
// column `squeezable` gives up width first, down to `minimum`, then the last one.
std::vector<int> FitColumnWidths(std::vector<int> wanted, int available, int squeezable, int minimum);

// The drive list's columns: "Drive", "Label", "File System", "Capacity" and
// "Information", left-aligned, sized to their contents and to the view's width
// whenever the rows or the view change. Called once at initialisation.
void SetupDriveListColumns(QTreeWidget* list);

// Replaces every row by one row per record, in the records' order, and leaves
// no row selected or current. The Drive cell is the record's name.
void FillDriveList(QTreeWidget* list, const std::vector<DriveRecord>& drives);

}  // namespace snapmend
