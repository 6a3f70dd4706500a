// The main window's folder tree and file list: building the tree, listing
// a folder, sorting, selection and its totals, view modes.
#include "explorer/window/tvoldex.h"

#include <QAction>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QStackedWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "opening/settings/config.h"
#include "explorer/window/explorer_dialogs.h"
#include "explorer/window/tvoldex_model.h"
#include "explorer/window/tvoldex_shared.h"
#include "opening/diskinfo.h"
#include "volume/folderwalk.h"
#include "volume/longnames.h"

using namespace tvoldex;

namespace {

// The width of a text as the sum of its characters' advances, each measured
// once: thousands of rows are measured in a few milliseconds. Kerning can
// only make the true width smaller.
int TextWidth(const QFontMetrics& fm, const QString& text, QHash<QChar, int>& advances) {
    int w = 0;
    for (QChar c : text) {
        auto it = advances.find(c);
        if (it == advances.end()) it = advances.insert(c, fm.horizontalAdvance(c));
        w += *it;
    }
    return w;
}

}  // namespace

QTreeWidgetItem* TVoldex::FindTreeNode(uint32_t cluster) const {
    auto it = clusterToNode_.find(cluster);
    return it == clusterToNode_.end() ? nullptr : it->second;
}

QTreeWidgetItem* TVoldex::AddFolderNode(QTreeWidgetItem* parent, uint32_t cluster, const std::string& name) {
    auto* node = new QTreeWidgetItem(parent, QStringList{Q(name)});
    node->setData(0, kClusterRole, cluster);
    node->setIcon(0, ThemeIcon("folder", QStyle::SP_DirIcon));
    return node;
}

void TVoldex::FolderAdded(uint32_t parent, uint32_t cluster, const std::string& name) {
    QTreeWidgetItem* node = FindTreeNode(parent);
    if (!node) return;
    bool wasBusy = busy_;
    busy_ = true;
    clusterToNode_[cluster] = AddFolderNode(node, cluster, name);
    busy_ = wasBusy;
}

void TVoldex::FolderRenamed(uint32_t cluster, const std::string& name) {
    if (QTreeWidgetItem* node = FindTreeNode(cluster)) node->setText(0, Q(name));
}

void TVoldex::FolderMoved(uint32_t cluster, uint32_t newParent) {
    QTreeWidgetItem* node = FindTreeNode(cluster);
    QTreeWidgetItem* target = FindTreeNode(newParent);
    if (!node || !target || !node->parent()) return;
    bool wasBusy = busy_;
    busy_ = true;
    QTreeWidgetItem* taken = node->parent()->takeChild(node->parent()->indexOfChild(node));
    target->addChild(taken);
    busy_ = wasBusy;
}

void TVoldex::RemoveNode(QTreeWidgetItem* node) {
    for (int k = 0; k < node->childCount(); ++k) RemoveNode(node->child(k));
    clusterToNode_.erase(node->data(0, kClusterRole).toUInt());
}

void TVoldex::FolderRemoved(uint32_t cluster) {
    QTreeWidgetItem* node = FindTreeNode(cluster);
    if (!node || !node->parent()) return;
    bool wasBusy = busy_;
    busy_ = true;
    RemoveNode(node);
    delete node;
    busy_ = wasBusy;
}

void TVoldex::RebuildFolderTree() {
    QTreeWidgetItem* root = tree_->topLevelItemCount() ? tree_->topLevelItem(0) : nullptr;
    if (!root || !image_) return;
    bool wasBusy = busy_;
    busy_ = true;
    const QList<QTreeWidgetItem*> children = root->takeChildren();
    qDeleteAll(children);
    clusterToNode_.clear();
    clusterToNode_[0] = root;
    if (BuildFolderTree(root, nullptr)) root->setExpanded(true);
    QTreeWidgetItem* current = FindTreeNode(currentCluster_);
    tree_->setCurrentItem(current ? current : root);
    busy_ = wasBusy;
}

