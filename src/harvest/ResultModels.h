#pragma once
#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QImage>
#include <QSortFilterProxyModel>
#include <QString>
#include <functional>
#include <vector>

#include "ResultItem.h"

namespace snapmend {

// What both result models answer besides display, decoration and check state.
enum ResultRole : int {
    kPathRole = Qt::UserRole,  // QString: the workspace path, the row's identity
    kNameRole,                 // QString: the file name
    kSizeRole,                 // quint64: bytes
    kDateRole,                 // qint64: the file's modification time, seconds since 1970
    kPartialRole,              // bool: the engine could prove only part of the file
    kRecoveredRole,            // bool: copied to the output folder by an earlier recovery
};

// True when the file name has ".partial" right before its extension
// ("f12.partial.jpg", "IMG_1.partial.JPG"): the engine's mark of a file of
// which it could prove only a part.
bool IsPartialName(const QString& fileName);

// The photos found by a scan, in the order they were found: a 64 x 64
// thumbnail, the workspace path (kPathRole) and a check box each. A partial
// photo's thumbnail carries a "partial" band at its top, a recovered one a
// "recovered" band at its bottom. A row costs its thumbnail plus a small
// record, so 20 000 rows stay cheap.
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
    int PartialCount() const { return m_partials; }
    int RecoveredCount() const { return m_recovered; }
    const QString& PathAt(int row) const { return m_rows.at(static_cast<size_t>(row)).path; }
    const QImage& ThumbnailAt(int row) const { return m_rows.at(static_cast<size_t>(row)).thumbnail; }
    bool IsChecked(int row) const { return m_rows.at(static_cast<size_t>(row)).checked; }
    bool IsRecovered(int row) const { return m_rows.at(static_cast<size_t>(row)).recovered; }
    void SetChecked(int row, bool checked);
    void SetAllChecked(bool checked);
    // Unticks every row whose path `copied` says yes to.
    void UncheckWhere(const std::function<bool(const QString&)>& copied);
    // Marks every row whose path `copied` says yes to as recovered, and unticks it.
    void MarkRecoveredWhere(const std::function<bool(const QString&)>& copied);
    // The ticked rows' paths, in row order.
    std::vector<QString> CheckedPaths() const;
    void Clear();

private:
    struct Row {
        QString path;
        QImage thumbnail;
        quint64 size = 0;
        qint64 modified = 0;
        bool checked = true;
        bool partial = false;
        bool recovered = false;
    };
    std::vector<Row> m_rows;
    int m_partials = 0;
    int m_recovered = 0;
};

// The other files found by a scan: name, size ("unknown" for 0 bytes),
// extension and state ("partial", "recovered") columns, a check box in the
// first, the full path under kPathRole. Sorting by a header reorders the
// rows with CompareResultItems.
class FileResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 4;
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
    int PartialCount() const { return m_partials; }
    int RecoveredCount() const { return m_recovered; }
    const ResultItem& ItemAt(int row) const { return m_rows.at(static_cast<size_t>(row)).item; }
    bool IsChecked(int row) const { return m_rows.at(static_cast<size_t>(row)).checked; }
    bool IsRecovered(int row) const { return m_rows.at(static_cast<size_t>(row)).recovered; }
    void SetChecked(int row, bool checked);
    void SetAllChecked(bool checked);
    void UncheckWhere(const std::function<bool(const QString&)>& copied);
    void MarkRecoveredWhere(const std::function<bool(const QString&)>& copied);
    std::vector<QString> CheckedPaths() const;
    void Clear();
    // Stable sort by a column with CompareResultItems; descending swaps the operands.
    void SortByColumn(int column, bool ascending);

private:
    struct Row {
        ResultItem item;
        qint64 modified = 0;
        bool checked = true;
        bool partial = false;
        bool recovered = false;
    };
    QVariant DisplayText(const Row& row, int column) const;
    std::vector<Row> m_rows;
    int m_partials = 0;
    int m_recovered = 0;
};

// The orders both result lists can be shown in.
enum class ResultOrder { Found, Name, Size, Date };

// Filters and orders a result model for its view. The filter keeps rows
// whose file name contains every word of the filter text, ignoring case
// ("jpg", ".partial", "IMG 2024"). Name order is ascending; size and date
// orders put the largest and newest first; ties keep the order found.
class ResultFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ResultFilter(QObject* parent = nullptr);
    void SetFilterText(const QString& text);
    void SetOrder(ResultOrder order);
    ResultOrder Order() const { return m_order; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    QStringList m_words;
    ResultOrder m_order = ResultOrder::Found;
};

// The text of a file row's size column: "unknown" for 0 bytes.
QString SizeColumnText(quint64 size);

}  // namespace snapmend
