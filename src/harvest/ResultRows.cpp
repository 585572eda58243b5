#include "ResultRows.h"

#include <QListWidgetItem>
#include <QTreeWidget>
#include <algorithm>

namespace snapmend {

ResultRow::ResultRow(ResultItem item) : QTreeWidgetItem(Type), m_item(std::move(item))
{
    setData(0, Qt::UserRole, m_item.fullPath);
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
