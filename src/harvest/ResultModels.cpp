#include "ResultModels.h"

#include <QPainter>
#include <algorithm>

#include "DriveRecord.h"
#include "FileSystem.h"

namespace snapmend {
namespace {

Qt::CheckState CheckStateOf(bool checked) { return checked ? Qt::Checked : Qt::Unchecked; }

// The size and modification time of a result, read without following a link.
void ReadSizeAndDate(const QString& path, quint64& size, qint64& modified)
{
    if (const std::optional<FileStatus> status = StatusOfEntry(path)) {
        size = status->size;
        modified = status->modified;
    }
}

// A band across the thumbnail saying what became of the photo.
void DrawBand(QImage& thumbnail, bool atTop, const QColor& colour, const QString& text)
{
    if (thumbnail.isNull())
        return;
    if (thumbnail.format() != QImage::Format_RGB32)
        thumbnail = thumbnail.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&thumbnail);
    const int height = std::max(12, thumbnail.height() / 5);
    const QRect band(0, atTop ? 0 : thumbnail.height() - height, thumbnail.width(), height);
    painter.fillRect(band, colour);
    QFont font = painter.font();
    font.setPixelSize(height - 3);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(band, Qt::AlignCenter, text);
}

const QColor kPartialBand(200, 90, 0);
const QColor kRecoveredBand(0, 130, 60);

QString StateText(bool partial, bool recovered)
{
    if (partial && recovered)
        return QStringLiteral("partial, recovered");
    if (partial)
        return QStringLiteral("partial");
    return recovered ? QStringLiteral("recovered") : QString();
}

// The tooltip of a result: its name, size and state, so that similar thumbnails can be told apart.
QString ToolTipText(const QString& name, quint64 size, bool partial, bool recovered)
{
    QString text = name + QStringLiteral("\n") + SizeColumnText(size);
    const QString state = StateText(partial, recovered);
    if (!state.isEmpty())
        text += QStringLiteral("\n") + state;
    return text;
}

}  // namespace

bool IsPartialName(const QString& fileName)
{
    const QString name = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && name.left(dot).endsWith(QLatin1String(".partial"), Qt::CaseInsensitive);
}

int PhotoResultModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

QVariant PhotoResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DecorationRole: return row.thumbnail;
    case Qt::CheckStateRole: return CheckStateOf(row.checked);
    case Qt::ToolTipRole: return ToolTipText(FileNameOfPath(row.path), row.size, row.partial, row.recovered);
    case kPathRole: return row.path;
    case kNameRole: return FileNameOfPath(row.path);
    case kSizeRole: return row.size;
    case kDateRole: return row.modified;
    case kPartialRole: return row.partial;
    case kRecoveredRole: return row.recovered;
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
    for (const FoundPhoto& photo : photos) {
        Row added{photo.path, photo.thumbnail};
        ReadSizeAndDate(photo.path, added.size, added.modified);
        added.partial = IsPartialName(photo.path);
        if (added.partial) {
            DrawBand(added.thumbnail, true, kPartialBand, QStringLiteral("partial"));
            ++m_partials;
        }
        rows.push_back(std::move(added));
    }
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

void PhotoResultModel::MarkRecoveredWhere(const std::function<bool(const QString&)>& copied)
{
    for (int i = 0; i < Count(); ++i) {
        Row& row = m_rows[static_cast<size_t>(i)];
        if (row.recovered || !copied(row.path))
            continue;
        row.recovered = true;
        row.checked = false;
        ++m_recovered;
        DrawBand(row.thumbnail, false, kRecoveredBand, QStringLiteral("recovered"));
        const QModelIndex at = index(i);
        emit dataChanged(at, at);
    }
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
    m_partials = 0;
    m_recovered = 0;
    endResetModel();
}

QString SizeColumnText(quint64 size)
{
    return size == 0 ? QStringLiteral("unknown") : FormatSize(static_cast<qint64>(size));
}

int FileResultModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

int FileResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant FileResultModel::DisplayText(const Row& row, int column) const
{
    switch (column) {
    case 0: return row.item.fileName;
    case 1: return SizeColumnText(row.item.size);
    case 2: return row.item.extension;
    case 3: return StateText(row.partial, row.recovered);
    default: return {};
    }
}

QVariant FileResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    const Row& row = m_rows[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return DisplayText(row, index.column());
    if (role == Qt::ToolTipRole)
        return ToolTipText(row.item.fileName, row.item.size, row.partial, row.recovered);
    if (index.column() != 0)
        return {};
    switch (role) {
    case Qt::CheckStateRole: return CheckStateOf(row.checked);
    case kPathRole: return row.item.fullPath;
    case kNameRole: return row.item.fileName;
    case kSizeRole: return row.item.size;
    case kDateRole: return row.modified;
    case kPartialRole: return row.partial;
    case kRecoveredRole: return row.recovered;
    default: return {};
    }
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
    case 3: return QStringLiteral("State");
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
    for (const FoundFile& file : files) {
        Row added{MakeResultItem(file.path, file.size)};
        quint64 size = 0;
        ReadSizeAndDate(file.path, size, added.modified);
        added.partial = IsPartialName(file.path);
        m_partials += added.partial ? 1 : 0;
        m_rows.push_back(std::move(added));
    }
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

void FileResultModel::MarkRecoveredWhere(const std::function<bool(const QString&)>& copied)
{
    for (int i = 0; i < Count(); ++i) {
        Row& row = m_rows[static_cast<size_t>(i)];
        if (row.recovered || !copied(row.item.fullPath))
            continue;
        row.recovered = true;
        row.checked = false;
        ++m_recovered;
        emit dataChanged(index(i, 0), index(i, kColumns - 1));
    }
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
    m_partials = 0;
    m_recovered = 0;
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

ResultFilter::ResultFilter(QObject* parent) : QSortFilterProxyModel(parent)
{
    setDynamicSortFilter(true);
}

void ResultFilter::SetFilterText(const QString& text)
{
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words == m_words)
        return;
    m_words = words;
    invalidateRowsFilter();
}

void ResultFilter::SetOrder(ResultOrder order)
{
    m_order = order;
    // Column -1 gives back the source model's own order.
    sort(order == ResultOrder::Found ? -1 : 0, Qt::AscendingOrder);
    if (order != ResultOrder::Found)
        invalidate();
}

bool ResultFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (m_words.isEmpty())
        return true;
    const QString name = sourceModel()->index(sourceRow, 0, sourceParent).data(kNameRole).toString();
    return std::all_of(m_words.begin(), m_words.end(),
                       [&name](const QString& word) { return name.contains(word, Qt::CaseInsensitive); });
}

bool ResultFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const QModelIndex a = left.siblingAtColumn(0);
    const QModelIndex b = right.siblingAtColumn(0);
    switch (m_order) {
    case ResultOrder::Name: {
        const int c = QString::compare(a.data(kNameRole).toString(), b.data(kNameRole).toString(),
                                       Qt::CaseInsensitive);
        if (c != 0)
            return c < 0;
        break;
    }
    case ResultOrder::Size: {
        const quint64 x = a.data(kSizeRole).toULongLong();
        const quint64 y = b.data(kSizeRole).toULongLong();
        if (x != y)
            return x > y;
        break;
    }
    case ResultOrder::Date: {
        const qint64 x = a.data(kDateRole).toLongLong();
        const qint64 y = b.data(kDateRole).toLongLong();
        if (x != y)
            return x > y;
        break;
    }
    case ResultOrder::Found: break;
    }
    return a.row() < b.row();
}

}  // namespace snapmend
