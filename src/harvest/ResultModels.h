#pragma once
#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QImage>
#include <QString>
#include <functional>
#include <vector>

#include "ResultItem.h"

namespace snapmend {

// The photos found by a scan, in the order they were found: a 64 x 64
// thumbnail, the workspace path (Qt::UserRole) and a check box each. A row
// costs its thumbnail plus a small record, so 20 000 rows stay cheap.
class PhotoResultModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit PhotoResultModel(QObject* parent = nullptr) : QAbstractListModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Inserts a ticked photo at `row` (appended when out of range); returns its row.
    int Insert(int row, const QString& path, const QImage& thumbnail);
    // Inserts ticked photos from `row` on (appended when out of range), in one
    // go: the view lays out once. Returns the first one's row.
    int InsertMany(int row, const std::vector<FoundPhoto>& photos);
    int Count() const { return static_cast<int>(m_rows.size()); }
    const QString& PathAt(int row) const { return m_rows.at(static_cast<size_t>(row)).path; }
    const QImage& ThumbnailAt(int row) const { return m_rows.at(static_cast<size_t>(row)).thumbnail; }
    bool IsChecked(int row) const { return m_rows.at(static_cast<size_t>(row)).checked; }
    void SetChecked(int row, bool checked);
    void SetAllChecked(bool checked);
    // Unticks every row whose path `copied` says yes to.
    void UncheckWhere(const std::function<bool(const QString&)>& copied);
    // The ticked rows' paths, in row order.
    std::vector<QString> CheckedPaths() const;
    void Clear();

private:
    struct Row {
        QString path;
        QImage thumbnail;
        bool checked = true;
    };
    std::vector<Row> m_rows;
};

// The other files found by a scan: name, size ("unknown" for 0 bytes) and
// extension columns, a check box in the first, the full path under
// Qt::UserRole. Sorting reorders the rows with CompareResultItems.
class FileResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 3;
    explicit FileResultModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Appends a ticked row for the file; returns its row.
    int Append(const QString& path, quint64 size);
    // Appends ticked rows for the files, in one go.
    void AppendMany(const std::vector<FoundFile>& files);
    int Count() const { return static_cast<int>(m_rows.size()); }
    const ResultItem& ItemAt(int row) const { return m_rows.at(static_cast<size_t>(row)).item; }
    bool IsChecked(int row) const { return m_rows.at(static_cast<size_t>(row)).checked; }
    void SetChecked(int row, bool checked);
    void SetAllChecked(bool checked);
    void UncheckWhere(const std::function<bool(const QString&)>& copied);
    std::vector<QString> CheckedPaths() const;
    void Clear();
    // Stable sort by a column with CompareResultItems; descending swaps the operands.
    void SortByColumn(int column, bool ascending);

private:
    struct Row {
        ResultItem item;
        bool checked = true;
    };
    std::vector<Row> m_rows;
};

// The text of a file row's size column: "unknown" for 0 bytes.
QString SizeColumnText(quint64 size);

}  // namespace snapmend
