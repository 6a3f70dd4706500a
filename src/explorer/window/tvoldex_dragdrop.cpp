// The main window's exchange with the desktop: the clipboard, the drag out
// and the drops in, the menu on exported copies, and the mouse and key
// handling of the tree and the list.
#include "explorer/window/tvoldex.h"

#include <QPointer>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include "explorer/window/tvoldex_model.h"
#include <QTreeView>
#include <QTreeWidget>

#include "explorer/ops/exporter.h"
#include "explorer/ops/hostnames.h"
#include "explorer/window/tvoldex_shared.h"
#include "shell/listing.h"
#include "shell/window/shell_qt.h"

using namespace tvoldex;

void TVoldex::UpdatePasteState() {
    bool can = CanPaste();
    Action("MNPaste")->setEnabled(can);
    Action("PMPaste")->setEnabled(can);
}

bool TVoldex::CanPaste() const {
    if (!currentDir_) return false;
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return data && data->hasFormat("text/uri-list");
}

// Files given to the desktop are exported into the temporary folder at the
// moment they are asked for; only their paths travel.
static std::vector<std::string> ExportCopies(DiskImage* image, uint32_t cluster, const std::vector<int>& indexes,
                                             const std::string& tempFolder) {
    std::vector<std::string> paths;
    if (!image) return paths;
    DIDir dir(image, cluster);
    if (!dir.Load()) return paths;
    OverwriteAnswer state = owYesToAll;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    int count = 0;
    for (int i : indexes) {
        if (!IsTransferable(dir, i)) continue;
        ExportEntry(dir, i, tempFolder, state);
        ++count;
        paths.push_back(JoinHostPath(tempFolder, HostComponentUtf8(dir.GetNameUtf8(i))));
    }
    QApplication::restoreOverrideCursor();
    if (count == 0) paths.clear();
    return paths;
}

void TVoldex::CopySelected() {
    if (!currentDir_) return;
    copySource_ = currentCluster_;
    copiedEntries_ = CollectTransferable();
    DiskImage* image = image_.get();
    uint32_t source = copySource_;
    std::vector<int> entries = copiedEntries_;
    std::string temp = tempFolder_;
    QPointer<TVoldex> self(this);
    auto* data = new ExportingMimeData(
        [self, image, source, entries, temp] {
            std::vector<std::string> paths = ExportCopies(image, source, entries, temp);
            if (self) self->UpdateSelectionStatus();
            return paths;
        },
        [image, source, entries] {
            DIDir dir(image, source);
            return dir.Load() ? MakeListingText(dir, entries, "\r\n", true) : std::string();
        },
        true);
    clipboardData_ = data;
    QApplication::clipboard()->setMimeData(data);
}

void TVoldex::ForgetClipboardCopy() {
    if (clipboardData_ && QApplication::clipboard()->mimeData() == clipboardData_) QApplication::clipboard()->clear();
    clipboardData_ = nullptr;
    copySource_ = 0xFFFFFFFFu;
    copiedEntries_.clear();
}

void TVoldex::Paste() {
    if (!currentDir_) return;
    const QMimeData* data = QApplication::clipboard()->mimeData();
    std::vector<std::string> paths = LocalPaths(data);
    if (!paths.empty()) ImportPaths(paths);
}

void TVoldex::ShellMenu(const QPoint& globalPos) {
    std::vector<std::string> paths = ExportCopies(image_.get(), currentCluster_, CollectTransferable(), tempFolder_);
    UpdateSelectionStatus();
    ShowShellMenu(this, paths, globalPos);
}

QMimeData* TVoldex::MakeDragData() {
    DiskImage* image = image_.get();
    uint32_t source = currentCluster_;
    std::string temp = tempFolder_;
    // The selection is taken when the drop target asks, not at the start.
    // Once the copies are made, the status bar shows the selection again,
    // not the last name exported.
    return new ExportingMimeData([this, image, source, temp] {
        std::vector<std::string> paths = ExportCopies(image, source, CollectTransferable(), temp);
        UpdateSelectionStatus();
        return paths;
    }, nullptr, false);
}

