// The main window's commands on the mounted volume: export, import, new
// folder, delete, release, rename, and moves inside the image.
#include "explorer/window/tvoldex.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QTreeWidget>
#include <algorithm>

#include "opening/settings/config.h"
#include "explorer/ops/exporter.h"
#include "explorer/ops/folderops.h"
#include "explorer/ops/importer.h"
#include "explorer/ops/mover.h"
#include "explorer/window/tvoldex_model.h"
#include "explorer/window/tvoldex_shared.h"

using namespace tvoldex;

namespace {

// An operation of the window, from its start to its end, for the progress window.
class Operation {
public:
    Operation(TVoldex& window, const QString& title, bool cancellable = false) : window_(window) {
        window_.BeginOperation(title, cancellable);
    }
    ~Operation() { window_.EndOperation(); }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

private:
    TVoldex& window_;
};

}  // namespace

// --- commands ---------------------------------------------------------------

std::vector<int> TVoldex::CollectTransferable() const {
    std::vector<int> out;
    if (!currentDir_) return out;
    for (int i : SelectedEntries())
        if (IsTransferable(*currentDir_, i)) out.push_back(i);
    return out;
}

void TVoldex::SaveFiles() {
    if (!currentDir_) return;
    std::vector<int> selected = SelectedEntries();
    if (selected.empty()) {
        ShowMessage(116);
        return;
    }
    auto folder = ChooseExportFolder();
    if (!folder) return;
    WriteSettingString(kSettingsSection, "LastExportDir", *folder);
    OverwriteAnswer state = owYes;
    Operation operation(*this, Title("Εξαγωγή αρχείων"));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (int i : selected) {
        ExportEntry(*currentDir_, i, *folder, state);
        if (state == owCancel) {
            QApplication::restoreOverrideCursor();
            ShowMessage(131);
            QApplication::setOverrideCursor(Qt::WaitCursor);
            break;
        }
    }
    QApplication::restoreOverrideCursor();
    UpdateSelectionStatus();
    if (notifyExtract_ && state != owCancel) ShowMessage(117);
}

void TVoldex::ImportPaths(const std::vector<std::string>& paths) {
    if (!currentDir_ || paths.empty()) return;
    SelectWhatComesNext();
    {
        Operation operation(*this, Title("Εισαγωγή αρχείων"), true);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ImportFileList(*currentDir_, paths, importDialog_ != 0);
        QApplication::restoreOverrideCursor();
    }
    ListDirectory(currentCluster_);
    ShowFreeSpace();
}

void TVoldex::WriteFiles() {
    if (!currentDir_) return;
    std::vector<std::string> files = ChooseImportFiles();
    if (files.empty()) return;
    SelectWhatComesNext();
    {
        Operation operation(*this, Title("Εισαγωγή αρχείων"), true);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ImportFileList(*currentDir_, files, false);
        QApplication::restoreOverrideCursor();
    }
    ListDirectory(currentCluster_);
    ShowFreeSpace();
}

void TVoldex::MakeDir() {
    if (!currentDir_) return;
    SelectWhatComesNext();
    if (MakeDefaultFolder(*currentDir_) >= 0) {
        ListDirectory(currentCluster_);
        ShowFreeSpace();
    }
}

void TVoldex::DeleteSelected(bool ask) {
    if (!currentDir_) return;
    std::vector<int> selected = SelectedEntries();
    if (selected.empty()) return;
    // The label, "." and ".." are never deleted: the question says so, and
    // with nothing else selected there is nothing to ask.
    std::vector<std::string> names, kept;
    for (int i : selected) {
        const uint8_t attr = currentDir_->GetAttr(i);
        const bool stays = currentDir_->IsDotEntry(i) || ((attr & kAttrVolume) && attr != 0x0F);
        (stays ? kept : names).push_back(currentDir_->GetNameUtf8(i));
    }
    if (names.empty() || ask) {
        if (!ConfirmDelete(names, kept)) return;
    }
    {
        Operation operation(*this, Title("Διαγραφή"));
        // The batch has told a failure; the folder is listed again either way.
        static_cast<void>(DeleteEntries(*currentDir_, selected));
    }
    ForgetClipboardCopy();
    ListDirectory(currentCluster_);
    ShowFreeSpace();
}

void TVoldex::ReleaseSelected(bool ask) {
    if (!currentDir_) return;
    std::vector<int> selected = SelectedEntries();
    if (selected.empty() || (ask && !ConfirmRelease())) return;
    {
        Operation operation(*this, Title("Αποδέσμευση αρχείων και φακέλων"));
        static_cast<void>(ReleaseEntries(*currentDir_, selected));
    }
    ListDirectory(currentCluster_);
    ShowFreeSpace();
}

void TVoldex::CheckAndRepairVolume() {
    if (!image_) return;
    if (!::CheckAndRepair(*image_)) return;
    // Folders may have gone or changed: the tree and the list are read again.
    ForgetClipboardCopy();
    currentCluster_ = 0;
    RebuildFolderTree();
    ListDirectory(0);
    ShowFreeSpace();
}

