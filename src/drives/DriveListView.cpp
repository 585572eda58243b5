#include "DriveListView.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTreeWidget>
#include <algorithm>
#include <numeric>

namespace snapmend {
namespace {

// Room between a cell's text and the next column.
constexpr int kColumnPadding = 12;
// A drive name narrower than this tells nothing, elided or not.
constexpr int kMinDriveWidth = 90;

int WidestCell(const QTreeWidget* list, int column)
{
    int widest = 0;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        widest = std::max(widest, list->fontMetrics().horizontalAdvance(list->topLevelItem(row)->text(column)));
    return widest;
}

void FitColumns(QTreeWidget* list)
{
    std::vector<int> wanted;
    for (int column = 0; column < kDriveColumnCount; ++column)
        wanted.push_back(std::max(list->header()->sectionSizeHint(column), WidestCell(list, column)) +
                         kColumnPadding);
    const std::vector<int> widths =
        FitColumnWidths(std::move(wanted), list->viewport()->width(), kDriveColumn, kMinDriveWidth);
    for (int column = 0; column < kDriveColumnCount; ++column)
        list->setColumnWidth(column, widths[static_cast<size_t>(column)]);
}

// Fits the columns again whenever the view changes its width.
class ColumnFitter : public QObject {
public:
    explicit ColumnFitter(QTreeWidget* list) : QObject(list), m_list(list) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            FitColumns(m_list);
        return QObject::eventFilter(watched, event);
    }

private:
    QTreeWidget* m_list;
};

}  // namespace

std::vector<int> FitColumnWidths(std::vector<int> wanted, int available, int squeezable, int minimum)
{
    if (wanted.empty())
        return wanted;
    int excess = std::accumulate(wanted.begin(), wanted.end(), 0) - available;
    if (excess <= 0) {
        wanted.back() -= excess;
        return wanted;
    }
    for (size_t column : {static_cast<size_t>(squeezable), wanted.size() - 1}) {
        const int cut = std::clamp(wanted[column] - minimum, 0, excess);
        wanted[column] -= cut;
        excess -= cut;
    }
    return wanted;
}

void SetupDriveListColumns(QTreeWidget* list)
{
    list->setColumnCount(kDriveColumnCount);
    list->setHeaderLabels({QStringLiteral("Drive"), QStringLiteral("Label"), QStringLiteral("File System"),
                           QStringLiteral("Capacity"), QStringLiteral("Information")});
    for (int column = 0; column < kDriveColumnCount; ++column)
        list->headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    list->header()->setStretchLastSection(false);
    // Long device names and mount points differ at their ends: "/media/u…card2", not "/media/u…".
    list->setTextElideMode(Qt::ElideMiddle);
    list->setRootIsDecorated(false);
    list->viewport()->installEventFilter(new ColumnFitter(list));
    FitColumns(list);
}

void FillDriveList(QTreeWidget* list, const std::vector<DriveRecord>& drives)
{
    list->clear();
    QList<QTreeWidgetItem*> rows;
    for (const DriveRecord& drive : drives) {
        const QString capacity = drive.imageRow ? QString() : FormatSize(static_cast<qint64>(drive.capacity));
        auto* row = new QTreeWidgetItem(
            QStringList{drive.name, drive.label, FileSystemText(drive), capacity, InformationText(drive)});
        const QString tip = DriveToolTip(drive);
        for (int column = 0; column < kDriveColumnCount; ++column)
            row->setToolTip(column, tip);
        rows.append(row);
    }
    list->addTopLevelItems(rows);
    list->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::Clear);
    FitColumns(list);
}

}  // namespace snapmend
