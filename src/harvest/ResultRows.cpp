#include "ResultRows.h"

#include <QListWidgetItem>
#include <QTreeWidget>
#include <algorithm>

#include "DriveRecord.h"

namespace snapmend {

ResultRow::ResultRow(ResultItem item) : QTreeWidgetItem(Type), m_item(std::move(item))
{
    setData(0, Qt::UserRole, m_item.fullPath);
}

ResultRow* MakeFileRow(const QString& path, quint64 size)
{
    auto* row = new ResultRow(MakeResultItem(path, size));
    row->setText(0, row->Item().fileName);
    row->setText(1, size == 0 ? QStringLiteral("unknown") : FormatSize(static_cast<qint64>(size)));
    row->setText(2, row->Item().extension);
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Checked);
    return row;
}

const ResultItem* ResultItemOfRow(const QTreeWidgetItem* row)
{
    if (!row || row->type() != ResultRow::Type)
        return nullptr;
    return &static_cast<const ResultRow*>(row)->Item();
}

QString PhotoPathOfRow(const QListWidgetItem* row)
{
    return row ? row->data(Qt::UserRole).toString() : QString();
}

void SortResultRows(QTreeWidget& list, int column, bool ascending)
{
    QList<QTreeWidgetItem*> rows = list.invisibleRootItem()->takeChildren();
    static const ResultItem kNone;
    auto itemOf = [](const QTreeWidgetItem* row) {
        const ResultItem* item = ResultItemOfRow(row);
        return item ? item : &kNone;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        return ascending ? CompareResultItems(*itemOf(a), *itemOf(b), column) < 0
                         : CompareResultItems(*itemOf(b), *itemOf(a), column) < 0;
    });
    list.addTopLevelItems(rows);
}

}  // namespace snapmend
