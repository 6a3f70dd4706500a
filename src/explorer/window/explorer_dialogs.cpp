#include "explorer/window/explorer_dialogs.h"

#include <QApplication>
#include <algorithm>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QSpacerItem>
#include <QTextBrowser>
#include <QTreeView>
#include <QVBoxLayout>

#include "device/language.h"
#include "opening/settings/config.h"
#include "explorer/window/text_qt.h"

// The help pages and the icons live in resources of this library; a
// static library's resources must be registered by name before use.
static void InitWindowResources() {
    static bool done = false;
    if (done) return;
    done = true;
    Q_INIT_RESOURCE(help);
    Q_INIT_RESOURCE(icons);
}

namespace {

// Places a dialog over its owner each time it is shown.
// A dialog at least as wide as its title, so that the window manager shows
// the title whole beside its buttons: a spacer of no height in the dialog's
// layout holds the width (the layouts fix the dialogs' sizes; an empty item
// takes no spacing, so the height stays).
void FitTitle(QWidget* dialog) {
    QLayout* layout = dialog->layout();
    if (!layout) return;
    QFont font = dialog->font();
    font.setBold(true);
    const QMargins m = layout->contentsMargins();
    const int width = std::max(0, TitleWidth(QFontMetrics(font), dialog->windowTitle()) - m.left() - m.right());
    auto* strut = reinterpret_cast<QSpacerItem*>(dialog->property("titleStrut").value<quintptr>());
    if (!strut) {
        strut = new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
        layout->addItem(strut);
        dialog->setProperty("titleStrut", QVariant::fromValue(quintptr(strut)));
    } else {
        strut->changeSize(width, 0, QSizePolicy::Fixed, QSizePolicy::Fixed);
        layout->invalidate();
    }
    layout->activate();
}

class DialogPlacer : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* dialog = static_cast<QWidget*>(watched);
            FitTitle(dialog);
            CentreWindow(dialog);
        }
        return false;
    }
};

QPushButton* AddButton(QMessageBox& box, const QString& text, QMessageBox::ButtonRole role) {
    return box.addButton(text, role);
}

// The language of the program: the environment's, or one chosen here. Each
// language is named in its own words too.
QComboBox* AddLanguageChoice(QWidget* parent, QVBoxLayout* layout) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(U("&Γλώσσα"), parent);
    auto* combo = new QComboBox(parent);
    combo->setObjectName("cbLanguage");
    label->setBuddy(combo);
    combo->addItem(U("Αυτόματα (από το περιβάλλον)"), QString());
    combo->addItem(U("Ελληνικά"), QStringLiteral("el"));
    combo->addItem(QStringLiteral("English"), QStringLiteral("en"));
    combo->addItem(QString::fromUtf8("日本語"), QStringLiteral("ja"));
    auto chosen = LanguageFromCode(SettingText("Language"));
    int index = chosen ? combo->findData(QString::fromLatin1(LanguageCode(*chosen))) : 0;
    combo->setCurrentIndex(index < 0 ? 0 : index);
    row->addWidget(label);
    row->addWidget(combo, 1);
    layout->addLayout(row);
    auto* note = new QLabel(U("Η γλώσσα αλλάζει στην επόμενη εκκίνηση."), parent);
    note->setObjectName("lblLanguageNote");
    layout->addWidget(note);
    return combo;
}

// Qt's own file dialog, in the window's words, in its detailed view and
// at a size that shows every column whole.
void PrepareChooser(QFileDialog& d, const QString& accept) {
    // The desktop's own chooser speaks the desktop's language, not the one
    // chosen for the program: Qt's speaks the program's.
    d.setOption(QFileDialog::DontUseNativeDialog, true);
    d.setLabelText(QFileDialog::LookIn, U("Αναζήτηση σε:"));
    d.setLabelText(QFileDialog::FileName, U("Όνομα αρχείου:"));
    d.setLabelText(QFileDialog::FileType, U("Τύπος αρχείων:"));
    d.setLabelText(QFileDialog::Accept, accept);
    d.setLabelText(QFileDialog::Reject, U("Ά&κυρο"));
    d.setViewMode(QFileDialog::Detail);
    const QFontMetrics fm(d.font());
    QSize wanted(fm.averageCharWidth() * 120, fm.height() * 32);
    if (QScreen* screen = d.parentWidget() ? d.parentWidget()->screen() : QGuiApplication::primaryScreen())
        wanted = wanted.boundedTo(screen->availableGeometry().size() * 9 / 10);
    d.resize(wanted);
    // The name column takes what the others leave.
    if (auto* list = d.findChild<QTreeView*>("treeView")) {
        list->header()->setStretchLastSection(false);
        list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int c = 1; c < list->header()->count(); ++c)
            list->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    }
}

}  // namespace

