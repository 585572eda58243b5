#include "ResultViews.h"

namespace snapmend {

PhotoListView::PhotoListView(QWidget* parent) : QListView(parent), m_model(this), m_filter(this)
{
    m_filter.setSourceModel(&m_model);
    setModel(&m_filter);
    // Every thumbnail has the same size: the layout need not measure 20 000 rows.
    setUniformItemSizes(true);
    connect(this, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { emit photoActivated(index.data(kPathRole).toString()); });
}

FileListView::FileListView(QWidget* parent) : QTreeView(parent), m_model(this), m_filter(this)
{
    m_filter.setSourceModel(&m_model);
    setModel(&m_filter);
    connect(this, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
        emit fileActivated(index.siblingAtColumn(0).data(kPathRole).toString());
    });
}

}  // namespace snapmend