bool TVoldex::BuildFolderTree(QTreeWidgetItem* top, TMsgForm* progress) {
    // The walk enters each folder once, with a stack of its own: no depth of
    // folders ends the program, and folders sharing a child cost nothing
    // more. parents[d] is the node whose entries are at depth d.
    std::vector<QTreeWidgetItem*> parents{top};
    FolderWalk walk;
    walk.nested = true;
    walk.entry = [&](const DIDir& dir, int k, const std::string&, int depth) {
        if (dir.IsFree(k) || !(dir.GetAttr(k) & kAttrDirectory) || (dir.GetAttr(k) & kAttrVolume) ||
            dir.GetDisplayName(k).empty() || dir.IsDotEntry(k))
            return false;
        const std::string name = dir.GetNameUtf8(k);
        const uint32_t cluster = uint32_t(dir.GetStartCluster(k));
        QTreeWidgetItem* child = AddFolderNode(parents[std::size_t(depth)], cluster, name);
        // A folder met a second time shows where it stands, but its
        // contents only under its first node.
        if (cluster >= 2 && !clusterToNode_.count(cluster)) clusterToNode_[cluster] = child;
        parents.resize(std::size_t(depth) + 1);
        parents.push_back(child);
        if (progress) {
            progress->SetLine(Q(name));
            KeepPainted();
        }
        return true;
    };
    std::string repeated, unreadable;
    walk.repeated = [&](const std::string& p) {
        if (repeated.empty()) repeated = p;
    };
    walk.unreadable = [&](const std::string& p) {
        if (unreadable.empty()) unreadable = p;
    };
    walk.Run(*image_, top->data(0, kClusterRole).toUInt(), "/");
    // One message for all: a ladder of folders would otherwise give one
    // box for each rung.
    if (!repeated.empty()) ShowMessage(1432, repeated);
    if (!unreadable.empty()) ShowMessage(106, unreadable);
    return unreadable.empty();
}

// --- the list ---------------------------------------------------------------

std::vector<TVoldex::EntryMark> TVoldex::MarksOf(const std::vector<int>& entries) const {
    std::vector<EntryMark> marks;
    if (!currentDir_) return marks;
    for (int i : entries) {
        const uint8_t* e = currentDir_->RawEntry(i);
        if (!e) continue;
        const uint8_t attr = currentDir_->GetAttr(i);
        EntryMark m{i, {}, uint32_t(currentDir_->GetStartCluster(i)), (attr & kAttrVolume) && attr != 0x0F};
        if (!m.label) std::memcpy(m.name.data(), e, m.name.size());
        marks.push_back(m);
    }
    return marks;
}

std::vector<int> TVoldex::Marked(const std::vector<EntryMark>& marks, bool sameData) const {
    std::vector<int> found;
    for (const EntryMark& m : MarksOf(ListedEntries())) {
        bool known = std::any_of(marks.begin(), marks.end(), [&](const EntryMark& k) {
            return k.index == m.index && k.label == m.label && k.name == m.name && (!sameData || k.start == m.start);
        });
        if (known) found.push_back(m.index);
    }
    return found;
}

void TVoldex::SelectWhatComesNext() {
    before_ = MarksOf(ListedEntries());
}

