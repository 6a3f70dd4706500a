// The main window: its parts, menus and status panels, the user-interface
// layer, opening and closing a volume, the temporary folder.
#include "explorer/window/tvoldex.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>

#include "opening/settings/config.h"
#include "explorer/window/explorer_dialogs.h"
#include "explorer/window/newimage_dialogs.h"
#include "explorer/ops/properties.h"
#include "opening/newdisk.h"
#include "opening/convert.h"
#include "opening/detect.h"
#include "device/containerdevice.h"
#include "explorer/ops/hostnames.h"
#include "explorer/ops/tempfolder.h"
#include "floppy/window/fdd_dialog.h"
#include "opening/diskinfo.h"
#include "opening/diskopen.h"
#include "opening/window/opening_dialogs.h"
#include "opening/physicalform.h"
#include "explorer/window/tvoldex_model.h"
#include "explorer/window/tvoldex_shared.h"
#include "shell/window/shell_qt.h"

using namespace tvoldex;

namespace {

// A status panel: as wide as it asks while the bar has room, narrower when
// the window is small, its text then cut with "…" (whole in its tip), so
// that panels never run into each other.
class StatusPanelLabel : public QLabel {
public:
    explicit StatusPanelLabel(QWidget* parent) : QLabel(parent) {}
    void SetFull(const QString& text, int wanted) {
        full_ = text;
        wanted_ = wanted;
        setProperty("fullText", text);
        Elide();
        updateGeometry();
    }
    const QString& Full() const { return full_; }
    QSize sizeHint() const override { return {wanted_, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return {fontMetrics().averageCharWidth() * 4, QLabel::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        Elide();
    }

private:
    void Elide() {
        const int room = contentsRect().width() - 2 * margin() - indent();
        QString shown = fontMetrics().horizontalAdvance(full_) <= room ? full_
                                                                        : fontMetrics().elidedText(full_, Qt::ElideRight, room);
        if (shown != text()) setText(shown);
        setToolTip(shown == full_ ? QString() : full_);
    }
    QString full_;
    int wanted_ = 0;
};

}  // namespace

TVoldex::TVoldex() {
    setObjectName("Voldex");
    setWindowTitle("Voldex");
    setWindowIcon(ProgramIcon());
    SetUserInterface(this);

    tree_ = new QTreeWidget(this);
    tree_->setObjectName("DirectoryTree");
    tree_->setHeaderHidden(true);
    tree_->setIndentation(19);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->setContextMenuPolicy(Qt::PreventContextMenu);
    tree_->viewport()->setAcceptDrops(true);
    tree_->viewport()->installEventFilter(this);
    tree_->installEventFilter(this);

    model_ = new EntryListModel(this);
    for (int c = 0; c < 5; ++c) model_->SetCaption(c, ColumnTitle(c));
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
    detailsView_->header()->setStretchLastSection(false);
    for (int c = 0; c < 5; ++c) detailsView_->setColumnWidth(c, userWidths_[c]);
    // A width the user sets by hand is kept (and remembered); the window
    // only ever widens a column to fit its texts.
    connect(detailsView_->header(), &QHeaderView::sectionResized, this, [this](int c, int, int size) {
        if (!fittingColumns_ && c >= 0 && c < 5) userWidths_[c] = size;
    });
    iconView_ = new QListView(this);
    iconView_->setObjectName("FileViewIcons");
    iconView_->setModel(model_);
    iconView_->setSelectionModel(detailsView_->selectionModel());
    iconView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    iconView_->setSelectionBehavior(QAbstractItemView::SelectRows);
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
            UpdatePasteState();
            popup_->popup(v->viewport()->mapToGlobal(p));
        });
        connect(v, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) {
            auto sel = SelectedEntries();
            if (sel.empty() || !currentDir_) return;
            if (currentDir_->GetAttr(sel[0]) & kAttrDirectory) OpenSelectedFolder();
            else ShellMenu(QCursor::pos());
        });
    }
    views_ = new QStackedWidget(this);
    views_->addWidget(iconView_);
    views_->addWidget(detailsView_);
    views_->setCurrentWidget(detailsView_);

    split_ = new QSplitter(this);
    split_->setObjectName("Splitter");
    split_->addWidget(tree_);
    split_->addWidget(views_);
    split_->setSizes({201, 431});
    split_->setStretchFactor(1, 1);
    split_->setChildrenCollapsible(false);
    setCentralWidget(split_);

    // Three framed panels, each at least as wide as its text (SetPanel).
    for (int k = 0; k < 3; ++k) {
        panels_[k] = new StatusPanelLabel(this);
        panels_[k]->setObjectName(QString("Panel%1").arg(k));
        panels_[k]->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        panels_[k]->setMargin(1);
        panels_[k]->setIndent(4);
        panels_[k]->setTextFormat(Qt::PlainText);
    }
    statusBar()->setObjectName("Status");
    statusBar()->addWidget(panels_[0]);
    statusBar()->addWidget(panels_[1]);
    statusBar()->addWidget(panels_[2], 1);

    BuildMenus();

    connect(detailsView_->header(), &QHeaderView::sectionClicked, this, [this](int c) { ColumnClick(c + 1); });
    connect(detailsView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateSelectionStatus(); });
    // A name edited in place is a rename.
    connect(model_, &EntryListModel::RenameRequested, this, [this](int entry, const QString& text) {
        if (!busy_ && currentDir_) RenameEntry(entry, text);
    });
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
        if (busy_ || !node) return;
        ListDirectory(node->data(0, kClusterRole).toUInt());
    });
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, &TVoldex::UpdatePasteState);
    setAcceptDrops(false);
    resize(900, 560);

    CleanStaleTempFolders();
    tempFolder_ = MakeTempFolder();
    if (tempFolder_.empty()) {
        ShowMessage(103);
        QTimer::singleShot(0, this, &QWidget::close);
    }
    ReadLiveSettings();
    CloseVolume();
    RestoreLayout();
}