void TVoldex::StartDrag(bool internal) {
    if (SelectedEntries().empty()) return;
    auto* drag = new QDrag(ActiveView());
    if (internal) {
        auto* data = new QMimeData;
        data->setData(kEntriesMime, QByteArray::number(currentCluster_));
        drag->setMimeData(data);
        drag->exec(Qt::MoveAction);
    } else {
        drag->setMimeData(MakeDragData());
        drag->exec(Qt::CopyAction);
    }
}

bool TVoldex::HandleViewEvent(QAbstractItemView* view, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove: return HandleViewMouse(event);
        case QEvent::DragEnter:
        case QEvent::DragMove: return HandleViewDrag(view, event);
        case QEvent::Drop: return HandleViewDrop(view, event);
        case QEvent::KeyPress: return HandleViewKey(view, static_cast<QKeyEvent*>(event));
        default: return false;
    }
}

// A press arms the drag; a move beyond the threshold starts it, out to the
// desktop or inside the image as the drag mode and Shift decide.
bool TVoldex::HandleViewMouse(QEvent* event) {
    auto* e = static_cast<QMouseEvent*>(event);
    if (event->type() == QEvent::MouseButtonPress) {
        downPoint_ = e->position().toPoint();
        armed_ = true;
        return false;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        armed_ = false;
        return false;
    }
    if (!armed_ || !(e->buttons() & Qt::LeftButton)) return false;
    bool shift = e->modifiers() & Qt::ShiftModifier;
    bool internal = dndMode_ ? !shift : shift;
    QPoint d = e->position().toPoint() - downPoint_;
    if (!internal && std::abs(d.x()) < 3 && std::abs(d.y()) < 3) return true;
    if (internal && d.manhattanLength() < QApplication::startDragDistance()) return true;
    armed_ = false;
    StartDrag(internal);
    return true;
}

// A drag from another program (or another window) brings files in: they
// are copied, so the answer is a copy whatever the source proposes; told
// "move", the source would delete its originals. A source that offers no
// copy is refused.
static bool FromOutside(const QWidget* window, const QDropEvent* e) {
    const auto* source = qobject_cast<const QWidget*>(e->source());
    return !e->source() || (source && source->window() != window);
}

static bool AcceptAsCopy(QDropEvent* e) {
    if (!(e->possibleActions() & Qt::CopyAction)) {
        e->ignore();
        return false;
    }
    e->setDropAction(Qt::CopyAction);
    e->accept();
    return true;
}

// Entries of this list may be dropped on its items; files from outside anywhere.
bool TVoldex::HandleViewDrag(QAbstractItemView* view, QEvent* event) {
    auto* e = static_cast<QDropEvent*>(event);
    const QMimeData* data = e->mimeData();
    bool ours = data->hasFormat(kEntriesMime) && e->source() && e->source() == ActiveView();
    QModelIndex at = view->indexAt(e->position().toPoint());
    bool outside = data->hasUrls() && FromOutside(this, e) && currentDir_;
    if (outside) AcceptAsCopy(e);
    else if (ours && (at.isValid() || event->type() == QEvent::DragEnter)) e->acceptProposedAction();
    else e->ignore();
    return true;
}

bool TVoldex::HandleViewDrop(QAbstractItemView* view, QEvent* event) {
    auto* e = static_cast<QDropEvent*>(event);
    const QMimeData* data = e->mimeData();
    if (data->hasFormat(kEntriesMime) && e->source() == ActiveView()) {
        QModelIndex at = view->indexAt(e->position().toPoint());
        if (at.isValid()) {
            e->acceptProposedAction();
            DropEntriesOnListItem(IndexAt(at));
        }
    } else if (FromOutside(this, e)) {
        if (!AcceptAsCopy(e)) return true;
        std::vector<std::string> paths = LocalPaths(data);
        activateWindow();
        raise();
        ImportPaths(paths);
    }
    return true;
}

void TVoldex::OpenSelectedFolder() {
    auto sel = SelectedEntries();
    if (sel.empty() || !currentDir_ || !(currentDir_->GetAttr(sel[0]) & kAttrDirectory)) return;
    int64_t c = currentDir_->GetStartCluster(sel[0]);
    ListDirectory(c < 2 ? 0 : uint32_t(c));
}

