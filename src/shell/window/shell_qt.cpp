#include "shell/window/shell_qt.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "explorer/window/explorer_dialogs.h"
#include "explorer/window/text_qt.h"

bool ShowDropConfirmation(QWidget* parent, const QString& caption, const QString& label,
                          const std::vector<std::string>& lines) {
    QDialog form(parent, Qt::Dialog | Qt::WindowStaysOnTopHint);
    form.setObjectName("TDropFileView");
    form.setWindowTitle(caption);
    auto* layout = new QVBoxLayout(&form);
    auto* list = new QListWidget(&form);
    list->setObjectName("FileListBox");
    for (const auto& l : lines) list->addItem(QString::fromStdString(l));
    layout->addWidget(list);
    auto* text = new QLabel(label, &form);
    text->setObjectName("Label");
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* buttons = new QHBoxLayout;
    auto* yes = new QPushButton(U("&Ναι"), &form);
    yes->setObjectName("Btn1");
    yes->setDefault(true);
    auto* no = new QPushButton(U("Ό&χι"), &form);
    no->setObjectName("Btn2");
    buttons->addStretch();
    buttons->addWidget(yes);
    buttons->addWidget(no);
    layout->addLayout(buttons);
    QObject::connect(yes, &QPushButton::clicked, &form, &QDialog::accept);
    QObject::connect(no, &QPushButton::clicked, &form, &QDialog::reject);
    list->setMinimumSize(360, 120);
    PrepareDialog(&form, kHelpConfirmList);
    return form.exec() == QDialog::Accepted;
}

ExportingMimeData::ExportingMimeData(std::function<std::vector<std::string>()> exporter,
                                     std::function<std::string()> listing, bool offerCopiedFiles)
    : exporter_(std::move(exporter)), listing_(std::move(listing)), offerCopiedFiles_(offerCopiedFiles) {}

QStringList ExportingMimeData::formats() const {
    QStringList f{"text/uri-list"};
    if (offerCopiedFiles_) f << "x-special/gnome-copied-files";
    if (listing_) f << "text/plain";
    return f;
}

bool ExportingMimeData::hasFormat(const QString& mimeType) const { return formats().contains(mimeType); }

const std::vector<std::string>& ExportingMimeData::Paths() const {
    if (!done_) {
        done_ = true;
        paths_ = exporter_();
    }
    return paths_;
}

QVariant ExportingMimeData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType == "text/plain" && listing_) return QString::fromStdString(listing_());
    if (mimeType == "text/uri-list" || mimeType == "x-special/gnome-copied-files") {
        QList<QVariant> urls;
        QByteArray copied = "copy";
        for (const auto& p : Paths()) {
            QUrl url = QUrl::fromLocalFile(QString::fromStdString(p));
            urls << url;
            copied += "\n" + url.toEncoded();
        }
        if (mimeType == "x-special/gnome-copied-files") return copied;
        if (type.id() == QMetaType::QByteArray) {
            QByteArray list;
            for (const auto& u : urls) list += u.toUrl().toEncoded() + "\r\n";
            return list;
        }
        return urls;
    }
    return QMimeData::retrieveData(mimeType, type);
}

std::vector<std::string> LocalPaths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& u : data->urls())
        if (u.isLocalFile()) {
            QString p = u.toLocalFile();
            while (p.size() > 1 && p.endsWith('/')) p.chop(1);
            paths.push_back(p.toStdString());
        }
    return paths;
}

void ShowShellMenu(QWidget* parent, const std::vector<std::string>& paths, const QPoint& globalPos) {
    if (paths.empty()) return;
    QMenu menu(parent);
    menu.setObjectName("ShellMenu");
    QAction* open = menu.addAction(U("&Άνοιγμα με την προεπιλεγμένη εφαρμογή"));
    QAction* folder = menu.addAction(U("&Εμφάνιση του φακέλου"));
    QAction* chosen = menu.exec(globalPos);
    if (chosen == open) {
        for (const auto& p : paths) QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(p)));
    } else if (chosen == folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(QString::fromStdString(paths.front())).absolutePath()));
    }
}
