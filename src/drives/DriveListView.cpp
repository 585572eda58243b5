#include "DriveListView.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTreeWidget>

namespace snapmend {

void SetupDriveListColumns(QTreeWidget* list)
{
    list->setColumnCount(4);
    list->setHeaderLabels({QStringLiteral("Drive"), QStringLiteral("File System"), QStringLiteral("Capacity"),
                           QStringLiteral("Information")});
    const int widths[] = {80, 80, 120, 180};
    for (int column = 0; column < 4; ++column) {
        list->setColumnWidth(column, widths[column]);
        list->headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    }
    list->header()->setStretchLastSection(false);
    // Long mount points differ at their ends: "/media/u…card2", not "/media/u…".
    list->setTextElideMode(Qt::ElideMiddle);
    list->setRootIsDecorated(false);
}

void FillDriveList(QTreeWidget* list, const std::vector<DriveRecord>& drives)
{
    list->clear();
    QList<QTreeWidgetItem*> rows;
    for (const DriveRecord& drive : drives) {
        const QString capacity = drive.imageRow ? QString() : FormatSize(static_cast<qint64>(drive.capacity));
        auto* row = new QTreeWidgetItem(QStringList{drive.name, drive.fileSystem, capacity, drive.typeText});
        const QString tip = DriveToolTip(drive);
        for (int column = 0; column < 4; ++column)
            row->setToolTip(column, tip);
        rows.append(row);
    }
    list->addTopLevelItems(rows);
    list->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::Clear);
}

}  // namespace snapmend