TVoldex::~TVoldex() {
    ForgetClipboardCopy();
    currentDir_.reset();
    image_.reset();
    if (!tempFolder_.empty()) RemoveTempFolder(tempFolder_);
    if (&UI() == this) SetUserInterface(nullptr);
}

QAction* TVoldex::AddAction(QMenu* menu, const char* name, const QString& caption, const QKeySequence& key) {
    auto* a = new QAction(caption, this);
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
    QMenu* file = menuBar()->addMenu(U("&Αρχείο"));
    file->setObjectName("MNFile");
    connect(AddAction(file, "MNUpDir", U("&Πάνω κατάλογος"), QKeySequence("Ctrl+P")), &QAction::triggered, this, &TVoldex::UpDir);
    file->addSeparator();
    connect(AddAction(file, "MNSaveFile", U("&Εξαγωγή αρχείων ..."), QKeySequence("Ctrl+E")), &QAction::triggered, this, &TVoldex::SaveFiles);
    connect(AddAction(file, "MNWriteFile", U("Ε&ισαγωγή αρχείων ..."), QKeySequence("Ctrl+I")), &QAction::triggered, this, &TVoldex::WriteFiles);
    connect(AddAction(file, "MNMakeDir", U("&Δημιουργία φακέλου"), QKeySequence("Ctrl+N")), &QAction::triggered, this, &TVoldex::MakeDir);
    connect(AddAction(file, "MNDelete", U("Δια&γραφή"), QKeySequence("Ctrl+D")), &QAction::triggered, this, [this] { DeleteSelected(); });
    connect(AddAction(file, "MNRename", U("&Μετονομασία"), QKeySequence("Ctrl+M")), &QAction::triggered, this, &TVoldex::RenameSelected);
    connect(AddAction(file, "MNShellMenu", U("Μενού επι&φάνειας εργασίας"), QKeySequence("Ctrl+S")), &QAction::triggered, this,
            [this] { ShellMenu(QCursor::pos()); });
    file->addSeparator();
    connect(AddAction(file, "MNNewImage", U("&Νέα εικόνα δίσκου ...")), &QAction::triggered, this, &TVoldex::NewImage);
    connect(AddAction(file, "MNConvertImage", U("Με&τατροπή εικόνας…")), &QAction::triggered, this,
            &TVoldex::ConvertOpenImage);
    connect(AddAction(file, "MNOpenDisk", U("Άν&οιγμα εικόνας δίσκου ..."), QKeySequence("Ctrl+O")), &QAction::triggered, this, [this] {
        if (auto path = ChooseImageFile()) {
            CloseVolume();
            OpenImage(*path);
        }
    });
    file->addSeparator();
    connect(AddAction(file, "NMClose", U("Έ&ξοδος"), QKeySequence("Ctrl+W")), &QAction::triggered, this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu(U("&Επεξεργασία"));
    edit->setObjectName("MNEditMenu");
    connect(AddAction(edit, "MNCopy", U("&Αντιγραφή"), QKeySequence("Ctrl+C")), &QAction::triggered, this, &TVoldex::CopySelected);
    connect(AddAction(edit, "MNPaste", U("Επι&κόλληση"), QKeySequence("Ctrl+V")), &QAction::triggered, this, &TVoldex::Paste);
    edit->addSeparator();
    connect(AddAction(edit, "MNSelectAll", U("Επιλογή ό&λων"), QKeySequence("Ctrl+A")), &QAction::triggered, this, &TVoldex::SelectAll);
    connect(AddAction(edit, "MNInverse", U("Αντι&στροφή επιλογής")), &QAction::triggered, this, &TVoldex::InvertSelection);
    edit->addSeparator();
    connect(AddAction(edit, "MNProperties", U("Ιδιό&τητες ..."), QKeySequence("Alt+Return")), &QAction::triggered, this,
            &TVoldex::PropertiesOfSelection);
    // The paste check, run when the Edit menu or the popup opens.
    auto* check = new QAction(this);
    check->setObjectName("MNEdit");
    actions_["MNEdit"] = check;
    connect(check, &QAction::triggered, this, &TVoldex::UpdatePasteState);
    connect(edit, &QMenu::aboutToShow, check, &QAction::trigger);

    QMenu* view = menuBar()->addMenu(U("Ε&μφάνιση"));
    view->setObjectName("MNShow");
    auto* group = new QActionGroup(this);
    const std::pair<const char*, QString> modes[4] = {{"MNVIcon", U("&Μεγάλα εικονίδια")},
                                                      {"MNVSmallIcon", U("Μι&κρά εικονίδια")},
                                                      {"MNVList", U("&Λίστα")},
                                                      {"MNVReport", U("Λε&πτομέρειες")}};
    for (int k = 0; k < 4; ++k) {
        QAction* a = AddAction(view, modes[k].first, modes[k].second);
        a->setCheckable(true);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, k] { SetViewMode(k); });
    }
    Action("MNVReport")->setChecked(true);
    view->addSeparator();
    QAction* thisDir = AddAction(view, "MNThisDir", U("&Εμφάνιση φακέλου ."));
    thisDir->setCheckable(true);
    connect(thisDir, &QAction::triggered, this, &TVoldex::ToggleThisDir);
    QAction* parentDir = AddAction(view, "MNParentDir", U("Εμφάνιση &φακέλου .."));
    parentDir->setCheckable(true);
    connect(parentDir, &QAction::triggered, this, &TVoldex::ToggleParentDir);
    view->addSeparator();
    connect(AddAction(view, "MNConfig", U("&Ρυθμίσεις ...")), &QAction::triggered, this, &TVoldex::RunConfigDialog);
    view->addSeparator();
    connect(AddAction(view, "MNShowDiskInfo", U("Πληροφορίες για τον &δίσκο ...")), &QAction::triggered, this, [this] {
        if (image_) ShowDiskInfo(this, *image_, format_);
    });

    QMenu* extras = menuBar()->addMenu(U("Ε&πέκταση"));
    extras->setObjectName("MNSepecial");
    connect(AddAction(extras, "MNReleaseEntry", U("&Αποδέσμευση αρχείων και φακέλων")), &QAction::triggered, this,
            [this] { ReleaseSelected(); });
    connect(AddAction(extras, "MNCheckRepair", U("Έλεγ&χος και επισκευή…")), &QAction::triggered, this,
            &TVoldex::CheckAndRepairVolume);
    extras->addSeparator();
    connect(AddAction(extras, "MNOpenPhysicalDrive", U("Άνοιγμα μονάδας &δίσκου ...")), &QAction::triggered, this, [this] {
        std::string path;
        if (!ChooseDrivePath(this, path)) return;
        CloseVolume();
        TDiskOpener opener;
        VolumeParams params;
        LastOpenedFormat() = {};
        if (OpenPhysicalDrive(opener, path, params)) OpenVolume(params);
    });
    connect(AddAction(extras, "MNMakeDiskImage", U("Δημιουργία &εικόνας από δίσκο ...")), &QAction::triggered, this, [this] {
        TMakeFDDForm form(this);
        form.exec();
    });

    QMenu* help = menuBar()->addMenu(U("&Βοήθεια"));
    help->setObjectName("KH1");
    connect(AddAction(help, "MNHelp", U("&Βοήθεια ..."), QKeySequence::HelpContents), &QAction::triggered, this, [this] { ShowHelp(this, 1); });
    help->addSeparator();
    connect(AddAction(help, "MNVersion", U("Πληροφορίες για το &Voldex ...")), &QAction::triggered, this, [] { ShowMessage(1); });

    // The list's popup, the same commands without shortcuts.
    popup_ = new QMenu(this);
    popup_->setObjectName("FileViewPopup");
    struct PopupItem {
        const char* name;  // nullptr: a separator
        const char* main;  // the main-menu item it runs
        QString caption;
    };
    const PopupItem items[] = {{"PMUpDir", "MNUpDir", U("&Πάνω κατάλογος")}, {nullptr, nullptr, {}},
                               {"PMSelectAll", "MNSelectAll", U("Επιλογή ό&λων")}, {nullptr, nullptr, {}},
                               {"PMSaveFile", "MNSaveFile", U("&Εξαγωγή αρχείων ...")},
                               {"PMWriteFile", "MNWriteFile", U("Ε&ισαγωγή αρχείων ...")},
                               {"PMMakeDir", "MNMakeDir", U("&Δημιουργία φακέλου")},
                               {"PMDelete", "MNDelete", U("Δια&γραφή")},
                               {"PMRename", "MNRename", U("&Μετονομασία")}, {nullptr, nullptr, {}},
                               {"PMCopy", "MNCopy", U("&Αντιγραφή")}, {"PMPaste", "MNPaste", U("Επι&κόλληση")},
                               {nullptr, nullptr, {}}, {"PMShell", "MNShellMenu", U("Μενού επι&φάνειας εργασίας")},
                               {nullptr, nullptr, {}}, {"PMProperties", "MNProperties", U("Ιδιό&τητες ...")}};
    for (auto& it : items) {
        if (!it.name) {
            popup_->addSeparator();
            continue;
        }
        QAction* a = AddAction(popup_, it.name, it.caption);
        QAction* main = Action(it.main);
        connect(a, &QAction::triggered, main, &QAction::trigger);
    }

    // F10 opens the menu bar at its first menu, Alt+letter any menu.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this] {
        if (!menuBar()->actions().isEmpty()) menuBar()->setActiveAction(menuBar()->actions().front());
    });
}

