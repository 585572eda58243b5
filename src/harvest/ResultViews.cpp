#include "ResultViews.h"

namespace snapmend {

PhotoListView::PhotoListView(QWidget* parent) : QListView(parent), m_model(this)
{
    setModel(&m_model);
    // Every thumbnail has the same size: the layout need not measure 20 000 rows.
    setUniformItemSizes(true);
    connect(this, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { emit photoActivated(index.data(Qt::UserRole).toString()); });
}

FileListView::FileListView(QWidget* parent) : QTreeView(parent), m_model(this)
{
    setModel(&m_model);
}

}  // namespace snapmend