void TVoldex::ListDirectory(uint32_t cluster) {
    if (!image_) return;
    // Listed again, a folder keeps the user's selection and current row
    // (or, after an import or a new folder, selects what is new). A folder
    // listed afresh has its first row current and nothing selected: the
    // keys start there, and no command acts on a row the user did not pick.
    const bool again = currentDir_ && currentDir_->GetCluster() == cluster;
    std::vector<EntryMark> kept, current;
    if (again) {
        kept = MarksOf(SelectedEntries());
        QModelIndex at = detailsView_->selectionModel()->currentIndex();
        if (at.isValid() && at.row() < model_->rowCount()) current = MarksOf({IndexAt(at)});
    }
    std::optional<std::vector<EntryMark>> before;
    before.swap(before_);
    busy_ = true;
    currentCluster_ = cluster;
    ClearList();
    currentDir_ = std::make_unique<DIDir>(image_.get(), cluster);
    if (!currentDir_->Load()) {
        ShowMessage(106, "");
        currentDir_.reset();
        busy_ = false;
        return;
    }
    SetPanel(0, Msg(139, {GroupDigits(currentDir_->GetCount())}));
    ApplySort();
    std::vector<int> select;
    if (before && again) {
        std::vector<int> old = Marked(*before, true), listed = ListedEntries();
        for (int i : listed)
            if (std::find(old.begin(), old.end(), i) == old.end()) select.push_back(i);
    }
    if (select.empty() && again) select = Marked(kept, false);
    std::vector<int> at = select.empty() && again ? Marked(current, false) : select;
    int row = 0;
    for (int r = 0; r < model_->rowCount() && !at.empty(); ++r)
        if (model_->EntryAt(r) == at.front()) {
            row = r;
            break;
        }
    if (model_->rowCount() > 0) {
        QItemSelectionModel* selection = detailsView_->selectionModel();
        selection->setCurrentIndex(model_->index(row, 0), QItemSelectionModel::NoUpdate);
        SelectEntries(select);
        ActiveView()->scrollTo(model_->index(row, 0));
    }
    if (QTreeWidgetItem* node = FindTreeNode(cluster)) tree_->setCurrentItem(node);
    else tree_->setCurrentItem(nullptr);
    busy_ = false;
    UpdateSelectionStatus();
    UpdatePasteState();
    Action("MNUpDir")->setEnabled(cluster != 0);
    Action("PMUpDir")->setEnabled(cluster != 0);
}

int TVoldex::CompareEntries(int a, int b, const std::string& na, const std::string& nb) const {
    const DIDir& d = *currentDir_;
    bool fa = d.GetAttr(a) & kAttrDirectory, fb = d.GetAttr(b) & kAttrDirectory;
    if (fa != fb) return fa ? -1 : 1;
    auto bytes = [](const std::string& x, const std::string& y) {
        int r = std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()));
        if (r != 0) return r < 0 ? -1 : 1;
        return x.size() < y.size() ? -1 : x.size() > y.size() ? 1 : 0;
    };
    // The dot rule goes by the 8.3 name: "." and ".." (and other systems' dot names).
    if (d.RawEntry(a)[0] == '.' || d.RawEntry(b)[0] == '.') return bytes(na, nb);
    int r = 0;
    auto cmp = [](auto x, auto y) { return x < y ? -1 : x > y ? 1 : 0; };
    switch (sortColumn_) {
        case 1: r = d.UsesLongNames() ? CompareNamesIgnoringCase(na, nb) : bytes(na, nb); break;
        case 2: r = cmp(d.GetSize(a), d.GetSize(b)); break;
        case 3: r = cmp(d.GetAttr(a), d.GetAttr(b)); break;
        case 4: {
            const uint8_t *ea = d.RawEntry(a), *eb = d.RawEntry(b);
            uint32_t ta = uint32_t(ea[24] | ea[25] << 8) << 16 | uint32_t(ea[22] | ea[23] << 8);
            uint32_t tb = uint32_t(eb[24] | eb[25] << 8) << 16 | uint32_t(eb[22] | eb[23] << 8);
            r = cmp(ta, tb);
            break;
        }
        case 5: r = cmp(uint32_t(d.GetStartCluster(a)), uint32_t(d.GetStartCluster(b))); break;
        default: return 0;
    }
    return r * sortDirection_;
}

// Empties the list in one reset. The column widths stay as they were.
void TVoldex::ClearList() {
    if (model_->rowCount() == 0) return;
    int widths[5];
    for (int c = 0; c < 5; ++c) widths[c] = detailsView_->columnWidth(c);
    bool wasFitting = fittingColumns_;
    fittingColumns_ = true;
    model_->Clear();
    for (int c = 0; c < 5; ++c) detailsView_->setColumnWidth(c, widths[c]);
    fittingColumns_ = wasFitting;
}

