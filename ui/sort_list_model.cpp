#include "ui/sort_list_model.h"

#include <numeric>

namespace dorvane {

CSortListModel::CSortListModel(QObject* parent) : QAbstractTableModel(parent) {}

void CSortListModel::SetHeadings(const QStringList& headings) {
    // The column count may change: a reset, as a change of language refills
    // the list anyway.
    beginResetModel();
    headings_ = headings;
    endResetModel();
}

int CSortListModel::IdAt(int position) const {
    if (position < 0 || position >= Count()) return -1;
    return static_cast<int>(order_[static_cast<std::size_t>(position)]);
}

int CSortListModel::PositionOf(int id) const {
    if (!HasId(id)) return -1;
    return static_cast<int>(position_[static_cast<std::size_t>(id)]);
}

void CSortListModel::RebuildPositions() {
    position_.resize(order_.size());
    for (std::size_t p = 0; p < order_.size(); ++p) position_[order_[p]] = static_cast<std::uint32_t>(p);
}

void CSortListModel::Clear() {
    beginResetModel();
    rows_.clear();
    order_.clear();
    position_.clear();
    ++generation_;
    endResetModel();
}

int CSortListModel::Append(SortListRow row) {
    const int id = Count();
    beginInsertRows({}, id, id);
    rows_.push_back(std::move(row));
    order_.push_back(static_cast<std::uint32_t>(id));
    position_.push_back(static_cast<std::uint32_t>(id));
    endInsertRows();
    return id;
}

void CSortListModel::Replace(std::vector<SortListRow> rows, std::vector<std::uint32_t> order) {
    beginResetModel();
    rows_ = std::move(rows);
    if (order.size() == rows_.size()) {
        order_ = std::move(order);
    } else {
        order_.resize(rows_.size());
        std::iota(order_.begin(), order_.end(), 0u);
    }
    RebuildPositions();
    ++generation_;
    endResetModel();
}

void CSortListModel::Reorder(std::vector<std::uint32_t> order) {
    if (order.size() != rows_.size()) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Persistent indices (the selection, the current row, an open editor)
    // follow their rows to their new places.
    const QModelIndexList before = persistentIndexList();
    std::vector<int> ids;
    ids.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& i : before) ids.push_back(IdAt(i.row()));
    order_ = std::move(order);
    RebuildPositions();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype k = 0; k < before.size(); ++k) {
        const int id = ids[static_cast<std::size_t>(k)];
        after << (id >= 0 ? index(PositionOf(id), before[k].column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CSortListModel::SetText(int id, int column, const QString& text) {
    if (!HasId(id) || column < 0) return;
    QStringList& texts = At(id).texts;
    while (texts.size() <= column) texts << QString();
    texts[column] = text;
    const QModelIndex cell = index(PositionOf(id), column);
    emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::EditRole});
}

int CSortListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

int CSortListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headings_.size());
}

QVariant CSortListModel::data(const QModelIndex& index, int role) const {
    const int id = IdAt(index.row());
    if (id < 0 || index.column() < 0) return {};
    const SortListRow& row = At(id);
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return row.texts.value(index.column());
        case Qt::DecorationRole:
            if (index.column() == 0 && !row.icon.isNull()) return row.icon;
            return {};
        default:
            return {};
    }
}

QVariant CSortListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return headings_.value(section);
    return {};
}

Qt::ItemFlags CSortListModel::flags(const QModelIndex& index) const {
    const int id = IdAt(index.row());
    if (id < 0) return Qt::NoItemFlags;
    // A flat list: telling the view that no row has children spares it the
    // question for every row.
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
    if (index.column() == 0 && At(id).editable) f |= Qt::ItemIsEditable;
    return f;
}

bool CSortListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    // Only a cell editor commits through here: the pane decides whether the
    // entry is renamed, and the cell keeps its text until it is.
    const int id = IdAt(index.row());
    if (id < 0 || role != Qt::EditRole || index.column() != 0) return false;
    if (onEdit_) onEdit_(id, value.toString());
    return true;
}

}  // namespace dorvane
