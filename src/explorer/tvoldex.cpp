#include "explorer/tvoldex.h"

#include <QAction>
#include <QActionGroup>
#include <QDirIterator>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QDrag>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "device/messages.h"
#include "explorer/config.h"
#include "explorer/explorer_dialogs.h"
#include "explorer/exporter.h"
#include "explorer/folderops.h"
#include "explorer/hostnames.h"
#include "explorer/importer.h"
#include "explorer/mover.h"
#include "floppy/fdd_dialog.h"
#include "opening/diskinfo.h"
#include "opening/diskopen.h"
#include "opening/opening_dialogs.h"
#include "opening/physicalform.h"
#include "shell/listing.h"
#include "shell/shell_qt.h"

namespace {

constexpr int kIndexRole = Qt::UserRole + 1;
constexpr int kClusterRole = Qt::UserRole + 2;

QString U(const char* s) { return QString::fromUtf8(s); }
QString Q(const std::string& s) { return QString::fromStdString(s); }
// Names on the volume are Shift-JIS; the window shows them as text.
QString Name(const std::string& sjis) { return Q(SjisToUtf8(sjis)); }
QString Msg(unsigned id, const MsgArgs& args = {}) { return Q(ResourceString().LoadMessageV(id, args)); }

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(name, QApplication::style()->standardIcon(fallback));
}

const char* const kColumnCaptions[5] = {"Όνομα", "Μέγεθος", "Ιδιότητες", "Ενημέρωση", "Έναρξη"};

// Pauses for the window to repaint during long work; the user's input waits.
void KeepPainted() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

}  // namespace

TVoldex::TVoldex() {
    setObjectName("Voldex");
    setWindowTitle("Voldex");
    SetUserInterface(this);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName("DirectoryTree");
    tree_->setHeaderHidden(true);
    tree_->setIndentation(19);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->setContextMenuPolicy(Qt::PreventContextMenu);
    tree_->viewport()->setAcceptDrops(true);
    tree_->viewport()->installEventFilter(this);

    model_ = new QStandardItemModel(0, 5, this);
    for (int c = 0; c < 5; ++c) model_->setHorizontalHeaderItem(c, new QStandardItem(U(kColumnCaptions[c])));
    detailsView_ = new QTreeView(this);
    detailsView_->setObjectName("FileView");
    detailsView_->setModel(model_);
    detailsView_->setRootIsDecorated(false);
    detailsView_->setItemsExpandable(false);
    detailsView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    detailsView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    detailsView_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    detailsView_->setUniformRowHeights(true);
    detailsView_->header()->setSectionsClickable(true);
    detailsView_->header()->setSortIndicatorShown(false);
    const int widths[5] = {160, 80, 70, 140, 60};
    for (int c = 0; c < 5; ++c) detailsView_->setColumnWidth(c, widths[c]);
    iconView_ = new QListView(this);
    iconView_->setObjectName("FileViewIcons");
    iconView_->setModel(model_);
    iconView_->setSelectionModel(detailsView_->selectionModel());
    iconView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    iconView_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    iconView_->setMovement(QListView::Static);
    iconView_->setResizeMode(QListView::Adjust);
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(detailsView_), static_cast<QAbstractItemView*>(iconView_)}) {
        v->setDragDropMode(QAbstractItemView::NoDragDrop);
        v->viewport()->setAcceptDrops(true);
        v->viewport()->installEventFilter(this);
        v->installEventFilter(this);
        v->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(v, &QWidget::customContextMenuRequested, this, [this, v](const QPoint& p) {
            Action("MNEdit")->trigger();
            popup_->popup(v->viewport()->mapToGlobal(p));
        });
        connect(v, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) {
            auto sel = SelectedEntries();
            if (sel.empty() || !currentDir_) return;
            if (currentDir_->GetAttr(sel[0]) & kAttrDirectory) {
                int64_t c = currentDir_->GetStartCluster(sel[0]);
                ListDirectory(c < 2 ? 0 : uint32_t(c));
            } else {
                ShellMenu(QCursor::pos());
            }
        });
    }
    views_ = new QStackedWidget(this);
    views_->addWidget(iconView_);
    views_->addWidget(detailsView_);
    views_->setCurrentWidget(detailsView_);

    auto* split = new QSplitter(this);
    split->addWidget(tree_);
    split->addWidget(views_);
    split->setSizes({201, 431});
    split->setStretchFactor(1, 1);
    setCentralWidget(split);

    for (int k = 0; k < 3; ++k) {
        panels_[k] = new QLabel(this);
        panels_[k]->setObjectName(QString("Panel%1").arg(k));
    }
    panels_[0]->setMinimumWidth(200);
    panels_[1]->setMinimumWidth(220);
    statusBar()->setObjectName("Status");
    statusBar()->addWidget(panels_[0]);
    statusBar()->addWidget(panels_[1]);
    statusBar()->addWidget(panels_[2], 1);

    BuildMenus();

    connect(detailsView_->header(), &QHeaderView::sectionClicked, this, [this](int c) { ColumnClick(c + 1); });
    connect(detailsView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateSelectionStatus(); });
    connect(model_, &QStandardItemModel::itemChanged, this, &TVoldex::OnItemChanged);
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
        if (busy_ || !node) return;
        ListDirectory(node->data(0, kClusterRole).toUInt());
    });
    setAcceptDrops(false);
    resize(760, 460);

    if (!MakeTempFolder()) {
        ShowMessage(103);
        QTimer::singleShot(0, this, &QWidget::close);
    }
    ReadLiveSettings();
    CloseVolume();
}