QIcon ProgramIcon() {
    InitWindowResources();
    QIcon icon;
    for (int size : {16, 32, 48, 128}) icon.addFile(QString(":/icons/voldex-%1.png").arg(size), QSize(size, size));
    return icon;
}

void CentreWindow(QWidget* window) {
    QWidget* owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    QScreen* screen = owner ? owner->screen() : window->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect();
    QRect over = owner && owner->isVisible() ? owner->frameGeometry() : area;
    QSize size = window->frameGeometry().size().expandedTo(window->size());
    QPoint at = over.center() - QPoint(size.width() / 2, size.height() / 2);
    if (area.isValid()) {
        at.setX(std::max(area.left(), std::min(at.x(), area.right() - size.width())));
        at.setY(std::max(area.top(), std::min(at.y(), area.bottom() - size.height())));
    }
    window->move(at);
}

void PrepareDialog(QDialog* dialog, int context) {
    InitWindowResources();
    if (context > 0) {
        auto* help = new QShortcut(QKeySequence::HelpContents, dialog);
        help->setObjectName("HelpShortcut");
        QObject::connect(help, &QShortcut::activated, dialog, [dialog, context] { ShowHelp(dialog, context); });
        dialog->setProperty("helpContext", context);
    }
    if (dialog->layout()) dialog->layout()->setSizeConstraint(QLayout::SetFixedSize);
    dialog->setSizeGripEnabled(false);
    dialog->installEventFilter(new DialogPlacer(dialog));
}

QString HelpResource() {
    switch (CurrentLanguage()) {
        case Language::English: return QStringLiteral(":/help/voldex-help.html");
        case Language::Japanese: return QStringLiteral(":/help/voldex-help-ja.html");
        default: return QStringLiteral(":/help/voldex-help-el.html");
    }
}

QDialog* ShowHelp(QWidget* parent, int context) {
    InitWindowResources();
    auto* window = new QDialog(parent);
    window->setObjectName("HelpWindow");
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(U("Βοήθεια - Voldex"));
    auto* layout = new QVBoxLayout(window);
    auto* browser = new QTextBrowser(window);
    browser->setObjectName("HelpBrowser");
    browser->setOpenExternalLinks(true);
    layout->addWidget(browser);
    auto* close = new QPushButton(U("&Κλείσιμο"), window);
    close->setObjectName("Button1");
    QObject::connect(close, &QPushButton::clicked, window, &QDialog::close);
    layout->addWidget(close, 0, Qt::AlignRight);
    window->resize(620, 480);
    window->installEventFilter(new DialogPlacer(window));
    window->show();
    // The page at its context: the section whose anchor is "ctxN".
    browser->setSource(QUrl(QString("qrc%1#ctx%2").arg(HelpResource()).arg(context)));
    return window;
}