// The settings the window keeps live copies of, by key.
int* TVoldex::LiveField(const std::string& key) {
    const std::pair<const char*, int*> fields[] = {
        {"DnDMode", &dndMode_},           {"NotifyExtract", &notifyExtract_},
        {"MovingDialog", &movingDialog_}, {"ImportDialog", &importDialog_},
        {"ShowExtendingTree", &showExtendingTree_}, {"ShowThisDir", &showThisDir_},
        {"ShowParentDir", &showParentDir_},
    };
    for (const auto& [name, field] : fields)
        if (key == name) return field;
    return nullptr;
}

int TVoldex::LiveSetting(const std::string& key) const { return *const_cast<TVoldex*>(this)->LiveField(key); }

void TVoldex::RunConfigDialog() {
    TConfigForm form(this);
    if (form.exec() != QDialog::Accepted || !ApplyConfig(form.Values())) return;
    // The language is taken at the next start.
    if (!WriteSettingString(kSettingsSection, "Language", form.ChosenLanguage())) ShowMessage(1260, SettingsPath());
}

bool TVoldex::ApplyConfig(const std::vector<std::pair<std::string, int>>& values) {
    std::vector<std::pair<std::string, std::string>> text;
    for (const auto& [key, value] : values) {
        if (int* field = LiveField(key)) *field = value != 0;
        text.emplace_back(key, std::to_string(value != 0 ? 1 : 0));
    }
    for (const auto& [key, value] : values)
        if (key == "LongNames" && image_ && image_->LongNames != (value != 0)) {
            image_->LongNames = value != 0;
            // Both panes show names: the tree is read again, then the list.
            RebuildFolderTree();
            ListDirectory(currentCluster_);
        }
    if (WriteSettings(kSettingsSection, text)) return true;
    ShowMessage(1260, SettingsPath());
    return false;
}