void TVoldex::MarkSortColumn() {
    for (int c = 0; c < 5; ++c) {
        QString caption = ColumnTitle(c);
        if (sortDirection_ != 0 && c + 1 == sortColumn_) caption.prepend(sortDirection_ > 0 ? '+' : '-');
        model_->SetCaption(c, caption);
    }
}

// Each name is made once per sort, not at every comparison.
void TVoldex::MakeSortNames() {
    sortNames_.assign(currentDir_ ? currentDir_->GetCount() : 0, std::string());
    for (std::size_t i = 0; i < sortNames_.size(); ++i)
        if (!currentDir_->IsFree(int(i)))
            sortNames_[i] = currentDir_->UsesLongNames() ? currentDir_->GetNameUtf8(int(i)) : currentDir_->GetDisplayName(int(i));
}

bool TVoldex::SortsBefore(int a, int b) const {
    if (sortDirection_ == 0 || sortColumn_ < 1 || sortColumn_ > 5) return a < b;  // directory order
    return CompareEntries(a, b, sortNames_[std::size_t(a)], sortNames_[std::size_t(b)]) < 0;
}

void TVoldex::ApplySort() {
    MarkSortColumn();
    if (!currentDir_) return;
    MakeSortNames();
    std::vector<int> indexes;
    for (uint32_t i = 0; i < currentDir_->GetCount(); ++i) {
        int k = int(i);
        if (currentDir_->IsFree(k) || currentDir_->GetAttr(k) == 0x0F) continue;
        const std::string& name = sortNames_[i];
        if (name == "." && !showThisDir_) continue;
        if (name == ".." && !showParentDir_) continue;
        indexes.push_back(k);
    }
    std::stable_sort(indexes.begin(), indexes.end(), [this](int a, int b) { return SortsBefore(a, b); });
    FillModel(indexes);
    sortNames_.clear();
}

void TVoldex::FillModel(const std::vector<int>& indexes) {
    bool wasBusy = busy_;
    busy_ = true;
    ClearList();
    const DIDir& d = *currentDir_;
    QIcon folder = ThemeIcon("folder", QStyle::SP_DirIcon), file = ThemeIcon("text-x-generic", QStyle::SP_FileIcon);
    QFontMetrics fm(detailsView_->font());
    QHash<QChar, int> advances;
    int widths[5] = {0, 0, 0, 0, 0};
    std::vector<EntryListModel::Row> rows;
    rows.reserve(indexes.size());
    for (int i : indexes) {
        uint8_t attr = d.GetAttr(i);
        EntryListModel::Row row;
        row.entry = i;
        row.icon = (attr & kAttrDirectory) ? folder : file;
        row.text[0] = Q(d.GetNameUtf8(i));
        bool noSize = attr & (kAttrDirectory | kAttrVolume);
        row.text[1] = noSize ? QString() : Q(GroupDigits(d.GetSize(i)));
        row.text[2] = Q(d.GetAttrText(i));
        row.text[3] = Q(d.GetTimeText(i));
        row.text[4] = "#" + QString::number(d.GetStartCluster(i));
        for (int c = 0; c < 5; ++c) widths[c] = std::max(widths[c], TextWidth(fm, row.text[c], advances));
        rows.push_back(std::move(row));
    }
    fittingColumns_ = true;
    model_->SetRows(std::move(rows));
    fittingColumns_ = false;
    FitColumns(widths);
    busy_ = wasBusy;
}

// Each column at least as wide as its header and its widest text, and
// never narrower than the width the user gave it.
void TVoldex::FitColumns(const int contentWidths[5]) {
    QHeaderView* header = detailsView_->header();
    QFontMetrics hf(header->font());
    const int padding = 2 * detailsView_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, detailsView_) + 12;
    const int icon = detailsView_->iconSize().isValid() ? detailsView_->iconSize().width()
                                                         : detailsView_->style()->pixelMetric(QStyle::PM_SmallIconSize);
    fittingColumns_ = true;
    for (int c = 0; c < 5; ++c) {
        int content = contentWidths[c] + padding + (c == 0 ? icon + 6 : 0);
        int caption = hf.horizontalAdvance(model_->Caption(c)) + 2 * hf.averageCharWidth() + 16;
        detailsView_->setColumnWidth(c, std::max({userWidths_[c], content, caption}));
    }
    fittingColumns_ = false;
}

