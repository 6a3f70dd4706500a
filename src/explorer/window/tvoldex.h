#pragma once
// The explorer window: the folder tree on the left, the file list on the
// right, the menus, the status panels, and every command on the mounted
// volume. It is the user-interface layer of the core while it lives.

#include <QElapsedTimer>
#include <QMainWindow>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/userinterface.h"
#include "opening/detect.h"
#include "volume/didir.h"
#include "volume/diskimage.h"

class QAction;
class QAbstractItemView;
class QLabel;
class QListView;
class QSplitter;
class QMenu;
class QStackedWidget;
class EntryListModel;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;
class QKeyEvent;
class QModelIndex;
class QMimeData;
class TMsgForm;

class TVoldex : public QMainWindow, public UserInterface {
    Q_OBJECT
public:
    TVoldex();
    ~TVoldex() override;

    // The user-interface layer.
    int ShowBox(const std::string& text, const std::string& caption, int style) override;
    OverwriteAnswer AskOverwrite(const std::string& existingName, const SystemTime& existingTime,
                                 const std::string& incomingName, const SystemTime& incomingTime) override;
    void SetStatusText(int panel, const std::string& text) override;
    bool IsShiftHeld() override;
    bool ShowDiskTypeDialog(const std::string& path, const std::vector<std::string>& items, int& selected) override;
    int ShowPartitionDialog(THDDPartDialog& dialog, bool expanded) override;
    bool ShowManualDialog(TManualDiskDialog& dialog) override;
    bool AskNewImage(NewImageAnswers& answers) override;
    bool AskConvertTarget(const std::string& source, std::string& target, std::string& container) override;
    bool ConfirmConversionLosses(const std::vector<std::string>& reasons, bool canDrop) override;
    bool ShowProperties(EntryProperties& properties) override;
    bool ConfirmImport(const std::vector<std::string>& paths) override;
    bool OfferReadOnly(const std::string& path) override;
    bool ConfirmMove(const std::vector<std::string>& names, const std::string& target) override;
    bool OfferRepair(const std::vector<std::string>& findings, bool repairable) override;
    void FolderAdded(uint32_t parent, uint32_t cluster, const std::string& name) override;
    void FolderRenamed(uint32_t cluster, const std::string& name) override;
    void FolderMoved(uint32_t cluster, uint32_t newParent) override;
    void FolderRemoved(uint32_t cluster) override;
    void FreeSpaceChanged() override { ShowFreeSpace(); }

    // The choosers of files and folders (replaceable for tests).
    virtual std::optional<std::string> ChooseImageFile();
    virtual std::optional<std::string> ChooseExportFolder();
    virtual std::vector<std::string> ChooseImportFiles();

    // Opening and closing. The start path is opened at the first showing;
    // without one the image file chooser asks.
    void SetStartPath(const std::string& path) { startPath_ = path; }
    void FirstShow();
    bool OpenImage(const std::string& path);
    bool OpenVolume(const VolumeParams& params);
    void CloseVolume();
    bool HasVolume() const { return image_ != nullptr; }
    DiskImage* Image() const { return image_.get(); }
    DIDir* CurrentDir() const { return currentDir_.get(); }
    uint32_t CurrentCluster() const { return currentCluster_; }
    const std::string& TempFolder() const { return tempFolder_; }

    // Tree and list.
    void ListDirectory(uint32_t cluster);
    void ColumnClick(int column);  // 1..5
    void SelectEntries(const std::vector<int>& indexes);
    std::vector<int> SelectedEntries() const;  // entry indexes, in list order
    std::vector<int> SelectedRows() const;     // rows of the list, in order
    std::vector<int> ListedEntries() const;    // entry indexes, in list order
    QString ColumnCaption(int column) const;
    // The order of two listed entries under the current sort state.
    bool SortsBefore(int a, int b) const;
    QTreeWidget* Tree() const { return tree_; }
    QTreeWidgetItem* FindTreeNode(uint32_t cluster) const;
    QString StatusPanel(int panel) const;

    // Commands.
    void UpDir();
    // Delete (or F2) on the folder tree: the current node's folder.
    void ActOnTreeFolder(bool rename);
    void SaveFiles();
    void WriteFiles();
    void MakeDir();
    void DeleteSelected(bool ask = true);
    void ReleaseSelected(bool ask = true);
    void CheckAndRepairVolume();
    void RenameSelected();
    // Edit > Properties: the selected entry, or the label when nothing is
    // selected in the root folder.
    void PropertiesOfSelection();
    // File > New image: makes the image and opens it.
    void NewImage();
    // File > Convert image: a copy of the open image in another container.
    void ConvertOpenImage();
    bool RenameEntry(int index, const QString& text);
    void CopySelected();
    void Paste();
    bool CanPaste() const;
    void ShellMenu(const QPoint& globalPos);
    void SelectAll();
    void InvertSelection();
    void SetViewMode(int mode);  // 0 large icons, 1 small icons, 2 list, 3 details
    void ToggleThisDir();
    void ToggleParentDir();
    void ImportPaths(const std::vector<std::string>& paths);
    // Moves inside the image, as the drops do them.
    void DropEntriesOnListItem(int targetIndex);
    void DropEntriesOnTreeNode(QTreeWidgetItem* node);
    void DropTreeNodeOnTreeNode(QTreeWidgetItem* node);
    // The drag out: the data a drop target receives.
    QMimeData* MakeDragData();
    std::vector<int> CollectTransferable() const;
    void ForgetClipboardCopy();