void TVoldex::ReadLiveSettings() {
    for (const char* key : {"DnDMode", "NotifyExtract", "MovingDialog", "ImportDialog", "ShowExtendingTree",
                            "ShowThisDir", "ShowParentDir"})
        *LiveField(key) = Setting(key) != 0;
    Action("MNThisDir")->setChecked(showThisDir_);
    Action("MNParentDir")->setChecked(showParentDir_);
}

// --- the user-interface layer ------------------------------------------------

int TVoldex::ShowBox(const std::string& text, const std::string& caption, int style) {
    return RunMessageBox(this, Q(text), Q(caption), style);
}

OverwriteAnswer TVoldex::AskOverwrite(const std::string& existingName, const SystemTime& existingTime,
                                      const std::string& incomingName, const SystemTime& incomingTime) {
    TOverWriteForm form(this, existingName, existingTime, incomingName, incomingTime);
    form.exec();
    return form.Answer();
}

void TVoldex::SetStatusText(int panel, const std::string& text) {
    if (panel < 0 || panel > 2) return;
    SetPanel(panel, Q(text));
    if (panel == 1) OperationStep(Q(text));
    KeepPainted();
}

void TVoldex::BeginOperation(const QString& title, bool cancellable) {
    operationTitle_ = title;
    inOperation_ = true;
    cancellable_ = cancellable;
    operationClock_.start();
}