void TVoldex::ColumnClick(int column) {
    if (column != sortColumn_) {
        sortColumn_ = column;
        sortDirection_ = 0;
    }
    if (sortDirection_ == 0) sortDirection_ = 1;
    else if (sortDirection_ == 1) sortDirection_ = -1;
    else {
        sortDirection_ = 0;
        sortColumn_ = 0;
    }
    // The rows are sorted where they stand: the selection stays on its
    // entries through one layout change, whatever its size.
    MarkSortColumn();
    if (!currentDir_) return;
    MakeSortNames();
    bool wasBusy = busy_;
    busy_ = true;
    model_->SortRows([this](int a, int b) { return SortsBefore(a, b); });
    busy_ = wasBusy;
    sortNames_.clear();
    UpdateSelectionStatus();
}

QString TVoldex::ColumnCaption(int column) const { return model_->Caption(column - 1); }

QString TVoldex::StatusPanel(int panel) const { return panels_[panel]->property("fullText").toString(); }

int TVoldex::IndexAt(const QModelIndex& index) const {
    return model_->EntryAt(index.row());
}

std::vector<int> TVoldex::ListedEntries() const {
    std::vector<int> v;
    for (int r = 0; r < model_->rowCount(); ++r) v.push_back(model_->EntryAt(r));
    return v;
}

// The selected rows, read from the selection's ranges: the icon and list
// views select single cells (column 0), the details view whole rows.
std::vector<int> TVoldex::SelectedRows() const {
    const int rows = model_->rowCount();
    std::vector<char> marked(std::size_t(rows), 0);
    for (const QItemSelectionRange& range : detailsView_->selectionModel()->selection())
        for (int r = std::max(0, range.top()); r <= range.bottom() && r < rows; ++r) marked[std::size_t(r)] = 1;
    std::vector<int> v;
    for (int r = 0; r < rows; ++r)
        if (marked[std::size_t(r)]) v.push_back(r);
    return v;
}

std::vector<int> TVoldex::SelectedEntries() const {
    std::vector<int> v = SelectedRows();
    for (int& r : v) r = model_->EntryAt(r);
    return v;
}

// One pass over the rows: runs of selected rows become ranges, and the
// selection model takes them all in one call (one change signal).
void TVoldex::SelectEntries(const std::vector<int>& indexes) {
    bool wasBusy = busy_;
    busy_ = true;
    std::unordered_set<int> wanted(indexes.begin(), indexes.end());
    QItemSelection selection;
    const int rows = model_->rowCount(), last = model_->columnCount() - 1;
    for (int r = 0; r < rows;) {
        if (!wanted.count(model_->EntryAt(r))) {
            ++r;
            continue;
        }
        int end = r;
        while (end + 1 < rows && wanted.count(model_->EntryAt(end + 1))) ++end;
        selection.select(model_->index(r, 0), model_->index(end, last));
        r = end + 1;
    }
    detailsView_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    busy_ = wasBusy;
    UpdateSelectionStatus();
}

void TVoldex::UpdateSelectionStatus() {
    if (!image_ || busy_ || !currentDir_) return;
    std::vector<int> selected = SelectedEntries();
    const std::vector<int>& counted = selected.empty() ? ListedEntries() : selected;
    uint64_t bytes = 0, clusters = 0;
    for (int i : counted) {
        uint32_t size = currentDir_->GetSize(i);
        bytes += size;
        clusters += (uint64_t(size) + image_->ClusterSize - 1) / image_->ClusterSize;
    }
    bool any = !selected.empty();
    SetPanel(0, any ? Msg(141, {GroupDigits(selected.size())}) : Msg(140, {int(counted.size())}));
    SetPanel(1, Msg(144, {GroupDigits(bytes), GroupDigits(clusters)}));
    for (const char* a : {"MNSaveFile", "MNDelete", "MNRename", "MNCopy", "PMSaveFile", "PMDelete", "PMRename", "PMCopy",
                          "PMShell", "MNReleaseEntry", "MNShellMenu"})
        Action(a)->setEnabled(any);
}