TVoldex::~TVoldex() {
    ForgetClipboardCopy();
    currentDir_.reset();
    image_.reset();
    RemoveTempFolder();
    if (&UI() == this) SetUserInterface(nullptr);
}

QAction* TVoldex::AddAction(QMenu* menu, const char* name, const char* caption, const QKeySequence& key) {
    auto* a = new QAction(U(caption), this);
    a->setObjectName(name);
    if (!key.isEmpty()) a->setShortcut(key);
    menu->addAction(a);
    actions_[name] = a;
    return a;
}

QAction* TVoldex::Action(const char* name) const {
    auto it = actions_.find(name);
    return it == actions_.end() ? nullptr : it->second;
}

void TVoldex::BuildMenus() {
    QMenu* file = menuBar()->addMenu(U("Αρχείο"));
    file->setObjectName("MNFile");
    connect(AddAction(file, "MNUpDir", "Πάνω κατάλογος", QKeySequence("Ctrl+P")), &QAction::triggered, this, &TVoldex::UpDir);
    file->addSeparator();
    connect(AddAction(file, "MNSaveFile", "Εξαγωγή αρχείων ...", QKeySequence("Ctrl+E")), &QAction::triggered, this, &TVoldex::SaveFiles);
    connect(AddAction(file, "MNWriteFile", "Εισαγωγή αρχείων ...", QKeySequence("Ctrl+I")), &QAction::triggered, this, &TVoldex::WriteFiles);
    connect(AddAction(file, "MNMakeDir", "Δημιουργία φακέλου", QKeySequence("Ctrl+N")), &QAction::triggered, this, &TVoldex::MakeDir);
    connect(AddAction(file, "MNDelete", "Διαγραφή", QKeySequence("Ctrl+D")), &QAction::triggered, this, [this] { DeleteSelected(); });
    connect(AddAction(file, "MNRename", "Μετονομασία", QKeySequence("Ctrl+M")), &QAction::triggered, this, &TVoldex::RenameSelected);
    connect(AddAction(file, "MNShellMenu", "Μενού των Windows", QKeySequence("Ctrl+S")), &QAction::triggered, this,
            [this] { ShellMenu(QCursor::pos()); });
    file->addSeparator();
    connect(AddAction(file, "MNOpenDisk", "Άνοιγμα εικόνας δίσκου ...", QKeySequence("Ctrl+O")), &QAction::triggered, this, [this] {
        if (auto path = ChooseImageFile()) {
            CloseVolume();
            OpenImage(*path);
        }
    });
    file->addSeparator();
    connect(AddAction(file, "NMClose", "Έξοδος", QKeySequence("Ctrl+W")), &QAction::triggered, this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu(U("Επεξεργασία"));
    edit->setObjectName("MNEditMenu");
    connect(AddAction(edit, "MNCopy", "Αντιγραφή", QKeySequence("Ctrl+C")), &QAction::triggered, this, &TVoldex::CopySelected);
    connect(AddAction(edit, "MNPaste", "Επικόλληση", QKeySequence("Ctrl+V")), &QAction::triggered, this, &TVoldex::Paste);
    edit->addSeparator();
    connect(AddAction(edit, "MNSelectAll", "Επιλογή όλων", QKeySequence("Ctrl+A")), &QAction::triggered, this, &TVoldex::SelectAll);
    connect(AddAction(edit, "MNInverse", "Αντιστροφή επιλογής"), &QAction::triggered, this, &TVoldex::InvertSelection);
    // The paste check, run when the Edit menu or the popup opens.
    auto* check = new QAction(this);
    check->setObjectName("MNEdit");
    actions_["MNEdit"] = check;
    connect(check, &QAction::triggered, this, [this] {
        bool can = CanPaste();
        Action("MNPaste")->setEnabled(can);
        Action("PMPaste")->setEnabled(can);
    });
    connect(edit, &QMenu::aboutToShow, check, &QAction::trigger);

    QMenu* view = menuBar()->addMenu(U("Εμφάνιση"));
    view->setObjectName("MNShow");
    auto* group = new QActionGroup(this);
    const char* modes[4][2] = {{"MNVIcon", "Μεγάλα εικονίδια"}, {"MNVSmallIcon", "Μικρά εικονίδια"},
                               {"MNVList", "Λίστα"}, {"MNVReport", "Λεπτομέρειες"}};
    for (int k = 0; k < 4; ++k) {
        QAction* a = AddAction(view, modes[k][0], modes[k][1]);
        a->setCheckable(true);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, k] { SetViewMode(k); });
    }
    Action("MNVReport")->setChecked(true);
    view->addSeparator();
    QAction* thisDir = AddAction(view, "MNThisDir", "Εμφάνιση φακέλου .");
    thisDir->setCheckable(true);
    connect(thisDir, &QAction::triggered, this, &TVoldex::ToggleThisDir);
    QAction* parentDir = AddAction(view, "MNParentDir", "Εμφάνιση φακέλου ..");
    parentDir->setCheckable(true);
    connect(parentDir, &QAction::triggered, this, &TVoldex::ToggleParentDir);
    view->addSeparator();
    connect(AddAction(view, "MNConfig", "Ρυθμίσεις ..."), &QAction::triggered, this, [this] {
        TConfigForm form(this);
        if (form.exec() == QDialog::Accepted) {
            notifyExtract_ = Setting("NotifyExtract") != 0;
            importDialog_ = Setting("ImportDialog") != 0;
            movingDialog_ = Setting("MovingDialog") != 0;
            dndMode_ = Setting("DnDMode") != 0;
            showExtendingTree_ = Setting("ShowExtendingTree") != 0;
        }
    });
    view->addSeparator();
    connect(AddAction(view, "MNShowDiskInfo", "Πληροφορίες για τον δίσκο ..."), &QAction::triggered, this, [this] {
        if (image_) ShowDiskInfo(this, *image_);
    });

    QMenu* extras = menuBar()->addMenu(U("Επέκταση"));
    extras->setObjectName("MNSepecial");
    connect(AddAction(extras, "MNReleaseEntry", "Αποδέσμευση αρχείων και φακέλων"), &QAction::triggered, this,
            [this] { ReleaseSelected(); });
    extras->addSeparator();
    connect(AddAction(extras, "MNOpenPhysicalDrive", "Άνοιγμα δίσκου ..."), &QAction::triggered, this, [this] {
        std::string path;
        if (!ChooseDrivePath(this, path)) return;
        CloseVolume();
        TDiskOpener opener;
        VolumeParams params;
        if (OpenPhysicalDrive(opener, path, params)) OpenVolume(params);
    });
    connect(AddAction(extras, "MNMakeDiskImage", "Δημιουργία εικόνας από δίσκο ..."), &QAction::triggered, this, [this] {
        TMakeFDDForm form(this);
        form.exec();
    });

    QMenu* help = menuBar()->addMenu(U("Βοήθεια"));
    help->setObjectName("KH1");
    connect(AddAction(help, "MNHelp", "Βοήθεια ..."), &QAction::triggered, this, [this] { ShowHelp(this, 1); });
    help->addSeparator();
    connect(AddAction(help, "MNVersion", "Πληροφορίες για το Voldex ..."), &QAction::triggered, this, [] { ShowMessage(1); });

    // The list's popup, the same commands without shortcuts.
    popup_ = new QMenu(this);
    popup_->setObjectName("FileViewPopup");
    const char* items[][3] = {{"PMUpDir", "MNUpDir", "Πάνω κατάλογος"}, {nullptr, nullptr, nullptr},
                              {"PMSelectAll", "MNSelectAll", "Επιλογή όλων"}, {nullptr, nullptr, nullptr},
                              {"PMSaveFile", "MNSaveFile", "Εξαγωγή αρχείων ..."},
                              {"PMWriteFile", "MNWriteFile", "Εισαγωγή αρχείων ..."},
                              {"PMMakeDir", "MNMakeDir", "Δημιουργία φακέλου"}, {"PMDelete", "MNDelete", "Διαγραφή"},
                              {"PMRename", "MNRename", "Μετονομασία"}, {nullptr, nullptr, nullptr},
                              {"PMCopy", "MNCopy", "Αντιγραφή"}, {"PMPaste", "MNPaste", "Επικόλληση"},
                              {nullptr, nullptr, nullptr}, {"PMShell", "MNShellMenu", "Μενού των Windows"}};
    for (auto& it : items) {
        if (!it[0]) {
            popup_->addSeparator();
            continue;
        }
        QAction* a = AddAction(popup_, it[0], it[2]);
        QAction* main = Action(it[1]);
        connect(a, &QAction::triggered, main, &QAction::trigger);
    }
}