void TVoldex::ShowProgressWindow() {
    if (progress_ || !inOperation_ || operationClock_.elapsed() < progressDelay_) return;
    progress_ = std::make_unique<TMsgForm>(this);
    progress_->SetTitle(operationTitle_);
    if (cancellable_) progress_->AllowCancel();
    progress_->show();
    ++progressShown_;
}

void TVoldex::OperationStep(const QString& line) {
    if (!inOperation_) return;
    ShowProgressWindow();
    if (progress_) progress_->SetLine(line);
    KeepPainted();
}

void TVoldex::CountProgress(std::size_t done, std::size_t total) {
    if (!inOperation_) return;
    ShowProgressWindow();
    if (progress_) progress_->ShowCount(done, total, Msg(133, {int(total), int(done)}));
    KeepPainted();
}

bool TVoldex::StopAsked() {
    if (!progress_ || !cancellable_) return false;
    // The progress window is modal: the user's input reaches it alone.
    QCoreApplication::processEvents();
    return progress_ && progress_->CancelAsked();
}

void TVoldex::EndOperation() {
    inOperation_ = false;
    cancellable_ = false;
    progress_.reset();
    TellChangedNames();
}

bool TVoldex::AcceptChangedName(const std::string& given, const std::string& stored) {
    changedNames_.push_back(ResourceString().LoadMessageV(1626, {given, stored}));
    if (!inOperation_) TellChangedNames();
    return true;
}

// One box for all the names an operation changed, so that a folder of such
// names asks for one click, not one per name.
void TVoldex::TellChangedNames() {
    if (changedNames_.empty()) return;
    std::vector<std::string> lines;
    lines.swap(changedNames_);
    const std::size_t shown = std::min<std::size_t>(lines.size(), 20);
    std::string text;
    for (std::size_t k = 0; k < shown; ++k) text += (k ? "\n" : "") + lines[k];
    if (shown < lines.size()) text += "\n…";
    ShowBox(text, "Voldex", kBoxOk);
}

bool TVoldex::IsShiftHeld() { return QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier; }

bool TVoldex::ShowDiskTypeDialog(const std::string& path, const std::vector<std::string>& items, int& selected) {
    TDiskOpenerForm form(this, path, items, selected);
    if (form.exec() != QDialog::Accepted) return false;
    selected = form.Selected();
    return true;
}

bool TVoldex::AskNewImage(NewImageAnswers& answers) {
    TNewImageForm form(this, answers);
    if (form.exec() != QDialog::Accepted) return false;
    answers = form.Answers();
    return true;
}