void TVoldex::RenameSelected() {
    std::vector<int> rows = SelectedRows();
    if (rows.empty()) return;
    QModelIndex at = model_->index(rows.front(), 0);
    ActiveView()->setCurrentIndex(at);
    ActiveView()->setFocus();
    ActiveView()->edit(at);
}

bool TVoldex::RenameEntry(int index, const QString& text) {
    if (!currentDir_) return false;
    std::string before = currentDir_->GetNameUtf8(index);
    int now = index;
    const NameProblem problem = CheckNameAsGiven(*currentDir_, text.toStdString());
    bool renamed = false;
    std::string shown = ::RenameEntry(*currentDir_, now, text.toStdString(), &renamed);
    // A name the volume cannot hold as typed is stored changed: said, once.
    if (renamed && problem != NameProblem::kNone) ShowMessage(1626, text.toStdString(), shown);
    for (int r = 0; r < model_->rowCount(); ++r)
        if (model_->EntryAt(r) == index) {
            bool wasBusy = busy_;
            busy_ = true;
            model_->SetName(r, Q(shown));
            model_->SetEntry(r, now);
            busy_ = wasBusy;
        }
    return shown != before;
}

// --- moves and drags --------------------------------------------------------

void TVoldex::DropEntriesOnListItem(int targetIndex) {
    if (!currentDir_ || !currentDir_->IsValidIndex(targetIndex)) return;
    if (!(currentDir_->GetAttr(targetIndex) & kAttrDirectory)) {
        ShowMessage(125);
        return;
    }
    std::vector<int> selected = SelectedEntries();
    if (std::find(selected.begin(), selected.end(), targetIndex) != selected.end()) {
        ShowMessage(124);
        return;
    }
    std::vector<std::string> names;
    for (int i : selected) names.push_back(currentDir_->GetNameUtf8(i));
    std::string targetName = currentDir_->GetNameUtf8(targetIndex);
    if (movingDialog_ && !ConfirmMove(names, targetName)) return;
    int64_t c = currentDir_->GetStartCluster(targetIndex);
    DIDir target(image_.get(), c < 2 ? 0 : uint32_t(c));
    if (target.Load()) MoveSelectedInto(target, selected);
}

void TVoldex::MoveSelectedInto(DIDir& target, const std::vector<int>& selected) {
    // Each move writes the target, then this folder; an entry refused (its
    // name taken, "." and "..") is passed over, the first failure (shown by
    // the move) ends it.
    {
        Operation operation(*this, Title("Μετακίνηση"));
        for (int i : selected) {
            OperationStep(Q(currentDir_->GetNameUtf8(i)));
            OpResult r = MoveListEntry(*currentDir_, i, target);
            if (!r.Ok() && !r.Skipped()) break;
        }
        if (WriteAndFlush(target, "")) static_cast<void>(WriteAndFlush(*currentDir_, ""));
    }
    ListDirectory(currentCluster_);
    ForgetClipboardCopy();
}

static bool AtOrBelow(QTreeWidgetItem* n, QTreeWidgetItem* m) {
    if (!m) return false;
    for (; n; n = n->parent())
        if (n == m) return true;
    return false;
}

void TVoldex::DropEntriesOnTreeNode(QTreeWidgetItem* node) {
    if (!node || !currentDir_) return;
    if (node == tree_->currentItem()) {
        ShowMessage(124);
        return;
    }
    std::vector<int> selected = SelectedEntries();
    for (int i : selected)
        if ((currentDir_->GetAttr(i) & kAttrDirectory) && !currentDir_->IsDotEntry(i) &&
            AtOrBelow(node, FindTreeNode(uint32_t(currentDir_->GetStartCluster(i))))) {
            ShowMessage(122);
            return;
        }
    std::vector<std::string> names;
    for (int i : selected) names.push_back(currentDir_->GetNameUtf8(i));
    if (movingDialog_ && !ConfirmMove(names, node->text(0).toStdString())) return;
    DIDir target(image_.get(), node->data(0, kClusterRole).toUInt());
    if (target.Load()) MoveSelectedInto(target, selected);
}

void TVoldex::DropTreeNodeOnTreeNode(QTreeWidgetItem* node) {
    QTreeWidgetItem* source = tree_->currentItem();
    if (!node || !source || !image_) return;
    if (AtOrBelow(node, source) || !source->parent()) {
        ShowMessage(122);
        return;
    }
    uint32_t folder = source->data(0, kClusterRole).toUInt();
    if (MoveFolder(*image_, source->parent()->data(0, kClusterRole).toUInt(), folder, node->data(0, kClusterRole).toUInt(),
                   source->text(0).toStdString(), node->text(0).toStdString(), movingDialog_ != 0)) {
        ListDirectory(folder);
        ForgetClipboardCopy();
    }
}