int RunMessageBox(QWidget* parent, const QString& text, const QString& caption, int style) {
    QMessageBox box(parent);
    box.setObjectName("MessageBox");
    box.setWindowTitle(caption);
    box.setText(text);
    // A box at least as wide as its caption, so that the title bar shows
    // it whole beside the window manager's buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        QFont title = QApplication::font("QMdiSubWindowTitleBar");
        title.setBold(true);
        int width = QFontMetrics(title).horizontalAdvance(caption) + 140;
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    if (style == kBoxYesNoQuestion || style == kBoxYesNoWarning) {
        box.setIcon(style == kBoxYesNoQuestion ? QMessageBox::Question : QMessageBox::Warning);
        QPushButton* yes = AddButton(box, U("&Ναι"), QMessageBox::YesRole);
        QPushButton* no = AddButton(box, U("Ό&χι"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? kIdYes : kIdNo;
    }
    box.setIcon(style == kBoxStop ? QMessageBox::Critical : QMessageBox::NoIcon);
    QPushButton* ok = AddButton(box, "OK", QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return kIdOk;
}

QString ChooseOpenFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) {
    QFileDialog d(parent, caption, folder, filter);
    d.setObjectName("OpenDialog");
    d.setFileMode(QFileDialog::ExistingFile);
    d.setOption(QFileDialog::ReadOnly, false);
    PrepareChooser(d, U("&Άνοιγμα"));
    return d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty() ? d.selectedFiles().front() : QString();
}

QStringList ChooseOpenFiles(QWidget* parent, const QString& caption, const QString& folder, const QString& filter) {
    QFileDialog d(parent, caption, folder, filter);
    d.setObjectName("OpenDialog");
    d.setFileMode(QFileDialog::ExistingFiles);
    PrepareChooser(d, U("&Άνοιγμα"));
    return d.exec() == QDialog::Accepted ? d.selectedFiles() : QStringList();
}

QString ChooseFolder(QWidget* parent, const QString& caption, const QString& folder) {
    QFileDialog d(parent, caption, folder);
    d.setObjectName("FolderDialog");
    d.setFileMode(QFileDialog::Directory);
    d.setOption(QFileDialog::ShowDirsOnly, true);
    PrepareChooser(d, U("&Επιλογή"));
    return d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty() ? d.selectedFiles().front() : QString();
}

namespace {

// The buttons of a list the user reads before going on: "Close" as the
// default and, when `offer`, a button that accepts the dialog. The dialog
// is prepared and shown; true when it was accepted.
bool RunWithCloseButton(QDialog& form, QVBoxLayout* layout, bool offer, const char* acceptText, const char* acceptName) {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    if (offer) {
        auto* accept = new QPushButton(U(acceptText), &form);
        accept->setObjectName(acceptName);
        buttons->addWidget(accept);
        QObject::connect(accept, &QPushButton::clicked, &form, &QDialog::accept);
    }
    auto* close = new QPushButton(U("&Κλείσιμο"), &form);
    close->setObjectName("BtnClose");
    close->setDefault(true);
    buttons->addWidget(close);
    QObject::connect(close, &QPushButton::clicked, &form, &QDialog::reject);
    layout->addLayout(buttons);
    PrepareDialog(&form, 0);
    return form.exec() == QDialog::Accepted && offer;
}

}  // namespace

bool ShowConversionLosses(QWidget* parent, const std::vector<std::string>& lines, bool canDrop) {
    QDialog form(parent);
    form.setObjectName("TConvertLossForm");
    form.setWindowTitle(U("Μετατροπή εικόνας"));
    auto* layout = new QVBoxLayout(&form);
    auto* text = new QLabel(U("Η εικόνα-στόχος δεν μπορεί να κρατήσει:"), &form);
    text->setObjectName("Label");
    layout->addWidget(text);
    auto* list = new QListWidget(&form);
    list->setObjectName("LossList");
    for (const auto& l : lines) list->addItem(QString::fromStdString(l));
    list->setMinimumSize(760, 200);
    layout->addWidget(list);
    return RunWithCloseButton(form, layout, canDrop, "Μετατροπή &παρ' όλα αυτά", "BtnConvertAnyway");
}

QString ChooseSaveFile(QWidget* parent, const QString& caption, const QString& file, const QString& filter,
                       QString* chosenFilter) {
    QFileDialog d(parent, caption, file, filter);
    d.setObjectName("SaveDialog");
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setFileMode(QFileDialog::AnyFile);
    PrepareChooser(d, U("&Αποθήκευση"));
    if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return QString();
    if (chosenFilter) *chosenFilter = d.selectedNameFilter();
    return d.selectedFiles().front();
}

QString TOverWriteForm::DateText(const SystemTime& t) {
    return QString::asprintf("%d/%d/%d %d:%d:%d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

TOverWriteForm::TOverWriteForm(QWidget* parent, const std::string& existingName, const SystemTime& existingTime,
                               const std::string& incomingName, const SystemTime& incomingTime)
    : QDialog(parent) {
    setObjectName("TOverWriteForm");
    setWindowTitle(U("Επιβεβαίωση αντικατάστασης"));
    auto* layout = new QVBoxLayout(this);
    QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    auto item = [&](const std::string& name, const SystemTime& t, const char* nameId, const char* dateId) {
        auto* row = new QHBoxLayout;
        auto* pic = new QLabel(this);
        pic->setPixmap(fileIcon.pixmap(32, 32));
        row->addWidget(pic);
        auto* col = new QVBoxLayout;
        auto* n = new QLabel(Q(name), this);
        n->setObjectName(nameId);
        n->setTextFormat(Qt::PlainText);
        auto* d = new QLabel(DateText(t), this);
        d->setObjectName(dateId);
        col->addWidget(n);
        col->addWidget(d);
        row->addLayout(col, 1);
        layout->addLayout(row);
    };
    layout->addWidget(new QLabel(U("Υπάρχει ήδη ένα αρχείο με αυτό το όνομα!"), this));
    item(existingName, existingTime, "lblOriginalFileName", "lblOriginalDate");
    layout->addWidget(new QLabel(U("Θέλετε να το αντικαταστήσετε με το παρακάτω αρχείο;"), this));
    item(incomingName, incomingTime, "lblNewFileName", "lblNewDate");
    auto button = [&](const QString& text, const char* id, OverwriteAnswer a) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(id);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, a] {
            answer_ = a;
            accept();
        });
        return b;
    };
    auto* top = new QHBoxLayout;
    top->addWidget(button(U("&Ναι"), "btnYes", owYes));
    top->addWidget(button(U("Ναι σε ό&λα"), "btnAllYes", owYesToAll));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(button(U("Ό&χι"), "btnNo", owNo));
    bottom->addWidget(button(U("Όχι &σε όλα"), "btnAllNo", owNoToAll));
    bottom->addWidget(button(U("Ά&κυρο"), "btnCancel", owCancel));
    layout->addLayout(top);
    layout->addLayout(bottom);
    PrepareDialog(this, kHelpOverwrite);
}

std::vector<TConfigForm::Box> TConfigForm::Boxes() {
    return {
        {"SkipTypeSelect", "CBSkipTypeSelect", U("Παράλειψη επιλογής προφίλ"), false},
        {"AutoHDDSingle", "CBAutoHDDSingle", U("Επιλογή πρώτου partition όταν ο σκληρός δίσκος έχει μόνο ένα"), false},
        {"AutoHDDFirst", "CBAutoHDDFirst", U("Επιλογή πρώτου partition"), false},
        {"NotifyExtract", "CBNotifyExtract", U("Ειδοποίηση ολοκλήρωσης εξαγωγής"), false},
        {"MovingDialog", "CBMovingDialog", U("Επιβεβαίωση εξαγωγής αρχείου"), false},
        {"ImportDialog", "CBImportDialog", U("Επιβεβαίωση εισαγωγής αρχείου"), false},
        {"DnDMode", "CBDnDMode", U("Η επιλεγμένη λειτουργία D&&D είναι εσωτερική"), false},
        {"ExitOnCancel", "CBExitOnCancel", U("Έξοδος με το πρώτο Άκυρο"), false},
        {"ShowExtendingTree", "CBShowExtending", U("Εμφάνιση καταλόγων και δενδροειδούς μορφής"), true},
        {"LongNames", "CBLongNames", U("Μακριά ονόματα αρχείων σε τόμους FAT"), true},
    };
}

TConfigForm::TConfigForm(QWidget* parent) : QDialog(parent) {
    setObjectName("TConfigForm");
    setWindowTitle(U("Ρυθμίσεις"));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(U("Γενικές ρυθμίσεις"), this);
    auto* groupLayout = new QVBoxLayout(group);
    list_ = Boxes();
    for (const Box& b : list_) {
        auto* box = new QCheckBox(b.caption, this);
        box->setObjectName(b.name);
        boxes_.push_back(box);
        if (b.grouped) groupLayout->addWidget(box);
        else layout->addWidget(box);
    }
    layout->addWidget(group);
    language_ = AddLanguageChoice(this, layout);
    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton("&OK", this);
    ok->setObjectName("Button1");
    ok->setDefault(true);
    auto* cancel = new QPushButton(U("Ά&κυρο"), this);
    cancel->setObjectName("Button2");
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    LoadFromSettings();
    PrepareDialog(this, kHelpSettings);
}

void TConfigForm::LoadFromSettings() {
    // LongNames reads as on when the file does not say otherwise.
    for (std::size_t k = 0; k < list_.size(); ++k)
        boxes_[k]->setChecked(std::string(list_[k].key) == "LongNames" ? LongNamesSetting() : Setting(list_[k].key) != 0);
}

std::vector<std::pair<std::string, int>> TConfigForm::Values() const {
    std::vector<std::pair<std::string, int>> v;
    for (std::size_t k = 0; k < list_.size(); ++k) v.emplace_back(list_[k].key, boxes_[k]->isChecked() ? 1 : 0);
    return v;
}

void TConfigForm::SetValues(const std::vector<std::pair<std::string, int>>& values) {
    for (const auto& [key, value] : values)
        if (QCheckBox* box = CheckBox(key)) box->setChecked(value != 0);
}

std::string TConfigForm::ChosenLanguage() const { return language_->currentData().toString().toStdString(); }

QCheckBox* TConfigForm::CheckBox(const std::string& key) const {
    for (std::size_t k = 0; k < list_.size(); ++k)
        if (key == list_[k].key) return boxes_[k];
    return nullptr;
}

TMsgForm::TMsgForm(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("TMsgForm");
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label1->setTextFormat(Qt::PlainText);
    // A long name is clipped; the window keeps its size.
    Label1->setFixedWidth(377);
    Label1->setMinimumHeight(Label1->fontMetrics().height() + 6);
    layout->addWidget(Label1);
    PrepareDialog(this, 0);
}

void TMsgForm::SetTitle(const QString& text) {
    setWindowTitle(text);
    repaint();
}

void TMsgForm::SetLine(const QString& text) {
    Label1->setText(text);
    Label1->repaint();
}

QString TMsgForm::Line() const { return Label1->text(); }

void TMsgForm::ShowCount(std::size_t done, std::size_t total, const QString& text) {
    if (!Bar) {
        Count = new QLabel(this);
        Count->setObjectName("CountLabel");
        Count->setTextFormat(Qt::PlainText);
        Bar = new QProgressBar(this);
        Bar->setObjectName("ProgressBar");
        Bar->setTextVisible(false);
        auto* box = static_cast<QVBoxLayout*>(layout());
        box->insertWidget(0, Count);
        box->insertWidget(2, Bar);
    }
    Bar->setRange(0, int(std::min<std::size_t>(total, 1u << 30)));
    Bar->setValue(int(std::min(done, total)));
    Count->setText(text);
    Bar->repaint();
    Count->repaint();
}

void TMsgForm::AllowCancel() {
    if (Cancel) return;
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    Cancel = new QPushButton(U("Ά&κυρο"), this);
    Cancel->setObjectName("CancelButton");
    row->addWidget(Cancel);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
    connect(Cancel, &QPushButton::clicked, this, [this] {
        cancelAsked_ = true;
        Cancel->setEnabled(false);
    });
    // While the operation runs, the rest of the program waits: only this
    // window takes the user's input.
    setWindowModality(Qt::ApplicationModal);
}

void TMsgForm::keyPressEvent(QKeyEvent* event) {
    // Escape would close the window and leave the operation running.
    if (event->key() == Qt::Key_Escape) {
        if (Cancel && Cancel->isEnabled()) Cancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool ShowRepairFindings(QWidget* parent, const std::vector<std::string>& lines, bool offerRepair) {
    QDialog form(parent);
    form.setObjectName("TRepairForm");
    form.setWindowTitle(Msg(1523));
    auto* layout = new QVBoxLayout(&form);
    auto* list = new QListWidget(&form);
    list->setObjectName("FindingList");
    // A finding with its plan is often wider than the dialog: each line
    // wraps to the list's width instead of running off to the side.
    list->setWordWrap(true);
    list->setTextElideMode(Qt::ElideNone);
    list->setResizeMode(QListView::Adjust);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    for (const auto& l : lines) list->addItem(QString::fromStdString(l));
    list->setMinimumSize(760, 200);
    layout->addWidget(list);
    if (offerRepair) {
        auto* text = new QLabel(Msg(1524, {unsigned(lines.size())}), &form);
        text->setObjectName("Label");
        text->setWordWrap(true);
        layout->addWidget(text);
    }
    return RunWithCloseButton(form, layout, offerRepair, "&Επισκευή", "BtnRepair");
}