// The list shows the folder of the tree's current node with that folder's
// entry selected, and the command runs on it there.
void TVoldex::ActOnTreeFolder(bool rename) {
    QTreeWidgetItem* node = tree_->currentItem();
    if (!node || !node->parent() || !image_) return;
    const uint32_t cluster = node->data(0, kClusterRole).toUInt();
    ListDirectory(node->parent()->data(0, kClusterRole).toUInt());
    if (!currentDir_) return;
    for (int i : ListedEntries())
        if ((currentDir_->GetAttr(i) & kAttrDirectory) && !currentDir_->IsDotEntry(i) &&
            uint32_t(currentDir_->GetStartCluster(i)) == cluster) {
            SelectEntries({i});
            if (rename) RenameSelected();
            else DeleteSelected();
            return;
        }
}

void TVoldex::UpDir() {
    if (!currentDir_) return;
    int i = currentDir_->Find("..");
    if (i < 0) return;
    int64_t c = currentDir_->GetStartCluster(i);
    ListDirectory(c < 2 ? 0 : uint32_t(c));
}

void TVoldex::SelectAll() {
    if (!currentDir_) return;
    std::vector<int> all;
    for (int i : ListedEntries()) {
        std::string n = currentDir_->GetDisplayName(i);
        if (!n.empty() && !currentDir_->IsDotEntry(i) && !(currentDir_->GetAttr(i) & kAttrVolume)) all.push_back(i);
    }
    SelectEntries(all);
}

void TVoldex::InvertSelection() {
    if (!currentDir_) return;
    std::vector<int> selected = SelectedEntries(), next;
    std::unordered_set<int> was(selected.begin(), selected.end());
    for (int i : ListedEntries()) {
        std::string n = currentDir_->GetDisplayName(i);
        if (n.empty() || currentDir_->IsDotEntry(i) || (currentDir_->GetAttr(i) & kAttrVolume)) continue;
        if (!was.count(i)) next.push_back(i);
    }
    SelectEntries(next);
}

void TVoldex::SetViewMode(int mode) {
    static const char* const names[4] = {"MNVIcon", "MNVSmallIcon", "MNVList", "MNVReport"};
    if (mode < 0 || mode > 3) mode = 3;
    viewMode_ = mode;
    Action(names[mode])->setChecked(true);
    if (mode == 3) {
        views_->setCurrentWidget(detailsView_);
        return;
    }
    iconView_->setViewMode(mode == 0 ? QListView::IconMode : QListView::ListMode);
    iconView_->setIconSize(mode == 0 ? QSize(32, 32) : QSize(16, 16));
    iconView_->setFlow(mode == 2 ? QListView::TopToBottom : QListView::LeftToRight);
    iconView_->setWrapping(true);
    iconView_->setGridSize(mode == 0 ? QSize(96, 64) : QSize());
    views_->setCurrentWidget(iconView_);
}

void TVoldex::ToggleThisDir() {
    showThisDir_ = !showThisDir_;
    Action("MNThisDir")->setChecked(showThisDir_);
    WriteSettingInt(kSettingsSection, "ShowThisDir", showThisDir_ ? 1 : 0);
    ListDirectory(currentCluster_);
}

void TVoldex::ToggleParentDir() {
    showParentDir_ = !showParentDir_;
    Action("MNParentDir")->setChecked(showParentDir_);
    WriteSettingInt(kSettingsSection, "ShowParentDir", showParentDir_ ? 1 : 0);
    ListDirectory(currentCluster_);
}

QAbstractItemView* TVoldex::ActiveView() const {
    return views_->currentWidget() == detailsView_ ? static_cast<QAbstractItemView*>(detailsView_) : iconView_;
}