// The list's own keys: Backspace up, Enter into a folder, Del, F2, and
// Escape for the popup.
bool TVoldex::HandleViewKey(QAbstractItemView* view, QKeyEvent* k) {
    // While a caption is edited the keys go to the editor, not here.
    if (QApplication::focusWidget() && QApplication::focusWidget() != view) return false;
    switch (k->key()) {
        case Qt::Key_Backspace: UpDir(); return true;
        case Qt::Key_Return:
        case Qt::Key_Enter: OpenSelectedFolder(); return true;
        case Qt::Key_Delete:
            if (!SelectedEntries().empty()) DeleteSelected();
            return true;
        case Qt::Key_F2:
            if (!SelectedEntries().empty()) RenameSelected();
            return true;
        case Qt::Key_Home:
        case Qt::Key_End: {
            // Home and End select the first or last row, even the current one.
            if (k->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier) || model_->rowCount() == 0) return false;
            QModelIndex at = model_->index(k->key() == Qt::Key_Home ? 0 : model_->rowCount() - 1, 0);
            view->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            view->scrollTo(at);
            return true;
        }
        case Qt::Key_Escape:
            UpdatePasteState();
            popup_->popup(view->viewport()->mapToGlobal(QPoint(0, 0)));
            return true;
        default: return false;
    }
}

bool TVoldex::HandleTreeEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (QTreeWidgetItem* node = tree_->itemAt(e->position().toPoint())) {
                if (e->button() == Qt::RightButton) tree_->setCurrentItem(node);
                downPoint_ = e->position().toPoint();
                armed_ = e->button() == Qt::LeftButton;
            }
            return false;
        }
        case QEvent::MouseMove: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (!armed_ || !(e->buttons() & Qt::LeftButton)) return false;
            if ((e->position().toPoint() - downPoint_).manhattanLength() < QApplication::startDragDistance()) return false;
            armed_ = false;
            if (!tree_->currentItem()) return false;
            auto* drag = new QDrag(tree_);
            auto* data = new QMimeData;
            data->setData(kFolderMime, QByteArray::number(tree_->currentItem()->data(0, kClusterRole).toUInt()));
            drag->setMimeData(data);
            drag->exec(Qt::MoveAction);
            return true;
        }
        case QEvent::MouseButtonRelease:
            armed_ = false;
            return false;
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* e = static_cast<QDropEvent*>(event);
            bool internal = e->mimeData()->hasFormat(kFolderMime) || e->mimeData()->hasFormat(kEntriesMime);
            if (FromOutside(this, e) && e->mimeData()->hasUrls() && currentDir_) AcceptAsCopy(e);
            else if (internal && (tree_->itemAt(e->position().toPoint()) || event->type() == QEvent::DragEnter))
                e->acceptProposedAction();
            else e->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            QTreeWidgetItem* node = tree_->itemAt(e->position().toPoint());
            if (FromOutside(this, e)) {
                if (AcceptAsCopy(e)) ImportPaths(LocalPaths(e->mimeData()));
                return true;
            }
            e->acceptProposedAction();
            if (e->mimeData()->hasFormat(kFolderMime) && e->source() == tree_) DropTreeNodeOnTreeNode(node);
            else if (e->mimeData()->hasFormat(kEntriesMime) && e->source() == ActiveView()) DropEntriesOnTreeNode(node);
            return true;
        }
        default: return false;
    }
}

bool TVoldex::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tree_->viewport()) return HandleTreeEvent(event);
    if (watched == tree_ && event->type() == QEvent::KeyPress) {
        int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Delete && key != Qt::Key_F2) return false;
        ActOnTreeFolder(key == Qt::Key_F2);
        return true;
    }
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(detailsView_), static_cast<QAbstractItemView*>(iconView_)}) {
        if (watched == v->viewport() && event->type() != QEvent::KeyPress) return HandleViewEvent(v, event);
        if (watched == v && event->type() == QEvent::KeyPress) return HandleViewEvent(v, event);
    }
    return QMainWindow::eventFilter(watched, event);
}