bool TVoldex::ShowProperties(EntryProperties& properties) {
    TPropertiesForm form(this, properties);
    if (form.exec() != QDialog::Accepted) return false;
    properties = form.Result();
    return true;
}

void TVoldex::NewImage() {
    if (auto path = RunNewImage()) {
        CloseVolume();
        OpenImage(*path);
    }
}

bool TVoldex::AskConvertTarget(const std::string& source, std::string& target, std::string& container) {
    QString suggested = target.empty() ? Q(source) : Q(target);
    // The extension names the container; the second filter asks for NFD r1
    // where .nfd would be NFD r0.
    const QString r1 = "NFD r1 (*.nfd)";
    QString chosen;
    QString f = ChooseSaveFile(this, U("Μετατροπή εικόνας"), suggested, U("Όλα τα αρχεία") + " (*);;" + r1, &chosen);
    if (f.isEmpty()) return false;
    target = f.toStdString();
    container = chosen == r1 ? "nfd-r1" : "";
    return true;
}

bool TVoldex::ConfirmConversionLosses(const std::vector<std::string>& reasons, bool canDrop) {
    return ShowConversionLosses(this, reasons, canDrop);
}

void TVoldex::ConvertOpenImage() {
    if (!image_ || busy_) return;
    DeviceIOIF* file = image_->Device();
    std::optional<std::size_t> disk;
    if (auto* c = dynamic_cast<DeviceIO_Container*>(file)) {
        if (c->Disks().size() > 1 && c->DiskAt(uint64_t(image_->DiskStart)) >= 0)
            disk = std::size_t(c->DiskAt(uint64_t(image_->DiskStart))) + 1;
        file = c->File();
    }
    // The volume's writes so far belong in the copy.
    if (!image_->Flush()) return;
    (void)RunConvertImage(file, ImageFileSize(file->GetPath()), disk);
}