    // A long operation: once it has run longer than the progress delay
    // (half a second), a progress window shows the line of each step
    // (SetStatusText's lines of panel 1 are steps too) until it ends.
    // One that counts its items shows them in a bar; one that may be
    // stopped has a Cancel button.
    void BeginOperation(const QString& title, bool cancellable = false);
    void OperationStep(const QString& line);
    void EndOperation();
    void CountProgress(std::size_t done, std::size_t total) override;
    bool StopAsked() override;
    // Names an import stores changed; told once, when it ends.
    bool AcceptChangedName(const std::string& given, const std::string& stored) override;
    TMsgForm* ProgressWindow() const { return progress_.get(); }
    void SetProgressDelay(int ms) { progressDelay_ = ms; }
    int ProgressWindowsShown() const { return progressShown_; }

    // The settings dialog; ApplyConfig is what its OK does: the boxes'
    // values become the live values, then the file is written (a failed
    // write is reported, the values hold for this run all the same).
    void RunConfigDialog();
    bool ApplyConfig(const std::vector<std::pair<std::string, int>>& values);
    int LiveSetting(const std::string& key) const;

    // The layout kept in the settings: size, place, tree width, view, columns.
    void RestoreLayout();
    bool SaveLayout();
    int ViewMode() const { return viewMode_; }
    QSplitter* Splitter() const { return split_; }

    // Paste follows the clipboard; the selection commands follow the selection.
    void UpdatePasteState();

    QAction* Action(const char* name) const;
    QListView* IconView() const { return iconView_; }
    QTreeView* DetailsView() const { return detailsView_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildMenus();
    QAction* AddAction(QMenu* menu, const char* name, const QString& caption, const QKeySequence& key = {});
    void SetVolumeActions(bool enabled);
    void UpdateSelectionStatus();
    void ShowFreeSpace();
    bool BuildFolderTree(QTreeWidgetItem* node, TMsgForm* progress);
    // Reads every folder of the tree again (names shown another way), keeping
    // the current folder selected.
    void RebuildFolderTree();
    QTreeWidgetItem* AddFolderNode(QTreeWidgetItem* parent, uint32_t cluster, const std::string& name);
    void RemoveNode(QTreeWidgetItem* node);
    void ApplySort();
    void FillModel(const std::vector<int>& indexes);
    int CompareEntries(int a, int b, const std::string& nameA, const std::string& nameB) const;
    void MarkSortColumn();
    void ClearList();
    void MakeSortNames();
    int IndexAt(const QModelIndex& index) const;
    QAbstractItemView* ActiveView() const;
    void ReadLiveSettings();
    int* LiveField(const std::string& key);
    void SetPanel(int panel, const QString& text);
    void FitColumns(const int contentWidths[5]);
    void StartDrag(bool internal);
    bool HandleViewEvent(QAbstractItemView* view, QEvent* event);
    bool HandleViewMouse(QEvent* event);
    bool HandleViewDrag(QAbstractItemView* view, QEvent* event);
    bool HandleViewDrop(QAbstractItemView* view, QEvent* event);
    bool HandleViewKey(QAbstractItemView* view, QKeyEvent* event);
    void OpenSelectedFolder();
    bool HandleTreeEvent(QEvent* event);
    // What identifies a listed entry across a reading of its folder: its
    // place, its 8.3 name and its first cluster (new data, new cluster).
    // The volume label is known by its place alone: its name is what changes.
    struct EntryMark {
        int index;
        std::array<uint8_t, 11> name;
        uint32_t start;
        bool label;
    };
    std::vector<EntryMark> MarksOf(const std::vector<int>& entries) const;
    // The listed entries a mark names; with `sameData` the first cluster must match too.
    std::vector<int> Marked(const std::vector<EntryMark>& marks, bool sameData) const;
    // The next listing of this folder selects what is new since now.
    void SelectWhatComesNext();
    // Moves the selected list entries into `target`, writes both folders and lists again.
    void MoveSelectedInto(DIDir& target, const std::vector<int>& selected);

    std::unique_ptr<DiskImage> image_;
    OpenedFormat format_;  // what the opening found: container and geometry
    std::unique_ptr<DIDir> currentDir_;
    uint32_t currentCluster_ = 0xFFFFFFFFu;
    int sortDirection_ = 1, sortColumn_ = 1;
    bool busy_ = true;
    std::map<uint32_t, QTreeWidgetItem*> clusterToNode_;
    std::string tempFolder_;
    int dndMode_ = 0, notifyExtract_ = 0, movingDialog_ = 0, importDialog_ = 0, showExtendingTree_ = 0,
        showThisDir_ = 0, showParentDir_ = 0;
    uint32_t copySource_ = 0xFFFFFFFFu;
    std::vector<int> copiedEntries_;
    QMimeData* clipboardData_ = nullptr;
    bool armed_ = false;
    QPoint downPoint_;
    bool shown_ = false;
    int viewMode_ = 3;
    int userWidths_[5] = {160, 80, 70, 140, 60};  // as the user left them (or the defaults)
    bool fittingColumns_ = false;
    std::vector<std::string> sortNames_;  // display names by entry index, while sorting
    std::optional<std::string> startPath_;
    QElapsedTimer operationClock_;
    bool inOperation_ = false, cancellable_ = false;
    std::vector<std::string> changedNames_;
    void TellChangedNames();
    void ShowProgressWindow();
    QString operationTitle_;
    std::unique_ptr<TMsgForm> progress_;
    std::optional<std::vector<EntryMark>> before_;  // the entries listed before an import or a new folder
    int progressDelay_ = 500, progressShown_ = 0;

    QSplitter* split_;
    QTreeWidget* tree_;
    QStackedWidget* views_;
    QTreeView* detailsView_;
    QListView* iconView_;
    EntryListModel* model_;
    QLabel* panels_[3];
    QMenu* popup_;
    std::map<std::string, QAction*> actions_;
};
