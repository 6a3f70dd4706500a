#pragma once
// What the window exchanges with the desktop: the confirmation list for
// dropped files and moves, data that becomes real host files only when a
// drop target or a paste asks for it, and the menu on exported copies.

#include <QDialog>
#include <QMimeData>

#include <functional>
#include <string>
#include <vector>

// The drop confirmation list ("書き込みの確認", "移動の確認"). True for Yes.
bool ShowDropConfirmation(QWidget* parent, const QString& caption, const QString& label,
                          const std::vector<std::string>& lines);

// Mime data whose files are exported at the moment they are asked for.
// `exporter` writes the entries into the temporary folder and returns the
// host paths (empty when nothing could be exported); it runs at most once.
// `listing` gives the tab-separated listing for text/plain (may be empty).
class ExportingMimeData : public QMimeData {
    Q_OBJECT
public:
    ExportingMimeData(std::function<std::vector<std::string>()> exporter, std::function<std::string()> listing,
                      bool offerCopiedFiles);
    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;
    // True once the files were asked for.
    bool Exported() const { return done_; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    const std::vector<std::string>& Paths() const;

    std::function<std::vector<std::string>()> exporter_;
    std::function<std::string()> listing_;
    bool offerCopiedFiles_;
    mutable bool done_ = false;
    mutable std::vector<std::string> paths_;
};

// The mime type of entries dragged inside the window.
inline constexpr const char* kEntriesMime = "application/x-voldex-entries";
inline constexpr const char* kFolderMime = "application/x-voldex-folder";

// The local host paths of a drop or a paste (text/uri-list), in order.
std::vector<std::string> LocalPaths(const QMimeData* data);

// The menu on exported copies: open with the default application, show the folder.
void ShowShellMenu(QWidget* parent, const std::vector<std::string>& paths, const QPoint& globalPos);
