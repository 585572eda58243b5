#pragma once
#include <QString>
#include <QTreeWidgetItem>

#include "ResultItem.h"

class QListWidget;
class QListWidgetItem;
class QTreeWidget;

namespace snapmend {

// A row of the other-files list; it owns its ResultItem. Column 0 also holds
// the full path under Qt::UserRole, as the thumbnail rows do.
class ResultRow : public QTreeWidgetItem {
public:
    static constexpr int Type = QTreeWidgetItem::UserType + 1;
    explicit ResultRow(ResultItem item);
    const ResultItem& Item() const { return m_item; }

private:
    ResultItem m_item;
};

// A ticked other-files row as the harvest adds it: name, size ("unknown" for
// 0 bytes) and extension.
ResultRow* MakeFileRow(const QString& path, quint64 size);

// The record of an other-files row, or null for a row of another kind.
const ResultItem* ResultItemOfRow(const QTreeWidgetItem* row);

// The full workspace path stored on a row of either list (Qt::UserRole).
QString PhotoPathOfRow(const QListWidgetItem* row);

// Sorts the other-files list by a column with CompareResultItems; descending
// swaps the operands. Stable: equal rows keep their order.
void SortResultRows(QTreeWidget& list, int column, bool ascending);

}  // namespace snapmend
