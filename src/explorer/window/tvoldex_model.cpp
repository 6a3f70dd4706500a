#include "explorer/window/tvoldex_model.h"

#include <algorithm>
#include <numeric>

QVariant EntryListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(rows_.size())) return {};
    const Row& r = rows_[std::size_t(index.row())];
    int c = index.column();
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole: return r.text[c];
        case Qt::DecorationRole: return c == 0 ? QVariant(r.icon) : QVariant();
        case Qt::TextAlignmentRole:
            return c >= 1 && c <= 3 ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
        case kEntryRole: return r.entry;
        default: return {};
    }
}

QVariant EntryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 5) return captions_[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags EntryListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == 0) f |= Qt::ItemIsEditable;
    return f;
}

bool EntryListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != 0 || role != Qt::EditRole) return false;
    emit RenameRequested(rows_[std::size_t(index.row())].entry, value.toString());
    return true;
}

void EntryListModel::SetRows(std::vector<Row> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void EntryListModel::SetName(int row, const QString& text) {
    rows_[std::size_t(row)].text[0] = text;
    emit dataChanged(index(row, 0), index(row, 0));
}

void EntryListModel::SetCaption(int column, const QString& text) {
    if (captions_[column] == text) return;
    captions_[column] = text;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void EntryListModel::SortRows(const std::function<bool(int, int)>& entryBefore) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order(rows_.size());  // order[new row] = old row
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return entryBefore(rows_[std::size_t(a)].entry, rows_[std::size_t(b)].entry); });
    std::vector<int> newRow(rows_.size());
    std::vector<Row> sorted;
    sorted.reserve(rows_.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        newRow[std::size_t(order[k])] = int(k);
        sorted.push_back(std::move(rows_[std::size_t(order[k])]));
    }
    rows_ = std::move(sorted);
    // Persistent indexes (the selection, the current row) follow their rows.
    QModelIndexList from = persistentIndexList(), to;
    to.reserve(from.size());
    for (const QModelIndex& i : from) to.append(index(newRow[std::size_t(i.row())], i.column()));
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
