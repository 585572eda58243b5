#pragma once
#include "DriveRecord.h"

#include <vector>

class QTreeWidget;

namespace snapmend {

// The drive list's columns: "Drive" 80, "File System" 80, "Capacity" 120,
// "Information" 180 pixels, all left-aligned. Called once at initialisation.
void SetupDriveListColumns(QTreeWidget* list);

// Replaces every row by one row per record, in the records' order, and leaves
// no row selected or current.
void FillDriveList(QTreeWidget* list, const std::vector<DriveRecord>& drives);

}  // namespace snapmend