void TVoldex::PropertiesOfSelection() {
    if (!currentDir_ || busy_) return;
    std::vector<int> selected = SelectedEntries();
    // The label's properties are the volume's: its name.
    int i = selected.empty() ? -1 : selected.front();
    if (i >= 0 && (currentDir_->GetAttr(i) & kAttrVolume) && currentDir_->GetAttr(i) != 0x0F) i = -1;
    if (i < 0 && currentCluster_ != 0) return;
    if (RunProperties(*currentDir_, i)) ListDirectory(currentCluster_);
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

bool TVoldex::OfferReadOnly(const std::string& path) {
    return AskMessage(1219, kBoxYesNoQuestion, path) == kIdYes;
}

bool TVoldex::OfferRepair(const std::vector<std::string>& findings, bool repairable) {
    return ShowRepairFindings(this, findings, repairable);
}

bool TVoldex::ConfirmMove(const std::vector<std::string>& names, const std::string& target) {
    return ShowDropConfirmation(this, Msg(903), Msg(904, {target}), names);
}

// --- choosers ---------------------------------------------------------------

std::optional<std::string> TVoldex::ChooseImageFile() {
    QString path = ChooseOpenFile(this, U("Άνοιγμα εικόνας δίσκου"), Q(SettingText("LastOpenDir")), Msg(206) + " (*)");
    if (path.isEmpty()) return std::nullopt;
    WriteSettingString(kSettingsSection, "LastOpenDir", QFileInfo(path).absolutePath().toStdString());
    return path.toStdString();
}

std::optional<std::string> TVoldex::ChooseExportFolder() {
    QString dir = ChooseFolder(this, U("Εξαγωγή αρχείων"), Q(SettingText("LastExportDir")));
    if (dir.isEmpty()) return std::nullopt;
    return dir.toStdString();
}

std::vector<std::string> TVoldex::ChooseImportFiles() {
    QStringList files = ChooseOpenFiles(this, U("Εισαγωγή αρχείων"), Q(SettingText("LastImportDir")), Msg(206) + " (*)");
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
    std::optional<std::string> path;
    path.swap(startPath_);  // used at the first showing only
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
    image->LongNames = LongNamesSetting();
    image_ = std::move(image);
    format_ = LastOpenedFormat();
    busy_ = true;
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
    busy_ = false;
    ListDirectory(0);
    ShowFreeSpace();
    setWindowTitle(Msg(137, {fileName.toStdString()}));
    SetVolumeActions(true);
    ActiveView()->setFocus();
    return true;
}

void TVoldex::CloseVolume() {
    ForgetClipboardCopy();
    busy_ = true;
    currentDir_.reset();
    if (image_ && !image_->MarkClosed()) ShowMessage(1841);
    image_.reset();
    currentCluster_ = 0xFFFFFFFFu;
    ClearList();
    clusterToNode_.clear();
    tree_->clear();
    SetVolumeActions(false);
    for (const char* a : {"MNSaveFile", "MNDelete", "MNRename", "MNCopy", "PMSaveFile", "PMDelete", "PMRename", "PMCopy",
                          "PMShell", "MNReleaseEntry", "MNShellMenu", "MNUpDir", "PMUpDir", "MNPaste", "PMPaste"})
        Action(a)->setEnabled(false);
    SetPanel(0, Msg(135));
    SetPanel(1, Msg(144, {"0", "0"}));
    SetPanel(2, Msg(138, {"0", "0"}));
    busy_ = false;
}

void TVoldex::SetVolumeActions(bool enabled) {
    for (const char* a : {"MNSelectAll", "MNInverse", "MNWriteFile", "MNMakeDir", "PMSelectAll", "PMWriteFile",
                          "PMMakeDir", "MNShowDiskInfo", "MNProperties", "PMProperties", "MNCheckRepair", "MNConvertImage"})
        Action(a)->setEnabled(enabled);
}

void TVoldex::ShowFreeSpace() {
    if (!image_) return;
    SetPanel(2, Msg(138, {GroupDigits(uint64_t(image_->FreeCount()) * image_->ClusterSize),
                          GroupDigits(image_->FreeCount())}));
}

void TVoldex::closeEvent(QCloseEvent* event) {
    busy_ = true;
    ForgetClipboardCopy();
    if (image_ && !image_->MarkClosed()) ShowMessage(1841);
    if (!SaveLayout()) std::fprintf(stderr, "voldex: %s\n", MessageString(2056, SettingsPath()).c_str());
    QMainWindow::closeEvent(event);
}

// A panel at least as wide as its text, so that no figure is cut and the
// panels never run into each other.
void TVoldex::SetPanel(int panel, const QString& text) {
    static const int base[3] = {200, 220, 50};
    auto* label = static_cast<StatusPanelLabel*>(panels_[panel]);
    int needed = label->fontMetrics().horizontalAdvance(text) + 2 * (label->frameWidth() + label->margin()) +
                 label->indent() + 8;
    label->SetFull(text, std::max(base[panel], needed));
}

void TVoldex::RestoreLayout() {
    WindowLayout l = ReadWindowLayout();
    if (l.width > 0 && l.height > 0) resize(l.width, l.height);
    QRect wanted(QPoint(l.left, l.top), size());
    bool onScreen = false;
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersected(wanted).width() >= 100) onScreen = true;
    // The place is the inside of the window, as it is kept: the frame the
    // window manager adds is never counted in (or the window would creep).
    if (l.width > 0 && onScreen) setGeometry(wanted);
    else CentreWindow(this);
    if (l.maximized) setWindowState(windowState() | Qt::WindowMaximized);
    if (l.treeWidth > 0) split_->setSizes({l.treeWidth, std::max(100, width() - l.treeWidth)});
    for (std::size_t c = 0; c < 5 && c < l.columnWidths.size(); ++c)
        if (l.columnWidths[c] > 0) {
            userWidths_[c] = l.columnWidths[c];
            detailsView_->setColumnWidth(int(c), l.columnWidths[c]);
        }
    SetViewMode(l.viewMode);
}

bool TVoldex::SaveLayout() {
    WindowLayout l;
    // The normal geometry, also when the window is left maximized; without
    // the frame, as RestoreLayout places it.
    QRect normal = isMaximized() && normalGeometry().isValid() ? normalGeometry() : geometry();
    l.left = normal.x();
    l.top = normal.y();
    l.width = normal.width();
    l.height = normal.height();
    l.maximized = isMaximized();
    l.treeWidth = split_->sizes().value(0);
    l.viewMode = viewMode_;
    l.columnWidths.assign(userWidths_, userWidths_ + 5);
    return WriteWindowLayout(l);
}
