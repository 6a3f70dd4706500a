#pragma once
// The rows of the main window's file list: one row per listed entry, five
// texts, its icon and its entry index in the listed folder. Sorting permutes
// the rows where they stand (the selection and the current row move with
// their entries); a new listing replaces all rows in one reset.

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <functional>
#include <vector>

class EntryListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Row {
        int entry = -1;  // index in the listed folder
        QString text[5];
        QIcon icon;
    };
    // The role that gives a row's entry index (column 0).
    static constexpr int kEntryRole = Qt::UserRole + 1;

    explicit EntryListModel(QObject* parent) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(rows_.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 5; }
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // An edit of a name asks for a rename; the row shows what the rename gives.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    void SetRows(std::vector<Row> rows);
    void Clear() { SetRows({}); }
    int EntryAt(int row) const { return rows_[std::size_t(row)].entry; }
    // An entry that moved inside the folder (to make room for its long name).
    void SetEntry(int row, int entry) { rows_[std::size_t(row)].entry = entry; }
    void SetName(int row, const QString& text);
    void SetCaption(int column, const QString& text);
    QString Caption(int column) const { return captions_[column]; }
    // Stable sort of the rows by their entries.
    void SortRows(const std::function<bool(int, int)>& entryBefore);

signals:
    void RenameRequested(int entry, const QString& text);

private:
    std::vector<Row> rows_;
    QString captions_[5];
};