void TVoldex::ReadLiveSettings() {
    dndMode_ = Setting("DnDMode") != 0;
    notifyExtract_ = Setting("NotifyExtract") != 0;
    movingDialog_ = Setting("MovingDialog") != 0;
    importDialog_ = Setting("ImportDialog") != 0;
    showExtendingTree_ = Setting("ShowExtendingTree") != 0;
    showThisDir_ = Setting("ShowThisDir") != 0;
    showParentDir_ = Setting("ShowParentDir") != 0;
    Action("MNThisDir")->setChecked(showThisDir_);
    Action("MNParentDir")->setChecked(showParentDir_);
}

bool TVoldex::MakeTempFolder() {
    QByteArray tmpl = QDir(QDir::tempPath()).filePath("VX_XXXXXX").toLocal8Bit();
    if (!mkdtemp(tmpl.data())) return false;
    tempFolder_ = tmpl.toStdString();
    return true;
}

void TVoldex::RemoveTempFolder() {
    if (tempFolder_.empty()) return;
    // Only ever a folder under the system's temporary path.
    if (tempFolder_.rfind(QDir::tempPath().toStdString(), 0) != 0) return;
    QDir dir(Q(tempFolder_));
    // Copies exported read-only are made writable first, as the removal needs.
    QDirIterator it(Q(tempFolder_), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) QFile::setPermissions(it.next(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    dir.removeRecursively();
    tempFolder_.clear();
}

// --- the user-interface layer ------------------------------------------------

int TVoldex::ShowBox(const std::string& text, const std::string& caption, int style) {
    QMessageBox box(this);
    box.setWindowTitle(Q(caption));
    box.setText(Q(text));
    if (style == kBoxYesNoQuestion || style == kBoxYesNoWarning) {
        box.setIcon(style == kBoxYesNoQuestion ? QMessageBox::Question : QMessageBox::Warning);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? kIdYes : kIdNo;
    }
    box.setIcon(style == kBoxStop ? QMessageBox::Critical : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return kIdOk;
}

OverwriteAnswer TVoldex::AskOverwrite(const std::string& existingName, const SystemTime& existingTime,
                                      const std::string& incomingName, const SystemTime& incomingTime) {
    TOverWriteForm form(this, existingName, existingTime, incomingName, incomingTime);
    form.exec();
    return form.Answer();
}

void TVoldex::SetStatusText(int panel, const std::string& text) {
    if (panel < 0 || panel > 2) return;
    panels_[panel]->setText(Q(text));
    KeepPainted();
}

bool TVoldex::IsShiftHeld() { return QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier; }

bool TVoldex::ShowDiskTypeDialog(const std::string& path, const std::vector<std::string>& items, int& selected) {
    TDiskOpenerForm form(this, path, items, selected);
    if (form.exec() != QDialog::Accepted) return false;
    selected = form.Selected();
    return true;
}

int TVoldex::ShowPartitionDialog(THDDPartDialog& dialog, bool expanded) {
    THDDPartForm form(this, dialog, expanded);
    return form.exec() == QDialog::Accepted ? form.Chosen() : -1;
}

bool TVoldex::ShowManualDialog(TManualDiskDialog& dialog) {
    TManualDiskForm form(this, dialog);
    return form.exec() == QDialog::Accepted;
}

bool TVoldex::ConfirmImport(const std::vector<std::string>& paths) {
    return ShowDropConfirmation(this, Msg(901), Msg(902), paths);
}

bool TVoldex::ConfirmMove(const std::vector<std::string>& names, const std::string& target) {
    return ShowDropConfirmation(this, Msg(903), Msg(904, {target}), names);
}

QTreeWidgetItem* TVoldex::FindTreeNode(uint32_t cluster) const {
    auto it = clusterToNode_.find(cluster);
    return it == clusterToNode_.end() ? nullptr : it->second;
}

QTreeWidgetItem* TVoldex::AddFolderNode(QTreeWidgetItem* parent, uint32_t cluster, const std::string& name) {
    auto* node = new QTreeWidgetItem(parent, QStringList{Name(name)});
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
    if (QTreeWidgetItem* node = FindTreeNode(cluster)) node->setText(0, Name(name));
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

// --- choosers ---------------------------------------------------------------

std::optional<std::string> TVoldex::ChooseImageFile() {
    QString path = QFileDialog::getOpenFileName(this, U("Άνοιγμα εικόνας δίσκου"), Q(SettingText("LastOpenDir")),
                                                Msg(206) + " (*)");
    if (path.isEmpty()) return std::nullopt;
    WriteSettingString(kSettingsSection, "LastOpenDir", QFileInfo(path).absolutePath().toStdString());
    return path.toStdString();
}

std::optional<std::string> TVoldex::ChooseExportFolder() {
    QString dir = QFileDialog::getExistingDirectory(this, U("Εξαγωγή αρχείων"), Q(SettingText("LastExportDir")));
    if (dir.isEmpty()) return std::nullopt;
    return dir.toStdString();
}

std::vector<std::string> TVoldex::ChooseImportFiles() {
    QStringList files = QFileDialog::getOpenFileNames(this, U("Εισαγωγή αρχείων"), Q(SettingText("LastImportDir")),
                                                      Msg(206) + " (*)");
    std::vector<std::string> out;
    for (const QString& f : files) out.push_back(f.toStdString());
    if (!files.isEmpty())
        WriteSettingString(kSettingsSection, "LastImportDir", QFileInfo(files.front()).absolutePath().toStdString());
    return out;
}

// --- opening ----------------------------------------------------------------

void TVoldex::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        QTimer::singleShot(0, this, &TVoldex::FirstShow);
    }
}

void TVoldex::FirstShow() {
    if (image_) return;
    std::optional<std::string> path = ParseCommandLinePath(ArgumentText());
    if (!path) path = ChooseImageFile();
    if (path) {
        OpenImage(*path);
    } else if (Setting("ExitOnCancel")) {
        close();
    }
}

bool TVoldex::OpenImage(const std::string& path) {
    TDiskOpener opener;
    VolumeParams params;
    if (!DetectAndSelect(opener, path, params)) return false;
    return OpenVolume(params);
}

bool TVoldex::OpenVolume(const VolumeParams& params) {
    auto image = std::make_unique<DiskImage>();
    if (!image->Mount(params)) return false;
    image_ = std::move(image);
    busy_ = true;
    tree_->setUpdatesEnabled(false);
    std::string path = image_->Device()->GetPath();
    QString fileName = Q(HostBaseName(path));
    auto* root = new QTreeWidgetItem(tree_, QStringList{fileName});
    root->setData(0, kClusterRole, 0u);
    root->setIcon(0, ThemeIcon("drive-harddisk", QStyle::SP_DriveHDIcon));
    clusterToNode_[0] = root;
    if (!IsShiftHeld()) {
        std::unique_ptr<TMsgForm> progress;
        if (showExtendingTree_) {
            progress = std::make_unique<TMsgForm>(this);
            progress->SetTitle(Msg(136));
            progress->SetLine("\\");
            progress->show();
        }
        BuildFolderTree(root, progress.get());
    }
    tree_->setCurrentItem(root);
    root->setExpanded(true);
    tree_->setUpdatesEnabled(true);
    busy_ = false;
    ListDirectory(0);
    ShowFreeSpace();
    setWindowTitle(Msg(137, {fileName.toStdString()}));
    SetVolumeActions(true);
    return true;
}

bool TVoldex::BuildFolderTree(QTreeWidgetItem* node, TMsgForm* progress) {
    DIDir dir(image_.get(), node->data(0, kClusterRole).toUInt());
    if (!dir.Load()) {
        ShowMessage(106, "");
        return false;
    }
    for (uint32_t i = 0; i < dir.GetCount(); ++i) {
        int k = int(i);
        std::string name = dir.GetDisplayName(k);
        if (dir.IsFree(k) || !(dir.GetAttr(k) & kAttrDirectory) || name.empty() || name[0] == '.') continue;
        uint32_t cluster = uint32_t(dir.GetStartCluster(k));
        QTreeWidgetItem* child = AddFolderNode(node, cluster, name);
        if (clusterToNode_.count(cluster)) {
            ShowMessage(128);
            return false;
        }
        clusterToNode_[cluster] = child;
        if (progress) {
            progress->SetLine(Name(name));
            KeepPainted();
        }
        if (!BuildFolderTree(child, progress)) return false;
    }
    return true;
}

void TVoldex::CloseVolume() {
    ForgetClipboardCopy();
    busy_ = true;
    currentDir_.reset();
    image_.reset();
    currentCluster_ = 0xFFFFFFFFu;
    model_->removeRows(0, model_->rowCount());
    clusterToNode_.clear();
    tree_->clear();
    SetVolumeActions(false);
    for (const char* a : {"MNSaveFile", "MNDelete", "MNRename", "MNCopy", "PMSaveFile", "PMDelete", "PMRename", "PMCopy",
                          "PMShell", "MNReleaseEntry", "MNShellMenu", "MNUpDir", "PMUpDir", "MNPaste", "PMPaste"})
        Action(a)->setEnabled(false);
    panels_[0]->setText(Msg(135));
    panels_[1]->setText(Msg(144, {"0", "0"}));
    panels_[2]->setText(Msg(138, {"0", "0"}));
    busy_ = false;
}

void TVoldex::SetVolumeActions(bool enabled) {
    for (const char* a : {"MNSelectAll", "MNInverse", "MNWriteFile", "MNMakeDir", "PMSelectAll", "PMWriteFile",
                          "PMMakeDir", "MNShowDiskInfo"})
        Action(a)->setEnabled(enabled);
}

void TVoldex::ShowFreeSpace() {
    if (!image_) return;
    panels_[2]->setText(Msg(138, {GroupDigits(uint64_t(image_->FreeClusters) * image_->ClusterSize),
                                  GroupDigits(image_->FreeClusters)}));
}

void TVoldex::closeEvent(QCloseEvent* event) {
    busy_ = true;
    ForgetClipboardCopy();
    QMainWindow::closeEvent(event);
}

// --- the list ---------------------------------------------------------------

void TVoldex::ListDirectory(uint32_t cluster) {
    if (!image_) return;
    busy_ = true;
    currentCluster_ = cluster;
    model_->removeRows(0, model_->rowCount());
    currentDir_ = std::make_unique<DIDir>(image_.get(), cluster);
    if (!currentDir_->Load()) {
        ShowMessage(106, "");
        currentDir_.reset();
        busy_ = false;
        return;
    }
    panels_[0]->setText(Msg(139, {GroupDigits(currentDir_->GetCount())}));
    ApplySort();
    if (QTreeWidgetItem* node = FindTreeNode(cluster)) tree_->setCurrentItem(node);
    else tree_->setCurrentItem(nullptr);
    busy_ = false;
    UpdateSelectionStatus();
    Action("MNUpDir")->setEnabled(cluster != 0);
    Action("PMUpDir")->setEnabled(cluster != 0);
}

int TVoldex::CompareEntries(int a, int b) const {
    const DIDir& d = *currentDir_;
    bool fa = d.GetAttr(a) & kAttrDirectory, fb = d.GetAttr(b) & kAttrDirectory;
    if (fa != fb) return fa ? -1 : 1;
    std::string na = d.GetDisplayName(a), nb = d.GetDisplayName(b);
    auto bytes = [](const std::string& x, const std::string& y) {
        int r = std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()));
        if (r != 0) return r < 0 ? -1 : 1;
        return x.size() < y.size() ? -1 : x.size() > y.size() ? 1 : 0;
    };
    if ((!na.empty() && na[0] == '.') || (!nb.empty() && nb[0] == '.')) return bytes(na, nb);
    int r = 0;
    auto cmp = [](auto x, auto y) { return x < y ? -1 : x > y ? 1 : 0; };
    switch (sortColumn_) {
        case 1: r = bytes(na, nb); break;
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

void TVoldex::ApplySort() {
    for (int c = 0; c < 5; ++c) {
        QString caption = U(kColumnCaptions[c]);
        if (sortDirection_ != 0 && c + 1 == sortColumn_) caption.prepend(sortDirection_ > 0 ? '+' : '-');
        model_->horizontalHeaderItem(c)->setText(caption);
    }
    if (!currentDir_) return;
    std::vector<int> indexes;
    for (uint32_t i = 0; i < currentDir_->GetCount(); ++i) {
        int k = int(i);
        if (currentDir_->IsFree(k) || currentDir_->GetAttr(k) == 0x0F) continue;
        std::string name = currentDir_->GetDisplayName(k);
        if (name == "." && !showThisDir_) continue;
        if (name == ".." && !showParentDir_) continue;
        indexes.push_back(k);
    }
    if (sortDirection_ != 0 && sortColumn_ >= 1 && sortColumn_ <= 5)
        std::stable_sort(indexes.begin(), indexes.end(), [this](int a, int b) { return CompareEntries(a, b) < 0; });
    FillModel(indexes);
}

void TVoldex::FillModel(const std::vector<int>& indexes) {
    bool wasBusy = busy_;
    busy_ = true;
    model_->removeRows(0, model_->rowCount());
    const DIDir& d = *currentDir_;
    QIcon folder = ThemeIcon("folder", QStyle::SP_DirIcon), file = ThemeIcon("text-x-generic", QStyle::SP_FileIcon);
    for (int i : indexes) {
        uint8_t attr = d.GetAttr(i);
        QList<QStandardItem*> row;
        auto* name = new QStandardItem((attr & kAttrDirectory) ? folder : file, Name(d.GetDisplayName(i)));
        name->setData(i, kIndexRole);
        row << name;
        bool noSize = attr & (kAttrDirectory | kAttrVolume);
        row << new QStandardItem(noSize ? QString() : Q(GroupDigits(d.GetSize(i))));
        row << new QStandardItem(Q(d.GetAttrText(i)));
        row << new QStandardItem(Q(d.GetTimeText(i)));
        row << new QStandardItem("#" + QString::number(d.GetStartCluster(i)));
        for (int c = 1; c < 5; ++c) row[c]->setEditable(false);
        row[1]->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row[2]->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row[3]->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        model_->appendRow(row);
    }
    busy_ = wasBusy;
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
    std::vector<int> selected = SelectedEntries();
    ApplySort();
    SelectEntries(selected);
}

QString TVoldex::ColumnCaption(int column) const { return model_->horizontalHeaderItem(column - 1)->text(); }

QString TVoldex::StatusPanel(int panel) const { return panels_[panel]->text(); }

int TVoldex::IndexAt(const QModelIndex& index) const {
    return model_->item(index.row(), 0)->data(kIndexRole).toInt();
}

std::vector<int> TVoldex::ListedEntries() const {
    std::vector<int> v;
    for (int r = 0; r < model_->rowCount(); ++r) v.push_back(model_->item(r, 0)->data(kIndexRole).toInt());
    return v;
}

std::vector<int> TVoldex::SelectedEntries() const {
    std::vector<int> v;
    auto* sel = detailsView_->selectionModel();
    for (int r = 0; r < model_->rowCount(); ++r)
        if (sel->isRowSelected(r, QModelIndex())) v.push_back(model_->item(r, 0)->data(kIndexRole).toInt());
    return v;
}

void TVoldex::SelectEntries(const std::vector<int>& indexes) {
    bool wasBusy = busy_;
    busy_ = true;
    auto* sel = detailsView_->selectionModel();
    sel->clearSelection();
    for (int r = 0; r < model_->rowCount(); ++r)
        if (std::find(indexes.begin(), indexes.end(), model_->item(r, 0)->data(kIndexRole).toInt()) != indexes.end())
            sel->select(model_->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
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
    panels_[0]->setText(any ? Msg(141, {GroupDigits(selected.size())}) : Msg(140, {int(counted.size())}));
    panels_[1]->setText(Msg(144, {GroupDigits(bytes), GroupDigits(clusters)}));
    for (const char* a : {"MNSaveFile", "MNDelete", "MNRename", "MNCopy", "PMSaveFile", "PMDelete", "PMRename", "PMCopy",
                          "PMShell", "MNReleaseEntry", "MNShellMenu"})
        Action(a)->setEnabled(any);
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
        if (!n.empty() && n[0] != '.' && !(currentDir_->GetAttr(i) & kAttrVolume)) all.push_back(i);
    }
    SelectEntries(all);
}

void TVoldex::InvertSelection() {
    if (!currentDir_) return;
    std::vector<int> selected = SelectedEntries(), next;
    for (int i : ListedEntries()) {
        std::string n = currentDir_->GetDisplayName(i);
        if (n.empty() || n[0] == '.' || (currentDir_->GetAttr(i) & kAttrVolume)) continue;
        if (std::find(selected.begin(), selected.end(), i) == selected.end()) next.push_back(i);
    }
    SelectEntries(next);
}

void TVoldex::SetViewMode(int mode) {
    static const char* const names[4] = {"MNVIcon", "MNVSmallIcon", "MNVList", "MNVReport"};
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
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ImportFileList(*currentDir_, paths, importDialog_ != 0);
    QApplication::restoreOverrideCursor();
    ListDirectory(currentCluster_);
    ShowFreeSpace();
}

void TVoldex::WriteFiles() {
    if (!currentDir_) return;
    std::vector<std::string> files = ChooseImportFiles();
    if (files.empty()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ImportFileList(*currentDir_, files, false, true);
    QApplication::restoreOverrideCursor();
    ListDirectory(currentCluster_);
    ShowFreeSpace();
}

void TVoldex::MakeDir() {
    if (!currentDir_) return;
    if (MakeDefaultFolder(*currentDir_) >= 0) {
        currentDir_->Write();
        ListDirectory(currentCluster_);
        ShowFreeSpace();
    }
}

void TVoldex::DeleteSelected(bool ask) {
    if (!currentDir_) return;
    std::vector<int> selected = SelectedEntries();
    if (selected.empty() || (ask && !ConfirmDelete())) return;
    DeleteEntries(*currentDir_, selected);
    ForgetClipboardCopy();
    ListDirectory(currentCluster_);
    ShowFreeSpace();
}

void TVoldex::ReleaseSelected(bool ask) {
    if (!currentDir_) return;
    std::vector<int> selected = SelectedEntries();
    if (selected.empty() || (ask && !ConfirmRelease())) return;
    ReleaseEntries(*currentDir_, selected);
    ListDirectory(currentCluster_);
    ShowFreeSpace();
}

void TVoldex::RenameSelected() {
    auto* sel = detailsView_->selectionModel();
    for (int r = 0; r < model_->rowCount(); ++r)
        if (sel->isRowSelected(r, QModelIndex())) {
            ActiveView()->setCurrentIndex(model_->index(r, 0));
            ActiveView()->edit(model_->index(r, 0));
            return;
        }
}

bool TVoldex::RenameEntry(int index, const QString& text) {
    if (!currentDir_) return false;
    std::string before = currentDir_->GetDisplayName(index);
    std::string shown = ::RenameEntry(*currentDir_, index, Utf8ToSjis(text.toStdString()));
    for (int r = 0; r < model_->rowCount(); ++r)
        if (model_->item(r, 0)->data(kIndexRole).toInt() == index) {
            bool wasBusy = busy_;
            busy_ = true;
            model_->item(r, 0)->setText(Name(shown));
            busy_ = wasBusy;
        }
    return shown != before;
}

void TVoldex::OnItemChanged(QStandardItem* item) {
    if (busy_ || !currentDir_ || item->column() != 0) return;
    RenameEntry(item->data(kIndexRole).toInt(), item->text());
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
        paths.push_back(JoinHostPath(tempFolder, HostComponent(dir.GetDisplayName(i))));
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
    auto* data = new ExportingMimeData(
        [image, source, entries, temp] { return ExportCopies(image, source, entries, temp); },
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
    ShowShellMenu(this, paths, globalPos);
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
    for (int i : selected) names.push_back(SjisToUtf8(currentDir_->GetDisplayName(i)));
    std::string targetName = SjisToUtf8(currentDir_->GetDisplayName(targetIndex));
    if (movingDialog_ && !ConfirmMove(names, targetName)) return;
    int64_t c = currentDir_->GetStartCluster(targetIndex);
    DIDir target(image_.get(), c < 2 ? 0 : uint32_t(c));
    if (target.Load()) MoveSelectedInto(target, selected);
}

void TVoldex::MoveSelectedInto(DIDir& target, const std::vector<int>& selected) {
    for (int i : selected) MoveListEntry(*currentDir_, i, target);
    currentDir_->Write();
    target.Write();
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
        if ((currentDir_->GetAttr(i) & kAttrDirectory) && currentDir_->GetDisplayName(i)[0] != '.' &&
            AtOrBelow(node, FindTreeNode(uint32_t(currentDir_->GetStartCluster(i))))) {
            ShowMessage(122);
            return;
        }
    std::vector<std::string> names;
    for (int i : selected) names.push_back(SjisToUtf8(currentDir_->GetDisplayName(i)));
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

QMimeData* TVoldex::MakeDragData() {
    DiskImage* image = image_.get();
    uint32_t source = currentCluster_;
    std::string temp = tempFolder_;
    // The selection is taken when the drop target asks, not at the start.
    return new ExportingMimeData([this, image, source, temp] {
        return ExportCopies(image, source, CollectTransferable(), temp);
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
        case QEvent::MouseButtonPress: {
            auto* e = static_cast<QMouseEvent*>(event);
            downPoint_ = e->position().toPoint();
            armed_ = true;
            return false;
        }
        case QEvent::MouseButtonRelease:
            armed_ = false;
            return false;
        case QEvent::MouseMove: {
            auto* e = static_cast<QMouseEvent*>(event);
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
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* e = static_cast<QDropEvent*>(event);
            const QMimeData* data = e->mimeData();
            bool ours = data->hasFormat(kEntriesMime) && e->source() && e->source() == ActiveView();
            QModelIndex at = view->indexAt(e->position().toPoint());
            bool outside = data->hasUrls() && !e->source() && currentDir_;
            if ((ours && (at.isValid() || event->type() == QEvent::DragEnter)) || outside) e->acceptProposedAction();
            else e->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            const QMimeData* data = e->mimeData();
            if (data->hasFormat(kEntriesMime) && e->source() == ActiveView()) {
                QModelIndex at = view->indexAt(e->position().toPoint());
                if (at.isValid()) {
                    e->acceptProposedAction();
                    DropEntriesOnListItem(IndexAt(at));
                }
            } else if (!e->source()) {
                std::vector<std::string> paths = LocalPaths(data);
                e->acceptProposedAction();
                activateWindow();
                raise();
                ImportPaths(paths);
            }
            return true;
        }
        case QEvent::KeyPress: {
            auto* k = static_cast<QKeyEvent*>(event);
            // While a caption is edited the keys go to the editor, not here.
            if (QApplication::focusWidget() && QApplication::focusWidget() != view) return false;
            switch (k->key()) {
                case Qt::Key_Backspace: UpDir(); return true;
                case Qt::Key_Return:
                case Qt::Key_Enter: {
                    auto sel = SelectedEntries();
                    if (!sel.empty() && (currentDir_->GetAttr(sel[0]) & kAttrDirectory)) {
                        int64_t c = currentDir_->GetStartCluster(sel[0]);
                        ListDirectory(c < 2 ? 0 : uint32_t(c));
                    }
                    return true;
                }
                case Qt::Key_Delete:
                    if (!SelectedEntries().empty()) DeleteSelected();
                    return true;
                case Qt::Key_F2:
                    if (!SelectedEntries().empty()) RenameSelected();
                    return true;
                case Qt::Key_Escape:
                    Action("MNEdit")->trigger();
                    popup_->popup(view->viewport()->mapToGlobal(QPoint(0, 0)));
                    return true;
                default: return false;
            }
        }
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
            bool accept = (internal && (tree_->itemAt(e->position().toPoint()) || event->type() == QEvent::DragEnter)) ||
                          (!e->source() && e->mimeData()->hasUrls() && currentDir_);
            if (accept) e->acceptProposedAction();
            else e->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            QTreeWidgetItem* node = tree_->itemAt(e->position().toPoint());
            e->acceptProposedAction();
            if (e->mimeData()->hasFormat(kFolderMime) && e->source() == tree_) DropTreeNodeOnTreeNode(node);
            else if (e->mimeData()->hasFormat(kEntriesMime) && e->source() == ActiveView()) DropEntriesOnTreeNode(node);
            else if (!e->source()) ImportPaths(LocalPaths(e->mimeData()));
            return true;
        }
        default: return false;
    }
}

bool TVoldex::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tree_->viewport()) return HandleTreeEvent(event);
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(detailsView_), static_cast<QAbstractItemView*>(iconView_)}) {
        if (watched == v->viewport() && event->type() != QEvent::KeyPress) return HandleViewEvent(v, event);
        if (watched == v && event->type() == QEvent::KeyPress) return HandleViewEvent(v, event);
    }
    return QMainWindow::eventFilter(watched, event);
}
