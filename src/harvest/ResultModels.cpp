#include "ResultModels.h"

#include <algorithm>

#include "DriveRecord.h"

namespace snapmend {
namespace {

Qt::CheckState CheckStateOf(bool checked) { return checked ? Qt::Checked : Qt::Unchecked; }

}  // namespace

int PhotoResultModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

QVariant PhotoResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DecorationRole: return row.thumbnail;
    case Qt::CheckStateRole: return CheckStateOf(row.checked);
    case Qt::UserRole: return row.path;
    default: return {};
    }
}

bool PhotoResultModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() >= Count() || role != Qt::CheckStateRole)
        return false;
    SetChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags PhotoResultModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

int PhotoResultModel::Insert(int row, const QString& path, const QImage& thumbnail)
{
    return InsertMany(row, {FoundPhoto{path, thumbnail}});
}

int PhotoResultModel::InsertMany(int row, const std::vector<FoundPhoto>& photos)
{
    if (row < 0 || row > Count())
        row = Count();
    if (photos.empty())
        return row;
    std::vector<Row> rows;
    rows.reserve(photos.size());
    for (const FoundPhoto& photo : photos)
        rows.push_back(Row{photo.path, photo.thumbnail, true});
    beginInsertRows({}, row, row + static_cast<int>(rows.size()) - 1);
    m_rows.insert(m_rows.begin() + row, std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    endInsertRows();
    return row;
}

void PhotoResultModel::SetChecked(int row, bool checked)
{
    m_rows.at(static_cast<size_t>(row)).checked = checked;
    const QModelIndex at = index(row);
    emit dataChanged(at, at, {Qt::CheckStateRole});
}

void PhotoResultModel::SetAllChecked(bool checked)
{
    for (Row& row : m_rows)
        row.checked = checked;
    if (!m_rows.empty())
        emit dataChanged(index(0), index(Count() - 1), {Qt::CheckStateRole});
}

void PhotoResultModel::UncheckWhere(const std::function<bool(const QString&)>& copied)
{
    for (int i = 0; i < Count(); ++i)
        if (copied(PathAt(i)))
            SetChecked(i, false);
}

std::vector<QString> PhotoResultModel::CheckedPaths() const
{
    std::vector<QString> paths;
    for (const Row& row : m_rows)
        if (row.checked)
            paths.push_back(row.path);
    return paths;
}

void PhotoResultModel::Clear()
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

QString SizeColumnText(quint64 size)
{
    return size == 0 ? QStringLiteral("unknown") : FormatSize(static_cast<qint64>(size));
}

int FileResultModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

int FileResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant FileResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case 0: return row.item.fileName;
        case 1: return SizeColumnText(row.item.size);
        case 2: return row.item.extension;
        default: return {};
        }
    }
    if (index.column() != 0)
        return {};
    if (role == Qt::CheckStateRole)
        return CheckStateOf(row.checked);
    if (role == Qt::UserRole)
        return row.item.fullPath;
    return {};
}

bool FileResultModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() >= Count() || index.column() != 0 || role != Qt::CheckStateRole)
        return false;
    SetChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags FileResultModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    return index.column() == 0 ? flags | Qt::ItemIsUserCheckable : flags;
}

QVariant FileResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case 0: return QStringLiteral("Name");
    case 1: return QStringLiteral("Size");
    case 2: return QStringLiteral("Extension");
    default: return {};
    }
}

int FileResultModel::Append(const QString& path, quint64 size)
{
    AppendMany({FoundFile{path, size}});
    return Count() - 1;
}

void FileResultModel::AppendMany(const std::vector<FoundFile>& files)
{
    if (files.empty())
        return;
    const int row = Count();
    beginInsertRows({}, row, row + static_cast<int>(files.size()) - 1);
    for (const FoundFile& file : files)
        m_rows.push_back(Row{MakeResultItem(file.path, file.size), true});
    endInsertRows();
}

void FileResultModel::SetChecked(int row, bool checked)
{
    m_rows.at(static_cast<size_t>(row)).checked = checked;
    const QModelIndex at = index(row, 0);
    emit dataChanged(at, at, {Qt::CheckStateRole});
}

void FileResultModel::SetAllChecked(bool checked)
{
    for (Row& row : m_rows)
        row.checked = checked;
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(Count() - 1, 0), {Qt::CheckStateRole});
}

void FileResultModel::UncheckWhere(const std::function<bool(const QString&)>& copied)
{
    for (int i = 0; i < Count(); ++i)
        if (copied(ItemAt(i).fullPath))
            SetChecked(i, false);
}

std::vector<QString> FileResultModel::CheckedPaths() const
{
    std::vector<QString> paths;
    for (const Row& row : m_rows)
        if (row.checked)
            paths.push_back(row.item.fullPath);
    return paths;
}

void FileResultModel::Clear()
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

void FileResultModel::SortByColumn(int column, bool ascending)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::stable_sort(m_rows.begin(), m_rows.end(), [&](const Row& a, const Row& b) {
        return ascending ? CompareResultItems(a.item, b.item, column) < 0
                         : CompareResultItems(b.item, a.item, column) < 0;
    });
    // Rows move; no persistent index is kept across a sort (the selection is dropped as before).
    const QModelIndexList persistent = persistentIndexList();
    changePersistentIndexList(persistent, QModelIndexList(persistent.size()));
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace snapmend
